#include "sync/runwording.h"

#include "texts/wording.h"

#include <QLocale>

using namespace tarlivo::store;

namespace tarlivo::sync {

namespace text {

QString outcomeSummary(const Outcome &outcome)
{
    if (outcome.applied == 0 && outcome.written == 0)
        return QStringLiteral("nichts Neues");
    const QLocale german(QLocale::German);
    return QStringLiteral("%1 übernommen, %2 geschrieben")
        .arg(outcome.applied == 1 ? QStringLiteral("1 Änderung")
                                  : QStringLiteral("%1 Änderungen").arg(german.toString(outcome.applied)),
             german.toString(outcome.written));
}

QString syncedAt(const QDateTime &at)
{
    const QDateTime local = at.toLocalTime();
    const QString time = local.toString(QStringLiteral("HH:mm"));
    if (local.date() == QDate::currentDate())
        return QStringLiteral("Abgeglichen um %1").arg(time);
    return QStringLiteral("Abgeglichen am %1 um %2").arg(local.toString(QStringLiteral("dd.MM.yyyy")), time);
}

QString storeProblem(const StoreError &error)
{
    QString reason = texts::storeReason(error);
    if (reason.isEmpty())
        reason = QStringLiteral("Die Datenbank meldet: %1").arg(error.detail());
    return QStringLiteral("Die Datendatei %1 kann nicht abgeglichen werden. %2")
        .arg(texts::quoted(error.path()), reason);
}

QString folderMissing(const QString &folder)
{
    return QStringLiteral("Den Abgleichordner %1 gibt es nicht (oder er ist kein Ordner).").arg(texts::quoted(folder));
}

} // namespace text

} // namespace tarlivo::sync
