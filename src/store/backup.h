#pragma once

#include "store/storeerror.h"

#include <QString>

#include <atomic>
#include <memory>
#include <optional>
#include <thread>

namespace tarlivo::store::backup {

// The day's copy of a data file, taken on a connection and a thread of its own
// while the program opens its windows, so that the first change of the day need
// not wait for a whole file to be copied. The copy lies under a temporary name
// until that change claims it; a copy nobody claims (the day brought no change)
// is removed, so copies keep standing for days with changes.
class Job {
public:
    // Starts copying source into temp (a fresh temporary beside target).
    Job(QString source, QString target, QString temp, int busyTimeoutMs);
    // Stops a copy still running and removes a copy nobody claimed.
    ~Job();
    Job(const Job &) = delete;
    Job &operator=(const Job &) = delete;

    const QString &target() const { return m_target; }
    // Waits until the copy is taken (or has failed).
    void wait();
    // The copy is taken (or has failed): a write now no longer makes it start over.
    bool done() const { return m_done; }
    // Waits for the copy, then gives it its final name when it still shows the file
    // as it stands (nothing was written since it was taken) and no copy of that name
    // exists. Returns false when the copy could not serve (make one now instead);
    // throws the StoreError of a failed copy.
    bool claim();

    // The job copying to target in this process, if one is under way or waiting.
    static std::shared_ptr<Job> find(const QString &target);
    static std::shared_ptr<Job> start(const QString &source, const QString &target, const QString &temp,
                                      int busyTimeoutMs);

private:
    void run();

    QString m_source;
    QString m_target;
    QString m_temp;
    int m_busyTimeoutMs;
    std::atomic<bool> m_cancel{false};
    std::atomic<bool> m_done{false};
    std::optional<StoreError> m_error;
    std::optional<quint32> m_counter; // the source's change counter the copy shows
    bool m_claimed = false;
    std::thread m_thread;
};

// Copies the database at source into a new file temp, page by page through SQLite,
// at once; throws StoreError. Returns the source's change counter the copy shows
// when no writer came between (none when one did).
std::optional<quint32> copyDatabase(const QString &source, const QString &temp, int busyTimeoutMs,
                                    const std::atomic<bool> *cancel = nullptr);

// The change counter in the header of an SQLite file in rollback mode: every
// committed write raises it.
std::optional<quint32> changeCounter(const QString &path);

} // namespace tarlivo::store::backup
