#include "cards/cardlistmodel.h"

#include "ui/messages.h"

#include <QApplication>
#include <QIcon>
#include <QRegularExpression>
#include <QStyle>

#include <algorithm>
#include <limits>

using namespace tarlivo::store;
using namespace tarlivo::legacy;
using namespace tarlivo::ui;

namespace tarlivo::windows {
namespace {

constexpr std::size_t kPagesKept = 24;

QString firstLine(const QString &text)
{
    const int end = text.indexOf(QRegularExpression(QStringLiteral("[\r\n]")));
    return end < 0 ? text : text.left(end) + QStringLiteral(" …");
}

} // namespace

CardListModel::CardListModel(std::function<Store &()> store, QObject *parent)
    : QAbstractTableModel(parent), m_store(std::move(store))
{
    m_slices.setInterval(0);
    connect(&m_slices, &QTimer::timeout, this, &CardListModel::countSlice);
}

bool CardListModel::keyed() const
{
    return searching() || m_sortColumn == Question || m_sortColumn == Answer || m_sortColumn == Subject;
}

void CardListModel::setFilter(std::optional<qint32> subjectId, const QString &search)
{
    m_subjectId = subjectId;
    m_search = search;
    reload();
}

void CardListModel::sort(int column, Qt::SortOrder order)
{
    // The reverse compartments keep the practice order of the forward places.
    m_sortColumn = column == ReverseCompartment ? -1 : column;
    m_sortOrder = order;
    reload();
}

void CardListModel::reload()
{
    const bool wasCounting = counting();
    m_slices.stop();
    m_counted = {};
    beginResetModel();
    m_pages.clear();
    m_withMedia.clear();
    m_recent.clear();
    m_ids.clear();
    m_count = 0;
    try {
        load();
    } catch (...) {
        // An empty list rather than half of one; the caller tells the user.
        m_ids.clear();
        m_count = 0;
        endResetModel();
        throw;
    }
    endResetModel();
    if (wasCounting && !counting())
        emit hitsCounted();
}

void CardListModel::load()
{
    if (searching() && loadFirstScreen())
        return;
    if (!keyed()) {
        m_count = std::min<qint64>(m_store().cardCount(m_subjectId), std::numeric_limits<int>::max());
        return;
    }
    CardOrder order = CardOrder::Practice;
    switch (m_sortColumn) {
    case Question:
        order = CardOrder::Question;
        break;
    case Answer:
        order = CardOrder::Answer;
        break;
    case Subject:
        order = CardOrder::Subject;
        break;
    default:
        break;
    }
    m_ids = m_store().cardIds(m_subjectId, searching() ? m_search : QString(), order);
    if (m_sortOrder == Qt::DescendingOrder && m_sortColumn >= 0)
        std::reverse(m_ids.begin(), m_ids.end());
    m_count = qint64(m_ids.size());
}

// In practice order, the first hits of a text that many cards hold are found by
// reading the cards in that order; all hits are then counted a slice at a time.
// False when the index is the quicker way (a rare text, or another order).
bool CardListModel::loadFirstScreen()
{
    const bool practiceOrder = m_sortColumn < 0 || (m_sortColumn == Compartment && m_sortOrder == Qt::AscendingOrder);
    if (!practiceOrder)
        return false;
    FirstHits first = m_store().firstHits(m_subjectId, m_search, kPageSize, kFirstScreenBudget);
    if (!first.complete && int(first.ids.size()) < kPageSize)
        return false;
    m_ids = std::move(first.ids);
    m_count = qint64(m_ids.size());
    if (!first.complete) {
        m_countedTo = 0;
        m_slices.start();
    }
    return true;
}

void CardListModel::countSlice()
{
    try {
        HitSlice slice = m_store().hitSlice(m_subjectId, m_search, m_countedTo, kSliceCards);
        m_counted.insert(m_counted.end(), slice.hits.begin(), slice.hits.end());
        m_countedTo = slice.last;
        if (!slice.done)
            return;
    } catch (const StoreError &) {
        // The first screen stays; the next refresh counts again.
        m_slices.stop();
        m_counted = {};
        emit hitsCounted();
        return;
    }
    m_slices.stop();
    std::sort(m_counted.begin(), m_counted.end());
    std::vector<qint32> ids(m_counted.size());
    std::transform(m_counted.begin(), m_counted.end(), ids.begin(), [](const HitPlace &h) { return h.id; });
    m_counted = {};
    const bool prefix = ids.size() >= m_ids.size() && std::equal(m_ids.begin(), m_ids.end(), ids.begin());
    if (prefix && ids.size() > m_ids.size()) {
        beginInsertRows({}, int(m_ids.size()), int(std::min<size_t>(ids.size(), std::numeric_limits<int>::max()) - 1));
        m_ids = std::move(ids);
        m_count = std::min<qint64>(qint64(m_ids.size()), std::numeric_limits<int>::max());
        m_pages.clear();
        m_withMedia.clear();
        m_recent.clear();
        endInsertRows();
    } else if (!prefix) {
        // The file changed meanwhile: the list as it is now.
        beginResetModel();
        m_ids = std::move(ids);
        m_count = std::min<qint64>(qint64(m_ids.size()), std::numeric_limits<int>::max());
        m_pages.clear();
        m_withMedia.clear();
        m_recent.clear();
        endResetModel();
    }
    emit hitsCounted();
}

const std::vector<CardListRow> &CardListModel::page(int number) const
{
    auto found = m_pages.find(number);
    if (found != m_pages.end()) {
        m_recent.remove(number);
        m_recent.push_front(number);
        return found->second;
    }
    std::vector<CardListRow> rows;
    const qint64 start = qint64(number) * kPageSize;
    const int length = int(std::min<qint64>(kPageSize, m_count - start));
    try {
        if (keyed()) {
            rows = m_store().cardListRows(std::vector<qint32>(m_ids.begin() + start, m_ids.begin() + start + length));
        } else {
            // Counted off from whichever end is nearer.
            const bool fromEnd = start + length / 2 > m_count / 2;
            rows = m_store().cardPage(m_subjectId, fromEnd ? m_count - start - length : start, length, fromEnd);
        }
        std::vector<qint32> ids;
        ids.reserve(rows.size());
        for (const CardListRow &row : rows)
            ids.push_back(row.card.id);
        for (qint32 id : m_store().cardsWithMedia(ids))
            m_withMedia.insert(id);
    } catch (const StoreError &) {
        rows.clear(); // shown empty; the next refresh reads again
    }
    if (m_recent.size() >= kPagesKept) {
        m_pages.erase(m_recent.back());
        m_recent.pop_back();
    }
    m_recent.push_front(number);
    return m_pages.emplace(number, std::move(rows)).first->second;
}

int CardListModel::rowOf(qint32 cardId) const
{
    if (keyed()) {
        const auto at = std::find(m_ids.begin(), m_ids.end(), cardId);
        return at == m_ids.end() ? -1 : int(at - m_ids.begin());
    }
    for (const auto &[number, rows] : m_pages)
        for (std::size_t i = 0; i < rows.size(); ++i)
            if (rows[i].card.id == cardId) {
                const qint64 index = qint64(number) * kPageSize + qint64(i);
                const bool backwards = m_sortColumn >= 0 && m_sortOrder == Qt::DescendingOrder;
                return int(backwards ? m_count - 1 - index : index);
            }
    return -1;
}

const CardListRow *CardListModel::rowAt(int row) const
{
    if (row < 0 || row >= m_count)
        return nullptr;
    // Fach descending is the practice order read backwards.
    const bool backwards = !keyed() && m_sortColumn >= 0 && m_sortOrder == Qt::DescendingOrder;
    const qint64 index = backwards ? m_count - 1 - row : row;
    const std::vector<CardListRow> &rows = page(int(index / kPageSize));
    const std::size_t at = std::size_t(index % kPageSize);
    return at < rows.size() ? &rows[at] : nullptr;
}

std::vector<qint32> CardListModel::cardIds(const QItemSelection &selection) const
{
    std::vector<std::pair<int, int>> ranges;
    for (const QItemSelectionRange &range : selection)
        ranges.emplace_back(range.top(), range.bottom());
    std::sort(ranges.begin(), ranges.end());
    std::vector<qint32> ids;
    int done = -1; // a row selected in two ranges counts once
    for (const auto &[top, bottom] : ranges) {
        for (int row = std::max(top, done + 1); row <= bottom; ++row) {
            if (keyed())
                ids.push_back(m_ids[std::size_t(row)]);
            else if (const CardListRow *r = rowAt(row))
                ids.push_back(r->card.id);
        }
        done = std::max(done, bottom);
    }
    return ids;
}

int CardListModel::rowCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : int(m_count); }

int CardListModel::columnCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : ColumnCount; }

bool CardListModel::hasMedia(int row) const
{
    const CardListRow *r = rowAt(row);
    return r && m_withMedia.count(r->card.id);
}

QVariant CardListModel::data(const QModelIndex &index, int role) const
{
    if (role == Qt::DecorationRole && index.isValid() && index.column() == Question && hasMedia(index.row())) {
        static const QIcon mark = QApplication::style()->standardIcon(QStyle::SP_FileDialogContentsView);
        return mark;
    }
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::ToolTipRole && role != Qt::TextAlignmentRole))
        return {};
    if (role == Qt::TextAlignmentRole)
        return index.column() == Compartment || index.column() == ReverseCompartment
                   ? QVariant(Qt::AlignRight | Qt::AlignVCenter)
                   : QVariant();
    const CardListRow *row = rowAt(index.row());
    if (!row)
        return {};
    const bool tip = role == Qt::ToolTipRole;
    switch (index.column()) {
    case Question:
        if (tip && m_withMedia.count(row->card.id))
            return row->card.question + QStringLiteral("\n(mit Bild oder Ton)");
        return tip ? row->card.question : firstLine(row->card.question);
    case Answer:
        return tip ? row->card.answer : firstLine(row->card.answer);
    case Compartment:
        return tip ? QVariant() : QVariant(row->card.compartment);
    case Subject:
        return tip ? QVariant() : QVariant(row->subject);
    case ReverseCompartment:
        return tip || !row->card.reverse ? QVariant() : QVariant(row->card.reverse->compartment);
    default:
        return {};
    }
}

QVariant CardListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case Question:
        return QStringLiteral("Frage");
    case Answer:
        return QStringLiteral("Antwort");
    case Compartment:
        return QStringLiteral("Fach");
    case Subject:
        return QStringLiteral("Gebiet");
    case ReverseCompartment:
        return text::reverseColumn();
    default:
        return {};
    }
}

} // namespace tarlivo::windows
