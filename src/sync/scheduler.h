#pragma once

// When the program syncs: on request, after its first window is on screen, every few
// minutes while changes wait, and when it ends. One sync at a time, on a thread of its
// own with a store connection of its own, so that the windows never wait for the
// folder; they see its changes as they see another running copy's. Qt Core only.

#include "store/store.h"
#include "sync/sync.h"

#include <QDateTime>
#include <QObject>
#include <QString>

#include <chrono>
#include <memory>
#include <optional>

class QThread;
class QTimer;

namespace tarlivo::sync {

class SyncWorker;

struct SyncResult;

class Scheduler : public QObject {
    Q_OBJECT
public:
    struct Setup {
        QString dataFile;
        store::StoreOptions storeOptions;
        // While changes wait, a sync this often.
        std::chrono::milliseconds every = std::chrono::minutes(5);
        // At the end, the sync running and a last one get that long.
        std::chrono::milliseconds endWait = std::chrono::seconds(10);
    };

    explicit Scheduler(Setup setup, QObject *parent = nullptr);
    // Ends as finish() does.
    ~Scheduler() override;
    Scheduler(const Scheduler &) = delete;
    Scheduler &operator=(const Scheduler &) = delete;

    // The folder to sync with; empty: none, and nothing runs from then on.
    void setFolder(const QString &folder);
    const QString &folder() const { return m_folder; }

    // A sync now; while one runs, one more after it.
    void syncNow();
    // A sync runs or waits to.
    bool busy() const { return m_running; }

    // The last sync that completed in this run.
    const std::optional<Outcome> &lastOutcome() const { return m_last; }
    // Why the last sync failed; empty once one completed after it.
    const QString &problem() const { return m_problem; }
    // For the status line: when the last sync was, what it skipped and any problem;
    // empty without a folder or before the first sync ended.
    QString status() const;

    // The program ends: the sync running, and one more when changes wait, are waited
    // for at most endWait; nothing is started afterwards. False when the wait ran out
    // (the data file is then left as before or after that sync, as after a kill).
    bool finish();

signals:
    void started();
    // A sync ended, done or failed: lastOutcome, problem and status tell.
    void finished();
    // Another machine's changes came into the data file.
    void merged();

private:
    void post(bool onlyPending);
    void done(const SyncResult &result);

    const Setup m_setup;
    QString m_folder;
    QTimer *m_timer;
    std::unique_ptr<QThread> m_thread;
    SyncWorker *m_worker = nullptr; // lives in m_thread, with its own store connection
    bool m_running = false;
    bool m_again = false;
    bool m_ended = false;
    std::optional<Outcome> m_last;
    QString m_problem;
};

} // namespace tarlivo::sync
