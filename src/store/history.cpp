#include "store/history.h"

#include "store/store.h"

namespace tarlivo::store {

History::History(QObject *parent) : QObject(parent) {}

void History::record(const QString &label, Change change)
{
    if (change.isEmpty())
        return;
    m_undo.push_back(Step{label, std::move(change)});
    while (m_undo.size() > size_t(kMaxSteps))
        m_undo.pop_front();
    m_redo.clear();
    emit changed();
}

QString History::undoLabel() const { return m_undo.empty() ? QString() : m_undo.back().label; }

QString History::redoLabel() const { return m_redo.empty() ? QString() : m_redo.back().label; }

std::optional<Change> History::undo(Store &store)
{
    if (m_undo.empty())
        return std::nullopt;
    store.undo(m_undo.back().change); // throws before anything moves
    m_redo.push_back(std::move(m_undo.back()));
    m_undo.pop_back();
    emit changed();
    return m_redo.back().change;
}

std::optional<Change> History::redo(Store &store)
{
    if (m_redo.empty())
        return std::nullopt;
    store.redo(m_redo.back().change);
    m_undo.push_back(std::move(m_redo.back()));
    m_redo.pop_back();
    emit changed();
    return m_undo.back().change;
}

void History::dropRedo()
{
    if (m_redo.empty())
        return;
    m_redo.clear();
    emit changed();
}

void History::clear()
{
    if (m_undo.empty() && m_redo.empty())
        return;
    m_undo.clear();
    m_redo.clear();
    emit changed();
}

} // namespace tarlivo::store
