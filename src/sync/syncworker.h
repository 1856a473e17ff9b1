#pragma once

// The scheduler's jobs, on its thread. Only the scheduler includes it.

#include "store/store.h"
#include "sync/runwording.h"
#include "sync/sync.h"

#include <QObject>
#include <QThread>

#include <memory>

namespace tarlivo::sync {

// What one sync on the worker thread came to.
struct SyncResult {
    std::optional<Outcome> outcome;
    QString problem;
    bool idle = false; // nothing waited, nothing done
};

// The jobs, on the worker thread. What it holds stays with it: at the end of a wait
// that ran out it outlives the scheduler.
class SyncWorker : public QObject {
    Q_OBJECT
public:
    SyncWorker(QString dataFile, store::StoreOptions options)
        : m_dataFile(std::move(dataFile)), m_options(std::move(options))
    {
        // The windows' connection keeps the day's copy.
        m_options.backups = false;
        // Asked from the scheduler's thread, run on this one's, in order.
        connect(this, &SyncWorker::runAsked, this, &SyncWorker::run);
        connect(this, &SyncWorker::endAsked, this, &SyncWorker::end);
    }

    void run(const QString &folder, bool onlyPending) { emit done(work(folder, onlyPending)); }
    // The last job: a sync when changes wait, then the thread ends.
    void end(const QString &folder)
    {
        if (!folder.isEmpty())
            work(folder, true);
        m_store.reset();
        QThread::currentThread()->quit();
    }

signals:
    void runAsked(const QString &folder, bool onlyPending);
    void endAsked(const QString &folder);
    void done(const tarlivo::sync::SyncResult &result);

private:
    SyncResult work(const QString &folder, bool onlyPending)
    {
        SyncResult result;
        try {
            if (!m_store)
                m_store = store::Store::open(m_dataFile, m_options);
            if (m_store->isReadOnly())
                throw store::StoreError(store::StoreErrorKind::ReadOnly, m_dataFile);
            if (onlyPending && !hasPendingChanges(*m_store)) {
                result.idle = true;
                return result;
            }
            result.outcome = syncNow(*m_store, folder);
        } catch (const SyncError &error) {
            result.problem = error.message;
        } catch (const store::StoreError &error) {
            result.problem = text::storeProblem(error);
            // Opened afresh next time: the file may have been replaced meanwhile.
            m_store.reset();
        }
        return result;
    }

    const QString m_dataFile;
    store::StoreOptions m_options;
    std::unique_ptr<store::Store> m_store;
};

} // namespace tarlivo::sync
