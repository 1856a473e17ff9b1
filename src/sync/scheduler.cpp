#include "sync/scheduler.h"

#include "sync/syncworker.h"

#include <QDeadlineTimer>
#include <QThread>
#include <QTimer>

using namespace tarlivo::store;

namespace tarlivo::sync {

Scheduler::Scheduler(Setup setup, QObject *parent)
    : QObject(parent), m_setup(std::move(setup)), m_timer(new QTimer(this))
{
    m_timer->setTimerType(Qt::VeryCoarseTimer);
    m_timer->setInterval(m_setup.every);
    connect(m_timer, &QTimer::timeout, this, [this] { post(true); });
}

Scheduler::~Scheduler() { finish(); }

void Scheduler::setFolder(const QString &folder)
{
    if (m_ended)
        return;
    m_folder = folder;
    if (m_folder.isEmpty())
        m_timer->stop();
    else
        m_timer->start();
}

void Scheduler::syncNow()
{
    if (m_ended || m_folder.isEmpty())
        return;
    if (m_running) {
        m_again = true;
        return;
    }
    post(false);
}

void Scheduler::post(bool onlyPending)
{
    // A look at the clock while one runs: the next look comes soon enough.
    if (m_ended || m_folder.isEmpty() || m_running)
        return;
    m_running = true;
    if (!m_thread) {
        m_thread = std::make_unique<QThread>();
        m_thread->setObjectName(QStringLiteral("Abgleich"));
        m_worker = new SyncWorker(m_setup.dataFile, m_setup.storeOptions);
        m_worker->moveToThread(m_thread.get());
        // Queued, and dropped once the scheduler is gone.
        connect(m_worker, &SyncWorker::done, this, &Scheduler::done);
        m_thread->start(QThread::LowPriority);
    }
    if (!onlyPending)
        emit started();
    // Through a signal: invokeMethod allocates inside Qt's header, where the analyzer
    // loses sight of who frees it.
    emit m_worker->runAsked(m_folder, onlyPending);
}

void Scheduler::done(const SyncResult &result)
{
    m_running = false;
    if (!result.idle) {
        if (result.outcome) {
            m_last = result.outcome;
            m_problem.clear();
        } else {
            m_problem = result.problem;
        }
        emit finished();
        if (result.outcome && result.outcome->applied > 0)
            emit merged();
    }
    if (std::exchange(m_again, false))
        post(false);
}

QString Scheduler::status() const
{
    if (m_folder.isEmpty())
        return {};
    QStringList parts;
    if (m_last) {
        parts << text::syncedAt(m_last->at);
        parts << m_last->notes;
    }
    if (!m_problem.isEmpty())
        parts << QStringLiteral("Abgleich fehlgeschlagen: ") + m_problem;
    return parts.join(QStringLiteral(" – "));
}

bool Scheduler::finish()
{
    if (m_ended)
        return true;
    m_ended = true;
    m_timer->stop();
    if (!m_thread)
        return true;
    // Jobs run in order: the last sync after the one running, then the thread ends.
    emit m_worker->endAsked(m_folder);
    if (m_thread->wait(QDeadlineTimer(m_setup.endWait))) {
        delete m_worker;
        m_worker = nullptr;
        m_thread.reset();
        return true;
    }
    // A folder that hangs (a network share gone): the thread is left to end with the
    // process, and the worker with it. The data file is as before or after that sync,
    // as after a kill.
    disconnect(m_worker, nullptr, this, nullptr);
    m_worker = nullptr;
    (void)m_thread.release();
    return false;
}

} // namespace tarlivo::sync
