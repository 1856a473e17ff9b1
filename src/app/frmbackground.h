#pragma once

#include "ui/form.h"

#include <map>

class QFileSystemWatcher;
class QLabel;
class QMenuBar;
class QTimer;

namespace tarlivo::app {

// The maximised light-yellow backdrop behind all other windows, carrying the menu
// bar of the functions beyond the designed windows.
class FrmBackground : public ui::Form {
    Q_OBJECT
public:
    static constexpr ui::WindowId kId = ui::WindowId::Background;
    static const ui::FormDesign &layout();
    FrmBackground(ui::Session &session, ui::Navigator &navigator);
    // The menu bar along the top edge; it shows once the backdrop is on screen.
    void setMenuBar(QMenuBar *bar);
    // The status line along the bottom edge: what is due today.
    QLabel *statusLine() const { return m_status; }
    // The part of the screen between the menu bar and the status line, in screen
    // coordinates: where the other windows open.
    QRect freeArea() const;
    // The sync's part of the status line: when the last sync was, any problem.
    void setSyncStatus(const QString &text);

signals:
    // The first window is on screen and the status line filled.
    void onScreen();

protected:
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    // Invoked by name, queued: the functor form allocates inside Qt's header, where
    // the analyzer loses sight of who frees it.
    Q_INVOKABLE void placeMenuBar();
    Q_INVOKABLE void placeStatusLine();
    // Changes come in bursts (an import, a deletion): one count after them, never
    // inside the change's own path.
    void recountLater();
    void recount();
    // A few cards changed (a verdict, an edit): the counts follow them card by card,
    // at the cost of a look-up each, so that a practice step never waits for a count.
    void follow(const store::Change &change);
    void showCounts();
    // The due counts' part of the line.
    void showText(const QString &text);
    void showLine();
    // The file was written: counted afresh when another running copy wrote it.
    void fileWritten();
    // The day changes at 04:00; the line then counts again.
    void armDayChange();

    QMenuBar *m_bar = nullptr;
    QLabel *m_status = nullptr;
    QTimer *m_recount = nullptr;
    QTimer *m_dayChange = nullptr;
    QFileSystemWatcher *m_watch = nullptr;
    qint64 m_dataVersion = -1; // the store's data version when last counted
    bool m_onScreen = false;   // filled only once the first window showed
    bool m_counted = false;    // m_due holds the counts of learning day m_countedDay
    qint64 m_countedDay = 0;
    std::map<qint32, qint64> m_due; // subject -> cards due now
    QString m_dueText;
    QString m_syncText;
};

} // namespace tarlivo::app
