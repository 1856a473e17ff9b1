#include "transfer/transfertexts.h"

#include "texts/wording.h"

#include <QDir>

using namespace tarlivo::store;

namespace tarlivo::transfer::text {
namespace {

using texts::byNumber;
using texts::quoted;

QString file(const QString &path) { return QStringLiteral("Die Datei %1").arg(quoted(path)); }

QString nothingStored() { return QStringLiteral("\nEs wurde nichts gespeichert."); }

QString package(const QString &path, const QString &entry)
{
    return QStringLiteral("Das Anki-Paket %1 kann nicht gelesen werden: Die Sammlung %2 ").arg(quoted(path), entry);
}

} // namespace

QString fileMissing(const QString &path) { return file(path) + QStringLiteral(" gibt es nicht.") + nothingStored(); }

QString fileUnreadable(const QString &path)
{
    return file(path) + QStringLiteral(" kann nicht gelesen werden; bitte prüfen Sie die Zugriffsrechte.")
           + nothingStored();
}

QString fileEmpty(const QString &path) { return file(path) + QStringLiteral(" ist leer.") + nothingStored(); }

QString readFailed(const QString &path)
{
    return file(path)
           + QStringLiteral(" konnte nicht vollständig gelesen werden; "
                            "vielleicht wurde sie währenddessen gelöscht oder der Datenträger entfernt.")
           + nothingStored();
}

QString notText(const QString &path)
{
    return file(path) + QStringLiteral(" ist weder eine Textdatei noch ein Anki-Paket (sie enthält Nullbytes).")
           + nothingStored();
}

QString lineTooLong(const QString &path, qint64 line)
{
    return file(path)
           + QStringLiteral(": Die Zeile %1 ist zu lang (mehr als 16 Millionen Zeichen); "
                            "das ist keine Karteikarte.")
                 .arg(line)
           + nothingStored();
}

QString unclosedQuote(const QString &path, qint64 line)
{
    return file(path)
           + QStringLiteral(": Das Anführungszeichen in Zeile %1 wird bis zum Ende der Datei "
                            "nicht geschlossen.")
                 .arg(line)
           + nothingStored();
}

QString noCards(const QString &path) { return file(path) + QStringLiteral(" enthält keine Fragen.") + nothingStored(); }

QString oneSidedOnly(const QString &path, qint64 count, bool entries)
{
    const QString all =
        count == 1 ? QString::fromUtf8(entries ? "ihrem einzigen Eintrag" : "ihrer einzigen Zeile")
                   : QString::fromUtf8(entries ? "allen ihren %1 Einträgen" : "allen ihren %1 Zeilen").arg(count);
    return file(path)
           + QStringLiteral(" enthält keine Frage mit Antwort: %1 fehlt eine Seite. Vielleicht ist sie eine "
                            "Wortliste in nur einer Sprache.")
                 .arg(all)
           + nothingStored();
}

QString endsInEntry(const QString &path)
{
    return QStringLiteral("Die Datei endet mitten in einem Eintrag: %1 ist unvollständig, vielleicht beim Kopieren "
                          "oder Herunterladen abgeschnitten.")
               .arg(quoted(path))
           + nothingStored();
}

QString notWellFormed(const QString &path, qint64 line, const QString &detail)
{
    return file(path) + QStringLiteral(" ist kein gültiges XML (Zeile %1: %2).").arg(line).arg(detail)
           + nothingStored();
}

QString xmlEntities(const QString &path)
{
    return file(path)
           + QStringLiteral(" erklärt in ihrer DOCTYPE-Angabe eigene Entitäten; solche Dateien werden "
                            "nicht gelesen, denn sie können beim Lesen ins Unermessliche wachsen.")
           + nothingStored();
}

QString gzipDamaged(const QString &path, const QString &detail)
{
    return file(path) + QStringLiteral(" ist gepackt (gzip), aber beschädigt (%1).").arg(detail) + nothingStored();
}

QString gzipTooLarge(const QString &path)
{
    return file(path)
           + QStringLiteral(" würde entpackt mehr als 200 MB oder mehr als das 200-Fache ihrer gepackten "
                            "Größe belegen.")
           + nothingStored();
}

QString unknownKind(const QString &path)
{
    return file(path)
           + QStringLiteral(" ist weder eine Datei von KWordQuiz oder Parley (kvtml) noch eine Pauker-Lektion "
                            "noch eine Textdatei oder ein Anki-Paket.")
           + nothingStored();
}

QString entryTooLong(const QString &path, qint64 entry)
{
    return file(path)
           + QStringLiteral(": Ein Text im Eintrag %1 ist zu lang (mehr als 16 Millionen Zeichen); "
                            "das ist keine Karteikarte.")
                 .arg(entry)
           + nothingStored();
}

QString zipDamaged(const QString &path, const QString &detail)
{
    return QStringLiteral("Das Anki-Paket %1 ist beschädigt (%2).").arg(quoted(path), detail) + nothingStored();
}

QString noCollection(const QString &path)
{
    return QStringLiteral("Die Datei %1 ist ein ZIP-Archiv, aber kein Anki-Paket: Es enthält keine Sammlung "
                          "(collection.anki21b, collection.anki21 oder collection.anki2).")
               .arg(quoted(path))
           + nothingStored();
}

QString entryTooLarge(const QString &path, const QString &entry)
{
    return package(path, entry)
           + QStringLiteral("würde entpackt mehr als 2 GB oder mehr als das 200-Fache ihrer gepackten Größe belegen.")
           + nothingStored();
}

QString zstdDamaged(const QString &path, const QString &entry, const QString &detail)
{
    return package(path, entry) + QStringLiteral("ist beschädigt (%1).").arg(detail) + nothingStored();
}

QString zstdTruncated(const QString &path, const QString &entry)
{
    return package(path, entry) + QStringLiteral("ist unvollständig: Ihr Ende fehlt.") + nothingStored();
}

QString collectionNotSqlite(const QString &path, const QString &entry)
{
    return package(path, entry) + QStringLiteral("ist keine SQLite-Datenbank.") + nothingStored();
}

QString collectionDamaged(const QString &path, const QString &entry, const QString &detail)
{
    return package(path, entry) + QStringLiteral("ist beschädigt (%1).").arg(detail) + nothingStored();
}

QString collectionLacksTable(const QString &path, const QString &entry, const QString &table)
{
    return package(path, entry) + QStringLiteral("hat keine Tabelle %1.").arg(quoted(table)) + nothingStored();
}

QString tempFailed(const QString &path, const QString &detail)
{
    return QStringLiteral("Das Anki-Paket %1 kann nicht entpackt werden: Die temporäre Datei kann nicht "
                          "geschrieben werden (%2).")
               .arg(quoted(path), detail)
           + nothingStored();
}

QString zipLibraryMissing(const QString &path)
{
    return QStringLiteral("Das Anki-Paket %1 kann nicht gelesen werden: Die Bibliothek libzip fehlt. "
                          "Bitte installieren Sie Tarlivo neu.")
               .arg(quoted(path))
           + nothingStored();
}

QString noSubjectGiven(const QString &path)
{
    return file(path)
           + QStringLiteral(" hat keine Spalte „Gebiet“. Bitte nennen Sie das Gebiet, in das die Fragen "
                            "kommen sollen (--gebiet NAME).")
           + nothingStored();
}

QString invalidSubjectName(const QString &name)
{
    if (name.isEmpty())
        return QStringLiteral("Ungültige Eingabe, es wurde kein Gebiet eingegeben.") + nothingStored();
    return QStringLiteral("Ungültiges Gebiet %1: Zahlen sind als Gebietsname nicht erlaubt.").arg(quoted(name))
           + nothingStored();
}

QString noDataFile(const QString &path) { return QStringLiteral("Die Datendatei %1 gibt es nicht.").arg(quoted(path)); }

QString subjectNotFound(const QString &name)
{
    return QStringLiteral("Das Gebiet %1 gibt es nicht.").arg(quoted(name));
}

QString encodingName(Encoding encoding)
{
    switch (encoding) {
    case Encoding::Utf8:
        return QStringLiteral("UTF-8");
    case Encoding::Utf8Bom:
        return QStringLiteral("UTF-8 mit BOM");
    case Encoding::Utf16LE:
        return QStringLiteral("UTF-16 (Little Endian)");
    case Encoding::Utf16BE:
        return QStringLiteral("UTF-16 (Big Endian)");
    case Encoding::Windows1252:
        return QStringLiteral("Windows-1252 (die Datei ist kein gültiges UTF-8)");
    }
    return QString();
}

QString separatorName(QChar separator)
{
    switch (separator.unicode()) {
    case u'\t':
        return QStringLiteral("Tabulator");
    case u';':
        return QStringLiteral("Semikolon");
    case u',':
        return QStringLiteral("Komma");
    case u' ':
        return QStringLiteral("Leerzeichen");
    default:
        return quoted(QString(separator));
    }
}

QString problem(const RefusedLine &r)
{
    QString why;
    switch (r.problem) {
    case LineProblem::OneField:
        why = QStringLiteral("nur ein Feld, es fehlt die Antwort");
        break;
    case LineProblem::EmptyQuestion:
        why = QStringLiteral("die Frage ist leer");
        break;
    case LineProblem::EmptyAnswer:
        why = QStringLiteral("die Antwort ist leer");
        break;
    case LineProblem::BadCompartment:
        why = QStringLiteral("%1 ist kein Fach (eine ganze Zahl von 1 bis 2.147.483.647)").arg(quoted(r.value));
        break;
    case LineProblem::BadSubject:
        why = r.value.isEmpty() ? QStringLiteral("das Gebiet ist leer")
                                : QStringLiteral("%1 ist kein gültiger Gebietsname").arg(quoted(r.value));
        break;
    case LineProblem::Deactivated:
        why = QStringLiteral("der Eintrag ist abgeschaltet");
        break;
    }
    return (r.entry ? QStringLiteral("Eintrag %1: %2") : QStringLiteral("Zeile %1: %2")).arg(r.line).arg(why);
}

QString importSummary(const ImportSummary &s, const QString &path)
{
    QStringList lines;
    lines << QStringLiteral("Import aus %1 abgeschlossen:").arg(quoted(path));
    lines << byNumber(s.cardsStored, "%1 Frage gespeichert", "%1 Fragen gespeichert");
    lines << byNumber(s.subjectsCreated.size(), "%1 Gebiet neu angelegt", "%1 Gebiete neu angelegt");
    lines << byNumber(s.duplicatesSkipped, "%1 doppelte Frage übersprungen", "%1 doppelte Fragen übersprungen");
    lines << (s.entries ? byNumber(s.linesRefused, "%1 Eintrag abgewiesen", "%1 Einträge abgewiesen")
                        : byNumber(s.linesRefused, "%1 Zeile abgewiesen", "%1 Zeilen abgewiesen"));
    if (s.progressKept > 0)
        lines << byNumber(s.progressKept, "%1 Frage mit ihrem Lernstand übernommen",
                          "%1 Fragen mit ihrem Lernstand übernommen");
    lines << byNumber(s.mediaDropped, "%1 Verweis auf Ton oder Bild weggelassen",
                      "%1 Verweise auf Ton oder Bild weggelassen");
    for (const auto &[deck, subject] : s.renamedDecks)
        lines << QStringLiteral("Der Stapel %1 heißt hier %2.").arg(quoted(deck), quoted(subject));
    return lines.join(QLatin1Char('\n'));
}

QString previewCount(qint64 cards, qint64 duplicates, int headLines)
{
    QString count;
    if (duplicates == 0) {
        count = cards == 1 ? QStringLiteral("1 Frage wird importiert.")
                           : QStringLiteral("%1 Fragen werden importiert.").arg(cards);
    } else {
        const qint64 stored = cards - duplicates;
        count = QStringLiteral("%1, davon %2 schon vorhanden: %3.")
                    .arg(byNumber(cards, "%1 Frage", "%1 Fragen"))
                    .arg(duplicates)
                    .arg(stored == 0   ? QStringLiteral("keine wird importiert")
                         : stored == 1 ? QStringLiteral("1 wird importiert")
                                       : QStringLiteral("%1 werden importiert").arg(stored));
    }
    if (headLines == 0)
        return count;
    return QStringLiteral("In den ersten %1 Zeilen: %2 Die übrigen werden beim Import gelesen.")
        .arg(headLines)
        .arg(count);
}

QString importCancelled() { return QStringLiteral("Der Import wurde abgebrochen.") + nothingStored(); }

QString exportSummary(qint64 cards, qint64 subjects, const QString &path, const QStringList &leftOut)
{
    QString summary = QStringLiteral("Export nach %1 abgeschlossen: %2 aus %3.")
                          .arg(quoted(path), byNumber(cards, "%1 Frage", "%1 Fragen"),
                               byNumber(subjects, "%1 Gebiet", "%1 Gebieten"));
    if (!leftOut.isEmpty())
        summary += QStringLiteral("\nNicht übernommen: ") + leftOut.join(QLatin1Char(' '));
    return summary;
}

QString kvtmlGradesMerged(qint64 cards)
{
    return byNumber(cards, "%1 Frage steht in Fach 9 oder höher;", "%1 Fragen stehen in Fach 9 oder höher;")
           + QStringLiteral(" kvtml kennt nur acht Stufen, sie kommen in die achte.");
}

QString kvtmlOneLocale(const QString &question, const QString &answer)
{
    return QStringLiteral("Die Gebiete werden in verschiedenen Sprachen vorgelesen; die Datei nennt je Seite nur "
                          "eine: %1 für die Frage, %2 für die Antwort.")
        .arg(quoted(question.isEmpty() ? QStringLiteral("de") : question),
             quoted(answer.isEmpty() ? QStringLiteral("de") : answer));
}

QString textLeavesMedia(qint64 cards)
{
    return byNumber(cards, "Die Bilder und Töne von %1 Frage;", "Die Bilder und Töne von %1 Fragen;")
           + QStringLiteral(" eine Textdatei kann sie nicht aufnehmen (kvtml und Anki-Pakete nehmen sie mit).");
}

QString exportFailed(const QString &path, const QString &detail)
{
    return QStringLiteral("Die Datei %1 kann nicht geschrieben werden (%2).\nEs wurde nichts exportiert.")
        .arg(quoted(path), detail);
}

QString storeProblem(const StoreError &error)
{
    // Where an import says more than the windows do, or less.
    QString reason;
    switch (error.kind()) {
    case StoreErrorKind::LegacyFormat:
        return legacyDataFile(error.path());
    case StoreErrorKind::Busy:
        reason = QStringLiteral("Die Datei wird gerade von einem anderen laufenden Tarlivo benutzt.");
        break;
    case StoreErrorKind::Duplicate:
        reason = QStringLiteral("Das Gebiet %1 wurde inzwischen angelegt; bitte importieren Sie noch einmal.")
                     .arg(quoted(error.detail()));
        break;
    case StoreErrorKind::Limit:
        reason = QStringLiteral("Die Warteschlange ist voll: Die höchste Stelle (2.147.483.647) ist erreicht.");
        break;
    case StoreErrorKind::SchemaMismatch:
        reason = QStringLiteral("Die Datei ist keine Tarlivo-Datenbank.");
        break;
    case StoreErrorKind::FileChanged:
        reason = QStringLiteral("Die Datei wurde gelöscht oder ersetzt, während Tarlivo lief.");
        break;
    default:
        reason = texts::storeReason(error);
        if (reason.isEmpty())
            reason = QStringLiteral("Die Datenbank meldet: %1").arg(error.detail());
        break;
    }
    return QStringLiteral("Fehler in der Datenbank %1:\n%2").arg(quoted(error.path()), reason) + nothingStored();
}

QString legacyDataFile(const QString &path)
{
    return QStringLiteral("Die Datenbank %1 stammt von der älteren Access-Version von Tarlivo.\n"
                          "Bitte starten Sie Tarlivo einmal ohne --importieren oder --exportieren, "
                          "damit es die Datei übernimmt, und versuchen Sie es dann noch einmal.")
        .arg(quoted(path));
}

} // namespace tarlivo::transfer::text
