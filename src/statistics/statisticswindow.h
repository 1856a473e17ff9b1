#pragma once

#include "store/store.h"

#include <QWidget>

#include <optional>

class QComboBox;
class QLabel;
class QPushButton;

namespace tarlivo::ui {
class Dialogs;
class Session;
} // namespace tarlivo::ui

namespace tarlivo::windows {
class ChartView;

// How practice stands, for one subject or for all: the figures, the cards in each
// compartment and the verdicts of the last 30 days; saved as a picture on request.
class StatisticsWindow : public QWidget {
    Q_OBJECT

public:
    static constexpr int kDays = 30;

    explicit StatisticsWindow(ui::Session &session, QWidget *parent = nullptr);
    ~StatisticsWindow() override;

    // The subject shown; empty for "Alle Gebiete".
    std::optional<qint32> currentSubject() const;
    // The figures as last read (once shown or given a subject).
    const store::Statistics &statistics() const { return m_statistics; }

public slots:
    // Reads subjects and figures afresh, after another window changed the file.
    void refresh();
    void showSubject(std::optional<qint32> subjectId);
    // Asks for a file name and writes both charts there, as PNG or SVG by its ending.
    void saveImage();

protected:
    void showEvent(QShowEvent *event) override;

private:
    // Tests and benchmarks find them by objectName, as named here.
    QComboBox *cboGebiet;
    QLabel *lblKarten;
    QLabel *lblHeute;
    QLabel *lblFolge;
    ChartView *chartFaecher;
    ChartView *chartTage;
    ChartView *chartPrognose;
    QPushButton *cmdSpeichern;
    QPushButton *cmdSchliessen;

    void fillSubjects(std::optional<qint32> keep);
    bool selectSubject(std::optional<qint32> subjectId);
    void load();

    store::Store &store() const;

    ui::Session &m_session;
    ui::Dialogs &m_dialogs;
    store::Statistics m_statistics;
    bool m_stale = true;          // nothing read yet
    bool m_subjectsStale = false; // subjects added, renamed or deleted while hidden
};

} // namespace tarlivo::windows
