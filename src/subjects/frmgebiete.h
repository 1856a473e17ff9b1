#pragma once

#include "ui/form.h"

#include <optional>

namespace tarlivo::ui {
class CommandButton;
class ComboBox;
} // namespace tarlivo::ui

namespace tarlivo::windows {
// The choice of subject, for either road, and the upkeep of subjects.
class FrmGebiete : public ui::Form {
    Q_OBJECT
public:
    static constexpr ui::WindowId kId = ui::WindowId::Gebiete;
    static const ui::FormDesign &layout();
    FrmGebiete(ui::Session &session, ui::Navigator &navigator, ui::Road road);

    // Connects to the database and fills the list for the road.
    void formLoad() override;
    // False when the load could not open the database.
    bool isConnected() const { return m_connected; }

    ui::Road road() const { return m_road; }
    // The road decides what the next fill lists and where taking a subject leads.
    void setRoad(ui::Road road) { m_road = road; }
    // Hides the upkeep buttons the road does not offer.
    void setUpkeep(ui::Upkeep upkeep);

private:
    // Tells the other windows of a subject added or renamed here.
    void tellSubject(std::optional<store::SubjectRow> before, std::optional<store::SubjectRow> after);
    void FillGebiete();
    bool GebietExists(const QString &name);
    // Asks for a subject name, blanks around it dropped, and runs the checks in their
    // order: empty, a number, taken (by another subject than the one renaming).
    // Empty after telling the user why.
    std::optional<QString> askNewName(const QString &prompt, const QString &title, const QString &numbersMessage,
                                      const QString &renaming = QString());
    void cmdUebernahmeGebiet_Click();
    void cmdGebietNeu_Click();
    void cmdGebietEdit_Click();

    ui::CommandButton *cmdGebietEdit;
    ui::CommandButton *cmdUebernahmeGebiet;
    ui::CommandButton *cmdGebietNeu;
    ui::ComboBox *cmbGebiet;

    ui::Road m_road;
    bool m_connected = false;
};

} // namespace tarlivo::windows
