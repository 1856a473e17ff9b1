#pragma once

class QApplication;

namespace tarlivo::ui {

// German for every text Qt itself shows (dialog buttons: "Abbrechen", not "Cancel").
void installGermanTranslation(QApplication &app);

} // namespace tarlivo::ui
