#pragma once

#include "store/store.h"

#include <QAbstractTableModel>
#include <QItemSelection>
#include <QTimer>

#include <functional>
#include <list>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace tarlivo::windows {

// The cards of one subject or of all, read a page at a time as the view shows them:
// a million cards cost a count and the pages on screen, never every row. Unfiltered in
// practice order the pages are counted off the index from the nearer end; a search or
// a sort by text holds only the matching keys, in order.
class CardListModel : public QAbstractTableModel {
    Q_OBJECT

public:
    // ReverseCompartment: the reverse place's compartment, empty for a card without one.
    enum Column { Question, Answer, Compartment, Subject, ReverseCompartment, ColumnCount };
    static constexpr int kPageSize = 128;

    // store: the store as it is open now (the file may be opened afresh meanwhile).
    explicit CardListModel(std::function<store::Store &()> store, QObject *parent = nullptr);

    // Texts shorter than Store::kMinSearchLength do not filter.
    void setFilter(std::optional<qint32> subjectId, const QString &search);
    bool searching() const { return m_search.size() >= store::Store::kMinSearchLength; }
    // A text many cards hold shows its first screen of hits at once; the rest follow
    // (appended, the selection kept) once counted while the program waits for the user.
    bool counting() const { return m_slices.isActive(); }
    // Reads everything afresh, keeping filter and order.
    void reload();
    // column -1 is the practice order.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    const store::CardListRow *rowAt(int row) const;
    // Whether the card of that row holds a picture or a sound (its Frage cell bears a mark).
    bool hasMedia(int row) const;
    // The row showing the card, among the keys of a keyed list or the pages read
    // lately; -1 when not found there.
    int rowOf(qint32 cardId) const;
    // The keys of the selected rows, top to bottom.
    std::vector<qint32> cardIds(const QItemSelection &selection) const;

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

signals:
    // Counting the hits has ended (see counting()).
    void hitsCounted();

private:
    static constexpr int kFirstScreenBudget = 3000; // cards read for the first screen
    static constexpr int kSliceCards = 20000;       // cards looked at in one counting step

    bool keyed() const;
    void load();
    bool loadFirstScreen();
    void countSlice();
    const std::vector<store::CardListRow> &page(int number) const;

    std::function<store::Store &()> m_store;
    std::optional<qint32> m_subjectId;
    QString m_search;
    int m_sortColumn = -1;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
    qint64 m_count = 0;
    std::vector<qint32> m_ids; // keyed lists only
    QTimer m_slices;           // counting the hits, a slice at each turn
    qint64 m_countedTo = 0;
    std::vector<store::HitPlace> m_counted;
    // The pages read lately, the most recent first; a handful stay.
    mutable std::unordered_map<int, std::vector<store::CardListRow>> m_pages;
    mutable std::list<int> m_recent;
    // The cards of the pages read that hold a picture or a sound: they carry a mark.
    mutable std::unordered_set<qint32> m_withMedia;
};

} // namespace tarlivo::windows
