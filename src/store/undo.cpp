// Undo and redo: a step's rows written back, kind by kind, each kind by the part that
// owns its table (the StepRows beside it).
#include "store/answers.h"
#include "store/calendar.h"
#include "store/cardmedia.h"
#include "store/cards.h"
#include "store/directions.h"
#include "store/step.h"

#include <functional>
#include <type_traits>

namespace tarlivo::store {
namespace {

// The kind of an entry of Change: the row of a RowChange, or the entry itself.
template <class Entry>
struct KindOf {
    using type = Entry;
};
template <class Row>
struct KindOf<RowChange<Row>> {
    using type = Row;
};
template <class Rows>
using RowsOf = StepRows<typename KindOf<typename std::decay_t<Rows>::value_type>::type>;

// Every row is compared first, then the rows coming or changing are written in
// Change's order of kinds (parents first), then the rows going in the opposite order
// (children first), then what only the whole step can show is looked at. All inside
// the step's transaction: a throw rolls back all of it.
void applyStep(Store &store, const Change &change, bool forward)
{
    StoreAccess::prepareWrite(store);
    Step step(store, forward);
    sql::WriteTransaction tx(step.db());
    change.forEachKind([&](const auto &rows) {
        for (const auto &row : rows)
            RowsOf<decltype(rows)>::check(step, row);
    });
    change.forEachKind([&](const auto &rows) {
        for (const auto &row : rows)
            if (step.arrives(row))
                RowsOf<decltype(rows)>::arrive(step, row);
    });
    std::vector<std::function<void()>> leaving;
    change.forEachKind([&](const auto &rows) {
        leaving.emplace_back([&step, &rows] {
            for (const auto &row : rows)
                if (!step.arrives(row))
                    RowsOf<decltype(rows)>::leave(step, row);
        });
    });
    for (auto kind = leaving.rbegin(); kind != leaving.rend(); ++kind)
        (*kind)();
    change.forEachKind([&](const auto &rows) {
        for (const auto &row : rows)
            RowsOf<decltype(rows)>::verify(step, row);
    });
    tx.commit();
}

} // namespace

void Store::undo(const Change &change) { applyStep(*this, change, false); }

void Store::redo(const Change &change) { applyStep(*this, change, true); }

} // namespace tarlivo::store
