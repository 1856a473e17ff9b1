#include "ui/searchindexer.h"

#include "store/store.h"

using namespace tarlivo::store;

namespace tarlivo::ui {

SearchIndexer::SearchIndexer()
{
    // Each step is short; between two, the user's input comes first.
    m_timer.setInterval(0);
    connect(&m_timer, &QTimer::timeout, this, &SearchIndexer::step);
}

void SearchIndexer::setStore(Store *store)
{
    stop();
    m_store = store;
    wake();
}

void SearchIndexer::wake()
{
    if (busy())
        return;
    try {
        if (m_store && m_store->searchBacklog() > 0)
            m_timer.start();
    } catch (const StoreError &) {
        // The index is no data of the user's: a file that cannot be read now is
        // reported by whatever the user does next.
    }
}

void SearchIndexer::step()
{
    try {
        if (!m_store || m_store->catchUpSearchIndex(Store::kSearchIndexStep) == 0)
            stop();
    } catch (const StoreError &) {
        // Read-only, busy with another copy, replaced: searching still finds every
        // card, and the next change or start tries again.
        stop();
    }
}

} // namespace tarlivo::ui
