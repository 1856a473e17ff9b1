#include "texts/wording.h"

#include <QDir>

using namespace tarlivo::store;

namespace tarlivo::texts {

QString quoted(const QString &s) { return QStringLiteral("„%1“").arg(QDir::toNativeSeparators(s)); }

QString byNumber(qint64 n, const char *one, const char *many) { return QString::fromUtf8(n == 1 ? one : many).arg(n); }

QString storeReason(const StoreError &error)
{
    switch (error.kind()) {
    case StoreErrorKind::NotConnected:
    case StoreErrorKind::Duplicate:
    case StoreErrorKind::Conflict:
        return {};
    case StoreErrorKind::NotADatabase:
        return QStringLiteral("Die Datei ist keine Tarlivo-Datenbank.");
    case StoreErrorKind::LegacyFormat:
        return QStringLiteral(
            "Die Datei stammt von der älteren Access-Version von Tarlivo und kann nicht gelesen werden.");
    case StoreErrorKind::SchemaMismatch:
        return QStringLiteral("Die Datei ist eine Datenbank, aber ihr fehlen die Tabellen von Tarlivo.");
    case StoreErrorKind::NewerVersion:
        return QStringLiteral("Die Datei wurde von einer neueren Version von Tarlivo geschrieben.");
    case StoreErrorKind::CannotCreate:
        return QStringLiteral("Die Datei fehlt und kann in diesem Verzeichnis nicht angelegt werden.");
    case StoreErrorKind::CannotOpen:
        return QStringLiteral("Die Datei kann nicht gelesen werden; bitte prüfen Sie die Zugriffsrechte.");
    case StoreErrorKind::Busy:
        return QStringLiteral("Die Datei wird gerade von einem anderen laufenden Tarlivo benutzt.\n"
                              "Bitte versuchen Sie es gleich noch einmal.");
    case StoreErrorKind::Full:
        return QStringLiteral("Der Datenträger ist voll.");
    case StoreErrorKind::ReadOnly:
        return QStringLiteral("Die Datei oder ihr Verzeichnis ist schreibgeschützt.");
    case StoreErrorKind::FileChanged:
        return (error.detail() == QLatin1String("deleted")
                    ? QStringLiteral("Die Datei wurde gelöscht, während Tarlivo lief.")
                    : QStringLiteral("Die Datei wurde ersetzt, während Tarlivo lief."))
               + QStringLiteral("\nBitte wählen Sie das Gebiet neu.");
    case StoreErrorKind::Corrupt:
        return QStringLiteral("Die Datei ist beschädigt.");
    case StoreErrorKind::Io:
        return QStringLiteral("Beim Lesen oder Schreiben der Datei ist ein Fehler aufgetreten.");
    case StoreErrorKind::NotFound:
        return QStringLiteral("Ein Eintrag fehlt in der Datei, sie ist beschädigt.");
    case StoreErrorKind::Limit:
        return QStringLiteral("Ein Wert liegt außerhalb des erlaubten Bereichs (höchstens 2.147.483.647).");
    case StoreErrorKind::Internal:
        break;
    }
    return QStringLiteral("Die Datenbank meldet: %1").arg(error.detail());
}

} // namespace tarlivo::texts
