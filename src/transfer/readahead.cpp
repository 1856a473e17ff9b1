#include "transfer/readahead.h"

#include <utility>

using namespace tarlivo::store;

namespace tarlivo::transfer {
namespace {

constexpr size_t kChunkCards = 256;
constexpr qsizetype kChunkBytes = 4 * 1024 * 1024; // of pictures and sounds
constexpr size_t kChunksWaiting = 4;

} // namespace

ReadAhead::ReadAhead(std::function<bool(BulkCard &)> read) : m_read(std::move(read)), m_thread([this] { run(); }) {}

ReadAhead::~ReadAhead()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopped = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

void ReadAhead::run()
{
    try {
        for (bool more = true; more;) {
            std::vector<BulkCard> chunk;
            chunk.reserve(kChunkCards);
            qsizetype bytes = 0;
            BulkCard card;
            while (chunk.size() < kChunkCards && bytes < kChunkBytes && (more = m_read(card))) {
                for (const MediaInput &m : card.media)
                    bytes += m.bytes.size();
                chunk.push_back(std::move(card));
                card = BulkCard();
            }
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [this] { return m_stopped || m_ready.size() < kChunksWaiting; });
            if (m_stopped)
                return;
            if (!chunk.empty())
                m_ready.push_back(std::move(chunk));
            m_ended = !more;
            lock.unlock();
            m_changed.notify_all();
        }
    } catch (...) {
        std::lock_guard lock(m_mutex);
        m_error = std::current_exception();
        m_ended = true;
    }
    m_changed.notify_all();
}

bool ReadAhead::next(BulkCard &card)
{
    if (m_taken == m_taking.size()) {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return !m_ready.empty() || m_ended; });
        if (m_ready.empty()) {
            if (m_error)
                std::rethrow_exception(m_error);
            return false;
        }
        m_taking = std::move(m_ready.front());
        m_ready.pop_front();
        m_taken = 0;
        lock.unlock();
        m_changed.notify_all();
    }
    card = std::move(m_taking[m_taken++]);
    return true;
}

} // namespace tarlivo::transfer
