#pragma once

#include "shell/form.h"

#include <optional>

namespace tarlivo::ui {

class CommandButton;
class ComboBox;

// The choice of subject, for either road, and the upkeep of subjects.
class FrmGebiete : public Form {
    Q_OBJECT
public:
    static const FormDesign &layout();
    explicit FrmGebiete(Forms &forms);

    // Connects to the database and fills the list.
    void formLoad() override;
    // False when the load could not open the database.
    bool isConnected() const { return m_connected; }

    CommandButton *cmdGebietEdit;
    CommandButton *cmdUebernahmeGebiet;
    CommandButton *cmdGebietNeu;
    ComboBox *cmbGebiet;

private:
    void FillGebiete();
    bool GebietExists(const QString &name);
    // Asks for a subject name and runs the checks in their order: empty, a number,
    // taken. Empty after telling the user why.
    std::optional<QString> askNewName(const QString &prompt, const QString &title, const QString &numbersMessage);
    void cmdUebernahmeGebiet_Click();
    void cmdGebietNeu_Click();
    void cmdGebietEdit_Click();

    bool m_connected = false;
};

} // namespace tarlivo::ui
