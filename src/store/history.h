#pragma once

#include "store/change.h"

#include <QObject>
#include <QString>

#include <deque>
#include <optional>

namespace tarlivo::store {

class Store;

// The steps the user can take back and forward again, newest last. Only the last
// kMaxSteps are kept: an older step is dropped when a new one is recorded.
class History : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxSteps = 200;

    explicit History(QObject *parent = nullptr);

    // A new step; the steps that could be redone are gone.
    void record(const QString &label, Change change);
    bool canUndo() const { return !m_undo.empty(); }
    bool canRedo() const { return !m_redo.empty(); }
    // What the newest step on each side did, for menu texts; empty when none.
    QString undoLabel() const;
    QString redoLabel() const;
    // Takes back (or again) the newest step through the store and returns its rows
    // so the windows can show them anew; nullopt when there is none. A StoreError
    // leaves the step where it was and propagates.
    std::optional<Change> undo(Store &store);
    std::optional<Change> redo(Store &store);
    void clear();
    // The file changed outside the steps (an import): what was taken back may no
    // longer fit, as after a new step, so it cannot be taken again.
    void dropRedo();

signals:
    void changed();

private:
    struct Step {
        QString label;
        Change change;
    };
    std::deque<Step> m_undo;
    std::deque<Step> m_redo;
};

} // namespace tarlivo::store
