#pragma once

#include "store/store.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace tarlivo::transfer {

// Reads an import's cards on a thread of its own while the store writes those read
// before: with two cores the import takes the longer of the two, not their sum.
// At most a few hundred cards (and a few megabytes of pictures and sounds) wait.
class ReadAhead {
public:
    explicit ReadAhead(std::function<bool(store::BulkCard &)> read);
    ~ReadAhead(); // stops the reading and waits for it
    ReadAhead(const ReadAhead &) = delete;
    ReadAhead &operator=(const ReadAhead &) = delete;

    // The next card, in the order read; false at the end. Throws what the reading threw.
    bool next(store::BulkCard &card);

private:
    void run();

    std::function<bool(store::BulkCard &)> m_read;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::vector<store::BulkCard>> m_ready;
    bool m_ended = false;   // the reading is through, or failed
    bool m_stopped = false; // nobody takes more
    std::exception_ptr m_error;
    std::vector<store::BulkCard> m_taking; // the chunk next() hands out
    size_t m_taken = 0;
    std::thread m_thread; // last, so that it starts with the rest in place
};

} // namespace tarlivo::transfer
