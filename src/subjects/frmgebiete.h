#pragma once

#include "ui/form.h"

#include <optional>

namespace tarlivo::ui {

class CommandButton;
class ComboBox;

// The choice of subject, for either road, and the upkeep of subjects.
class FrmGebiete : public Form {
    Q_OBJECT
public:
    static constexpr WindowId kId = WindowId::Gebiete;
    static const FormDesign &layout();
    FrmGebiete(Session &session, Navigator &navigator, Road road);

    // Connects to the database and fills the list for the road.
    void formLoad() override;
    // False when the load could not open the database.
    bool isConnected() const { return m_connected; }

    Road road() const { return m_road; }
    // The road decides what the next fill lists and where taking a subject leads.
    void setRoad(Road road) { m_road = road; }
    // Hides the upkeep buttons the road does not offer.
    void setUpkeep(Upkeep upkeep);

private:
    // Tells the other windows of a subject added or renamed here.
    void tellSubject(std::optional<SubjectRow> before, std::optional<SubjectRow> after);
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

    CommandButton *cmdGebietEdit;
    CommandButton *cmdUebernahmeGebiet;
    CommandButton *cmdGebietNeu;
    ComboBox *cmbGebiet;

    Road m_road;
    bool m_connected = false;
};

} // namespace tarlivo::ui
