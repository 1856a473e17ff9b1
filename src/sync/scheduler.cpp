#include "sync/scheduler.h"

#include "texts/wording.h"

#include <QDeadlineTimer>
#include <QLocale>
#include <QThread>
#include <QTimer>

namespace tarlivo::sync {

namespace text {

QString outcomeSummary(const Outcome &outcome)
{
    if (outcome.applied == 0 && outcome.written == 0)
        return QStringLiteral("nichts Neues");
    const QLocale german(QLocale::German);
    return QStringLiteral("%1 übernommen, %2 geschrieben")
        .arg(outcome.applied == 1 ? QStringLiteral("1 Änderung")
                                  : QStringLiteral("%1 Änderungen").arg(german.toString(outcome.applied)),
             german.toString(outcome.written));
}

QString syncedAt(const QDateTime &at)
{
    const QDateTime local = at.toLocalTime();
    const QString time = local.toString(QStringLiteral("HH:mm"));
    if (local.date() == QDate::currentDate())
        return QStringLiteral("Abgeglichen um %1").arg(time);
    return QStringLiteral("Abgeglichen am %1 um %2").arg(local.toString(QStringLiteral("dd.MM.yyyy")), time);
}

QString storeProblem(const StoreError &error)
{
    QString reason = texts::storeReason(error);
    if (reason.isEmpty())
        reason = QStringLiteral("Die Datenbank meldet: %1").arg(error.detail());
    return QStringLiteral("Die Datendatei %1 kann nicht abgeglichen werden. %2")
        .arg(texts::quoted(error.path()), reason);
}

QString folderMissing(const QString &folder)
{
    return QStringLiteral("Den Abgleichordner %1 gibt es nicht (oder er ist kein Ordner).").arg(texts::quoted(folder));
}

} // namespace text

// The jobs, on the worker thread. What it holds stays with it: at the end of a wait
// that ran out it outlives the scheduler.
class SyncWorker : public QObject {
    Q_OBJECT
public:
    SyncWorker(QString dataFile, StoreOptions options) : m_dataFile(std::move(dataFile)), m_options(std::move(options))
    {
        // The windows' connection keeps the day's copy.
        m_options.backups = false;
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
    void done(const tarlivo::sync::SyncResult &result);

private:
    SyncResult work(const QString &folder, bool onlyPending)
    {
        SyncResult result;
        try {
            if (!m_store)
                m_store = Store::open(m_dataFile, m_options);
            if (m_store->isReadOnly())
                throw StoreError(StoreErrorKind::ReadOnly, m_dataFile);
            if (onlyPending && !hasPendingChanges(*m_store)) {
                result.idle = true;
                return result;
            }
            result.outcome = syncNow(*m_store, folder);
        } catch (const SyncError &error) {
            result.problem = error.message;
        } catch (const StoreError &error) {
            result.problem = text::storeProblem(error);
            // Opened afresh next time: the file may have been replaced meanwhile.
            m_store.reset();
        }
        return result;
    }

    const QString m_dataFile;
    StoreOptions m_options;
    std::unique_ptr<Store> m_store;
};

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
    SyncWorker *worker = m_worker;
    QMetaObject::invokeMethod(
        worker, [worker, folder = m_folder, onlyPending] { worker->run(folder, onlyPending); }, Qt::QueuedConnection);
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
    SyncWorker *worker = m_worker;
    QMetaObject::invokeMethod(
        worker, [worker, folder = m_folder] { worker->end(folder); }, Qt::QueuedConnection);
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

#include "scheduler.moc"
