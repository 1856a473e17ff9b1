#pragma once

class QWidget;

namespace tarlivo::ui {

class Session;

// Takes the file of the older Access-based program at the data file's place over into
// a new store, with a progress window while it reads and one message telling what was
// taken over and where the old file now lies; then connects to the new store. False
// after telling the user why not: the old file is then untouched.
bool takeOverLegacyFile(Session &session, QWidget *parent);

} // namespace tarlivo::ui
