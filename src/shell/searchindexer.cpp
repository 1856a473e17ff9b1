#include "shell/searchindexer.h"

#include "shell/session.h"

namespace tarlivo::ui {

SearchIndexer::SearchIndexer(Session &session) : m_session(session)
{
    // Each step is short; between two, the user's input comes first.
    m_timer.setInterval(0);
    connect(&m_timer, &QTimer::timeout, this, &SearchIndexer::step);
    connect(&session, &Session::storeOpened, this, &SearchIndexer::wake);
    connect(&session, &Session::storeClosing, this, &SearchIndexer::stop);
    connect(&session, &Session::changed, this, &SearchIndexer::wake);
}

void SearchIndexer::wake()
{
    if (busy())
        return;
    Store *store = m_session.store();
    try {
        if (store && store->searchBacklog() > 0)
            m_timer.start();
    } catch (const StoreError &) {
        // The index is no data of the user's: a file that cannot be read now is
        // reported by whatever the user does next.
    }
}

void SearchIndexer::step()
{
    Store *store = m_session.store();
    try {
        if (!store || store->catchUpSearchIndex(Store::kSearchIndexStep) == 0)
            stop();
    } catch (const StoreError &) {
        // Read-only, busy with another copy, replaced: searching still finds every
        // card, and the next change or start tries again.
        stop();
    }
}

} // namespace tarlivo::ui
