#pragma once

#include "store/internal.h"

#include <optional>

namespace tarlivo::store {

// One side of an undo step as it is written back: undo writes every row as it was
// before the step, redo as it was after, each only while the file holds the other
// side exactly. A row that differs means someone else changed the file; conflict()
// throws, and the step's transaction rolls back all of it.
class Step {
public:
    Step(Store &store, bool forward)
        : m_store(store), m_db(StoreAccess::database(store)), m_forward(forward),
          m_name(forward ? QStringLiteral("redo") : QStringLiteral("undo"))
    {
    }

    Store &store() const { return m_store; }
    sql::Database &db() const { return m_db; }
    // "undo" or "redo", as a conflict names the step.
    const QString &name() const { return m_name; }

    // The row as the file holds it now, and as the step leaves it.
    template <class Row>
    const std::optional<Row> &from(const RowChange<Row> &c) const
    {
        return m_forward ? c.before : c.after;
    }
    template <class Row>
    const std::optional<Row> &to(const RowChange<Row> &c) const
    {
        return m_forward ? c.after : c.before;
    }
    // Either side, for the row's key.
    template <class Row>
    static const Row &key(const RowChange<Row> &c)
    {
        return c.before ? *c.before : *c.after;
    }
    // Whether the row comes or changes (else it goes).
    template <class Row>
    bool arrives(const RowChange<Row> &c) const
    {
        return to(c).has_value();
    }
    bool arrives(const ReverseFill &fill) const { return fill.placed == m_forward; }

    [[noreturn]] void conflict(const QString &what) const
    {
        throw StoreError(StoreErrorKind::Conflict, m_store.path(), m_name + QStringLiteral(": ") + what);
    }

private:
    Store &m_store;
    sql::Database &m_db;
    bool m_forward;
    QString m_name;
};

// How the rows of one kind (a row type of Change, or ReverseFill) are written back,
// specialised beside the part that owns their table; store/undo.cpp goes over a
// step's kinds in Change's order: check compares every row with the file first, arrive writes the
// rows coming or changing (parents first), leave takes away the rows going
// (children first), verify looks at what only the whole step can show.
template <class Row>
struct StepRows;

// For kinds that have nothing to verify.
struct NothingToVerify {
    template <class Entry>
    static void verify(Step & /*step*/, const Entry & /*entry*/)
    {
    }
};

} // namespace tarlivo::store
