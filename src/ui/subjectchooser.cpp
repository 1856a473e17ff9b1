#include "ui/subjectchooser.h"

#include "store/store.h"

#include <QComboBox>
#include <QSignalBlocker>

using namespace tarlivo::store;

namespace tarlivo::ui {

void fillSubjectChooser(QComboBox &box, Store &store, std::optional<qint32> keep)
{
    const QSignalBlocker blocker(&box);
    box.clear();
    box.addItem(QStringLiteral("Alle Gebiete"));
    for (const SubjectRow &s : store.subjectRows()) {
        box.addItem(s.name, s.id);
        if (keep && *keep == s.id)
            box.setCurrentIndex(box.count() - 1);
    }
}

} // namespace tarlivo::ui
