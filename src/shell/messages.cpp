#include "messages.h"

#include <QDir>

namespace tarlivo::ui::text {
namespace {

QString quoted(const QString &s) { return QStringLiteral("„%1“").arg(QDir::toNativeSeparators(s)); }

} // namespace

QString programTitle() { return QStringLiteral("Tarlivo"); }

QString noTextEntered() { return QStringLiteral("Ungültige Eingabe, es wurde kein Text eingegeben."); }
QString numbersNotAllowedNew() { return QStringLiteral("Ungültige Eingaben, Zahlen sind nicht erlaubt."); }
QString numbersNotAllowedRename() { return QStringLiteral("Ungültige Eingabe, Zahlen sind nicht erlaubt."); }
QString subjectExists() { return QStringLiteral("Dieses Gebiet gibt es schon."); }
QString newSubjectPrompt() { return QStringLiteral("Bitte geben Sie ein Gebiet ein."); }
QString newSubjectTitle() { return QStringLiteral("Gebietseingabe"); }
QString renamePrompt() { return QStringLiteral("Bitte geben Sie einen neuen Gebietsnamen ein."); }
QString renameTitle() { return QStringLiteral("Gebietseditierung"); }

QString compartmentEmpty(qint64 fach)
{
    return QStringLiteral("Fach : %1 ist leer!\nBitte neu wählen!").arg(fach);
}

QString missingInput() { return QStringLiteral("Fehlende Eingabe!"); }

QString unknownSubject(const QString &name)
{
    if (name.isEmpty())
        return QStringLiteral("Es ist kein Gebiet gewählt.\nBitte wählen Sie ein Gebiet aus der Liste.");
    return QStringLiteral("Das Gebiet \"%1\" gibt es nicht.\nBitte wählen Sie ein Gebiet aus der Liste.").arg(name);
}

QString subjectWithoutCards(const QString &name)
{
    return QStringLiteral("Zum Gebiet \"%1\" gibt es noch keine Fragen.\nBitte wählen Sie ein anderes Gebiet.")
        .arg(name);
}

QString notACompartment(const QString &typed)
{
    if (typed.trimmed().isEmpty())
        return QStringLiteral("Es ist kein Fach gewählt.\nBitte wählen Sie ein Fach aus der Liste.");
    return QStringLiteral("Ungültige Eingabe, \"%1\" ist kein Fach.\nBitte wählen Sie ein Fach aus der Liste.")
        .arg(typed);
}

QString noCardOnDisplay()
{
    return QStringLiteral("Es wird keine Frage angezeigt.\nBitte wählen Sie ein Fach und drücken Sie \"Übernehmen\".");
}

QString cardMissing(qint64 cardId)
{
    return QStringLiteral("Die Frage Nr. %1 fehlt in der Datenbank, die Datei ist beschädigt.\n"
                          "Es wurde nichts gespeichert.")
        .arg(cardId);
}

QString compartmentLimit()
{
    return QStringLiteral("Die Frage ist schon im höchsten Fach (2147483647) und kann nicht weiter aufsteigen.\n"
                          "Es wurde nichts gespeichert.");
}

QString queueLimit()
{
    return QStringLiteral("Die Warteschlange ist voll: Die höchste Stelle (2147483647) ist erreicht.\n"
                          "Es wurde nichts gespeichert.");
}

QString backupDiskFull(const QString &path)
{
    return QStringLiteral("Die tägliche Sicherungskopie %1 konnte nicht angelegt werden: Der Datenträger ist voll.\n"
                          "Ihre Eingaben werden weiter gespeichert; bitte schaffen Sie bald Platz.")
        .arg(quoted(path));
}

QString storeError(const StoreError &error, bool whileOpening)
{
    const QString file = quoted(error.path());
    QString reason;
    switch (error.kind()) {
    case StoreErrorKind::NotConnected:
        return QStringLiteral("Es ist keine Datenbank geöffnet.\nBitte wählen Sie zuerst ein Gebiet.");
    case StoreErrorKind::NotADatabase:
        reason = QStringLiteral("Die Datei ist keine Tarlivo-Datenbank.");
        break;
    case StoreErrorKind::LegacyFormat:
        reason = QStringLiteral("Die Datei stammt von der älteren Access-Version von Tarlivo und kann nicht gelesen werden.");
        break;
    case StoreErrorKind::SchemaMismatch:
        reason = QStringLiteral("Die Datei ist eine Datenbank, aber ihr fehlen die Tabellen von Tarlivo.");
        break;
    case StoreErrorKind::NewerVersion:
        reason = QStringLiteral("Die Datei wurde von einer neueren Version von Tarlivo geschrieben.");
        break;
    case StoreErrorKind::CannotCreate:
        reason = QStringLiteral("Die Datei fehlt und kann in diesem Verzeichnis nicht angelegt werden.");
        break;
    case StoreErrorKind::CannotOpen:
        reason = QStringLiteral("Die Datei kann nicht gelesen werden; bitte prüfen Sie die Zugriffsrechte.");
        break;
    case StoreErrorKind::Busy:
        reason = QStringLiteral("Die Datei wird gerade von einem anderen laufenden Tarlivo benutzt.\n"
                                "Bitte versuchen Sie es gleich noch einmal.");
        break;
    case StoreErrorKind::Full:
        reason = QStringLiteral("Der Datenträger ist voll.");
        break;
    case StoreErrorKind::ReadOnly:
        reason = QStringLiteral("Die Datei oder ihr Verzeichnis ist schreibgeschützt.");
        break;
    case StoreErrorKind::FileChanged:
        reason = error.detail() == QLatin1String("deleted")
            ? QStringLiteral("Die Datei wurde gelöscht, während Tarlivo lief.")
            : QStringLiteral("Die Datei wurde ersetzt, während Tarlivo lief.");
        reason += QStringLiteral("\nBitte wählen Sie das Gebiet neu.");
        break;
    case StoreErrorKind::Corrupt:
        reason = QStringLiteral("Die Datei ist beschädigt.");
        break;
    case StoreErrorKind::Io:
        reason = QStringLiteral("Beim Lesen oder Schreiben der Datei ist ein Fehler aufgetreten.");
        break;
    case StoreErrorKind::NotFound:
        reason = QStringLiteral("Ein Eintrag fehlt in der Datei, sie ist beschädigt.");
        break;
    case StoreErrorKind::Duplicate:
        return subjectExists();
    case StoreErrorKind::Limit:
        reason = QStringLiteral("Ein Wert liegt außerhalb des erlaubten Bereichs (höchstens 2147483647).");
        break;
    case StoreErrorKind::Internal:
        reason = QStringLiteral("Die Datenbank meldet: %1").arg(error.detail());
        break;
    }
    if (whileOpening)
        return QStringLiteral("Die Datenbank %1 kann nicht geöffnet werden.\n%2\nDie Datei wurde nicht verändert.")
            .arg(file, reason);
    return QStringLiteral("Fehler in der Datenbank %1:\n%2\nEs wurde nichts gespeichert.").arg(file, reason);
}

} // namespace tarlivo::ui::text
