#pragma once

#include <QObject>
#include <QTimer>

namespace tarlivo::store {
class Store;
}

namespace tarlivo::ui {

// Brings the search index up to date after an import: a few hundred cards at a
// time, each step its own short write, while the program waits for the user. Until
// then the card list finds the waiting cards by reading them.
class SearchIndexer : public QObject {
    Q_OBJECT
public:
    SearchIndexer();
    // The store to work on; null while there is none.
    void setStore(store::Store *store);
    // Starts on the cards waiting for the index, if there are any.
    void wake();
    void stop() { m_timer.stop(); }
    bool busy() const { return m_timer.isActive(); }

private:
    void step();

    store::Store *m_store = nullptr;
    QTimer m_timer;
};

} // namespace tarlivo::ui
