#pragma once

class QApplication;

namespace tarlivo::app {

// German for every text Qt itself shows (dialog buttons: "Abbrechen", not "Cancel").
void installGermanTranslation(QApplication &app);

} // namespace tarlivo::app
