#include "ui/messages.h"

#include "store/store.h"
#include "texts/wording.h"

#include <QDir>
#include <QLocale>
#include <QRegularExpression>

using namespace tarlivo::store;
using namespace tarlivo::legacy;

namespace tarlivo::ui::text {
namespace {

using texts::byNumber;
using texts::quoted;

} // namespace

QString programTitle() { return QStringLiteral("Tarlivo"); }
QString cancel() { return QStringLiteral("Abbrechen"); }

QString noTextEntered() { return QStringLiteral("Ungültige Eingabe, es wurde kein Text eingegeben."); }
QString numbersNotAllowedNew() { return QStringLiteral("Ungültige Eingaben, Zahlen sind nicht erlaubt."); }
QString numbersNotAllowedRename() { return QStringLiteral("Ungültige Eingabe, Zahlen sind nicht erlaubt."); }
QString subjectExists() { return QStringLiteral("Dieses Gebiet gibt es schon."); }
QString newSubjectPrompt() { return QStringLiteral("Bitte geben Sie ein Gebiet ein."); }
QString newSubjectTitle() { return QStringLiteral("Gebietseingabe"); }
QString renamePrompt() { return QStringLiteral("Bitte geben Sie einen neuen Gebietsnamen ein."); }
QString renameTitle() { return QStringLiteral("Gebietseditierung"); }

QString compartmentEmpty(qint64 compartment)
{
    return QStringLiteral("Fach : %1 ist leer!\nBitte neu wählen!").arg(compartment);
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

QString cardGone()
{
    return QStringLiteral(
        "Diese Frage gibt es nicht mehr; sie wurde inzwischen gelöscht. Es wurde nichts gespeichert.");
}

QString compartmentLimit()
{
    return QStringLiteral("Die Frage ist schon im höchsten Fach (2.147.483.647) und kann nicht weiter aufsteigen.\n"
                          "Es wurde nichts gespeichert.");
}

QString queueLimit()
{
    return QStringLiteral("Die Warteschlange ist voll: Die höchste Stelle (2.147.483.647) ist erreicht.\n"
                          "Es wurde nichts gespeichert.");
}

QString readOnlyDataFile(const QString &path)
{
    return QStringLiteral("Die Datendatei „%1“ ist schreibgeschützt und wird nur gelesen: Änderungen können "
                          "nicht gespeichert werden.")
        .arg(path);
}

QString backupDiskFull(const QString &path)
{
    return QStringLiteral("Die tägliche Sicherungskopie %1 konnte nicht angelegt werden: Der Datenträger ist voll.\n"
                          "Ihre Eingaben werden weiter gespeichert; bitte schaffen Sie bald Platz.")
        .arg(quoted(path));
}

QString undoConflict(bool redo)
{
    return (redo ? QStringLiteral("Der Schritt kann nicht wiederholt werden: ")
                 : QStringLiteral("Der Schritt kann nicht rückgängig gemacht werden: "))
           + QStringLiteral("Die Karten wurden inzwischen an anderer Stelle geändert, etwa von einem zweiten "
                            "laufenden Tarlivo, oder die Datei wurde ersetzt.\nEs wurde nichts verändert.");
}

QString storeError(const StoreError &error, bool whileOpening)
{
    switch (error.kind()) {
    case StoreErrorKind::NotConnected:
        return QStringLiteral("Es ist keine Datenbank geöffnet.\nBitte wählen Sie zuerst ein Gebiet.");
    case StoreErrorKind::Duplicate:
        return subjectExists();
    case StoreErrorKind::Conflict:
        return undoConflict(error.detail().startsWith(QLatin1String("redo")));
    default:
        break;
    }
    const QString file = quoted(error.path());
    const QString reason = texts::storeReason(error);
    if (whileOpening)
        return QStringLiteral("Die Datenbank %1 kann nicht geöffnet werden.\n%2\nDie Datei wurde nicht verändert.")
            .arg(file, reason);
    return QStringLiteral("Fehler in der Datenbank %1:\n%2\nEs wurde nichts gespeichert.").arg(file, reason);
}

QString legacyProgress(qint64 cardsRead, qint64 cardsDeclared)
{
    if (cardsDeclared <= 0)
        return QStringLiteral("Die Datei der älteren Access-Version wird gelesen …");
    return QStringLiteral("Die Datei der älteren Access-Version wird gelesen …\n%1 von %2 Fragen gelesen")
        .arg(cardsRead)
        .arg(cardsDeclared);
}

QString legacyImported(const LegacyImportReport &r, const QString &path)
{
    QStringList lines;
    lines << QStringLiteral("Die Datei %1 stammte von der älteren Access-Version von Tarlivo und wurde übernommen:")
                 .arg(quoted(path));
    lines << byNumber(r.subjects, "%1 Gebiet", "%1 Gebiete") + QStringLiteral(" und ")
                 + byNumber(r.cards, "%1 Frage", "%1 Fragen")
                 + QStringLiteral(", jede in ihrem Fach und an ihrem Platz in der Übung.");

    QStringList repairs;
    if (r.cardsWithoutPosition)
        repairs << byNumber(r.cardsWithoutPosition, "%1 Frage hatte keinen Platz und steht jetzt am Ende von Fach 1.",
                            "%1 Fragen hatten keinen Platz und stehen jetzt am Ende von Fach 1.");
    if (r.cardsWithoutPlace)
        repairs << byNumber(r.cardsWithoutPlace, "%1 Frage hatte keine Stelle und steht jetzt am Ende ihres Fachs.",
                            "%1 Fragen hatten keine Stelle und stehen jetzt am Ende ihres Fachs.");
    if (r.positionsWithoutCard)
        repairs << byNumber(r.positionsWithoutCard, "%1 Platzangabe gehörte zu keiner Frage und wurde weggelassen.",
                            "%1 Platzangaben gehörten zu keiner Frage und wurden weggelassen.");
    if (r.duplicatePositions)
        repairs << byNumber(r.duplicatePositions, "%1 doppelte Platzangabe wurde weggelassen.",
                            "%1 doppelte Platzangaben wurden weggelassen.");
    if (r.cardsWithoutSubject)
        repairs << byNumber(r.cardsWithoutSubject, "%1 Frage gehörte zu keinem Gebiet und steht jetzt im Gebiet %2.",
                            "%1 Fragen gehörten zu keinem Gebiet und stehen jetzt im Gebiet %2.")
                       .arg(quoted(r.orphanSubject));
    if (r.compartmentsRaised)
        repairs << byNumber(r.compartmentsRaised, "%1 Frage stand in keinem gültigen Fach und steht jetzt in Fach 1.",
                            "%1 Fragen standen in keinem gültigen Fach und stehen jetzt in Fach 1.");
    for (const QString &name : r.unnamedSubjects)
        repairs << QStringLiteral("Ein Gebiet hatte keinen Namen und heißt jetzt %1.").arg(quoted(name));
    constexpr int kNamedRenames = 5;
    if (r.renamedSubjects.size() <= kNamedRenames) {
        for (const auto &rename : r.renamedSubjects)
            repairs << QStringLiteral("Das Gebiet %1 gab es mehrmals; das spätere heißt jetzt %2.")
                           .arg(quoted(rename.first), quoted(rename.second));
    } else {
        repairs << QStringLiteral("%1 Gebietsnamen gab es mehrmals; die späteren tragen jetzt eine Nummer, "
                                  "zum Beispiel %2.")
                       .arg(r.renamedSubjects.size())
                       .arg(quoted(r.renamedSubjects.first().second));
    }
    if (!repairs.isEmpty()) {
        lines << QStringLiteral("Fehlerhafte Einträge der alten Datei wurden dabei so behoben:");
        for (const QString &repair : repairs)
            lines << QStringLiteral("– ") + repair;
    }
    lines << QStringLiteral("Die alte Datei liegt unverändert unter %1.").arg(quoted(r.originalPath));
    return lines.join(QLatin1Char('\n'));
}

QString legacyImportFailed(const LegacyImportError &e)
{
    using Kind = LegacyImportError::Kind;
    const QString table = quoted(e.table);
    const QString column = quoted(e.column);
    QString reason;
    bool damaged = true;
    switch (e.kind()) {
    case Kind::ReaderMissing:
        reason = QStringLiteral("Das Programm zum Lesen der Datei, %1, fehlt. Bitte installieren Sie Tarlivo neu.")
                     .arg(quoted(e.detail()));
        damaged = false;
        break;
    case Kind::ReaderCrashed:
        reason = QStringLiteral("Die Datei ist beschädigt: Das Programm zum Lesen der Datei ist dabei abgestürzt.");
        break;
    case Kind::ReaderFailed:
        reason = QStringLiteral("Die Datei ist beschädigt: Das Programm zum Lesen der Datei hat mittendrin aufgehört.");
        break;
    case Kind::Stalled:
        reason = QStringLiteral("Die Datei ist beschädigt: Das Programm zum Lesen der Datei kam nicht weiter "
                                "und wurde beendet.");
        break;
    case Kind::CannotOpen:
        reason = QStringLiteral("Die Datei ist beschädigt oder keine lesbare Access-Datenbank.");
        break;
    case Kind::Truncated:
        reason =
            QStringLiteral("Die Datei ist unvollständig: Ihr Ende fehlt, vielleicht wurde sie nicht ganz kopiert.");
        break;
    case Kind::MissingTable:
        reason = QStringLiteral("Die Tabelle %1 fehlt oder ist nicht lesbar; die Datei ist beschädigt "
                                "oder stammt nicht von Tarlivo.")
                     .arg(table);
        break;
    case Kind::MissingColumn:
        reason = QStringLiteral("In der Tabelle %1 fehlt die Spalte %2, oder sie hat einen unerwarteten Typ.")
                     .arg(table, column);
        break;
    case Kind::Damaged:
        reason =
            e.table.isEmpty()
                ? QStringLiteral("Die Datei ist beschädigt: Ein Text kann nicht vollständig gelesen werden.")
            : e.column.isEmpty()
                ? QStringLiteral("Die Datei ist beschädigt: In der Tabelle %1 kann ein Eintrag nicht gelesen werden.")
                      .arg(table)
                : QStringLiteral("Die Datei ist beschädigt: In der Tabelle %1 kann ein Wert der Spalte %2 "
                                 "nicht gelesen werden.")
                      .arg(table, column);
        break;
    case Kind::CountMismatch:
        reason = QStringLiteral("Die Datei ist beschädigt: Die Tabelle %1 meldet %2 Einträge, gelesen wurden %3.")
                     .arg(table)
                     .arg(e.declared)
                     .arg(e.read);
        break;
    case Kind::BadValue:
        reason = QStringLiteral("Die Datei ist beschädigt: In der Tabelle %1 steht in der Spalte %2 "
                                "der ungültige Wert %3.")
                     .arg(table, column, quoted(e.detail()));
        break;
    case Kind::DuplicateKey:
        reason = QStringLiteral("Die Datei ist beschädigt: In der Tabelle %1 kommt der Schlüssel %2 mehrmals vor.")
                     .arg(table, e.detail());
        break;
    case Kind::Busy:
        reason = QStringLiteral("Die Datei wird gerade von einem anderen laufenden Tarlivo übernommen.\n"
                                "Bitte versuchen Sie es gleich noch einmal.");
        damaged = false;
        break;
    case Kind::Changed:
        reason = QStringLiteral("Die Datei wurde während der Übernahme ersetzt. Bitte versuchen Sie es noch einmal.");
        damaged = false;
        break;
    case Kind::WriteFailed:
        reason = e.diskFull   ? QStringLiteral("Die neue Datenbank kann nicht geschrieben werden: "
                                                 "Der Datenträger ist voll.")
                 : e.readOnly ? QStringLiteral("Die neue Datenbank kann nicht angelegt werden: "
                                               "Das Verzeichnis ist schreibgeschützt.")
                              : QStringLiteral("Die neue Datenbank kann nicht geschrieben werden: %1").arg(e.detail());
        damaged = false;
        break;
    case Kind::Unsound:
        reason = QStringLiteral("Die neue Datenbank hat die Prüfung nicht bestanden und wurde verworfen (%1).")
                     .arg(e.detail());
        damaged = false;
        break;
    case Kind::Cancelled:
        reason = QStringLiteral("Die Übernahme wurde abgebrochen.");
        damaged = false;
        break;
    }
    QString text = QStringLiteral("Die Datei %1 stammt von der älteren Access-Version von Tarlivo "
                                  "und konnte nicht übernommen werden.\n%2")
                       .arg(quoted(e.path()), reason);
    if (damaged)
        text += QStringLiteral("\nBitte reparieren Sie die Datei mit Access („Komprimieren und reparieren“) "
                               "oder nehmen Sie eine unbeschädigte Kopie.");
    return text + QStringLiteral("\nDie Datei wurde nicht verändert.");
}

QString dataFileIsFolder(const QString &path)
{
    return QStringLiteral("%1 ist ein Ordner. Bitte geben Sie eine Datei an, etwa %2.")
        .arg(quoted(path), quoted(QDir(path).filePath(QStringLiteral("Tarlivo.mdb"))));
}

QString dataFolderMissing(const QString &path, const QString &folder)
{
    return QStringLiteral("Die Datei %1 kann nicht angelegt werden: Den Ordner %2 gibt es nicht.")
        .arg(quoted(path), quoted(folder));
}

QString dataFolderNotWritable(const QString &path, const QString &folder)
{
    return QStringLiteral("Die Datei %1 kann nicht angelegt werden: Im Ordner %2 dürfen Sie keine Dateien anlegen.")
        .arg(quoted(path), quoted(folder));
}

QString dataFolderCannotCreate(const QString &folder, const QString &reason)
{
    return QStringLiteral("Der Ordner %1 für die Daten von Tarlivo kann nicht angelegt werden (%2).")
        .arg(quoted(folder), reason);
}

QString dataHomeUnknown()
{
    return QStringLiteral("Der Ordner für die Daten von Tarlivo ist unbekannt: Weder XDG_DATA_HOME noch HOME ist "
                          "gesetzt. Bitte geben Sie die Datei mit --datei an.");
}
QString cardCount(qint64 count)
{
    return count == 1 ? QStringLiteral("1 Karte")
                      : QStringLiteral("%1 Karten").arg(QLocale(QLocale::German).toString(count));
}
QString searchHits(qint64 count) { return QStringLiteral("%1 Treffer").arg(QLocale(QLocale::German).toString(count)); }
QString searchHitsCounting(qint64 found)
{
    return QStringLiteral("Mindestens %1 Treffer, Suche läuft …").arg(QLocale(QLocale::German).toString(found));
}
QString searchTooShort() { return QStringLiteral("Suche ab 3 Zeichen"); }
QString deleteCardsQuestion(qint64 count) { return cardCount(count) + QStringLiteral(" löschen?"); }
QString deleteSubjectQuestion(const QString &name, qint64 cards)
{
    if (cards == 0)
        return QStringLiteral("Gebiet „%1“ (ohne Karten) löschen?").arg(name);
    return QStringLiteral("Gebiet „%1“ mit %2 löschen?").arg(name, cardCount(cards));
}
QString compartmentPrompt() { return QStringLiteral("In welches Fach (1 bis 2.147.483.647)?"); }
QString compartmentTitle() { return QStringLiteral("In Fach setzen"); }
QString notAWholeCompartment(const QString &typed)
{
    return QStringLiteral("Ungültige Eingabe, „%1“ ist keine ganze Zahl von 1 bis 2.147.483.647.\n"
                          "Es wurde nichts geändert.")
        .arg(typed);
}
QString noCardSelected() { return QStringLiteral("Es ist keine Karte ausgewählt."); }
QString noOtherSubject() { return QStringLiteral("Es gibt kein Gebiet, in das die Karten verschoben werden können."); }
QString deleteCardsLabel(qint64 count) { return QStringLiteral("Löschen von ") + cardCount(count); }
QString moveCardsLabel(const QString &subject) { return QStringLiteral("Verschieben nach „%1“").arg(subject); }
QString setCompartmentLabel(qint32 compartment, qint64 count)
{
    return QStringLiteral("Fach %1 für %2").arg(compartment).arg(cardCount(count));
}
// The first words of a question name its card in the undo menu.
QString cardName(const QString &question)
{
    QString shown = question.section(QRegularExpression(QStringLiteral("[\\r\\n]")), 0, 0).simplified();
    if (shown.size() > 20) {
        const int space = shown.lastIndexOf(QLatin1Char(' '), 20);
        shown = shown.left(space > 0 ? space : 20) + QStringLiteral(" …");
    }
    return QStringLiteral("„%1“").arg(shown);
}
QString editCardLabel(const QString &question) { return QStringLiteral("Bearbeiten von ") + cardName(question); }
QString quizLabel(const QString &question) { return QStringLiteral("Abfrage ") + cardName(question); }
QString verdictLabel(Verdict verdict, const QString &question)
{
    const char *name = verdict == Verdict::Right         ? "Richtig"
                       : verdict == Verdict::AlmostRight ? "Fast Richtig"
                                                         : "Falsch";
    return QString::fromUtf8(name) + QStringLiteral(" für ") + cardName(question);
}
QString newCardLabel(const QString &question) { return QStringLiteral("Neue Karte ") + cardName(question); }
QString undoMenu(const QString &step)
{
    return step.isEmpty() ? QStringLiteral("&Rückgängig") : QStringLiteral("&Rückgängig: ") + step;
}
QString redoMenu(const QString &step)
{
    return step.isEmpty() ? QStringLiteral("&Wiederherstellen") : QStringLiteral("&Wiederherstellen: ") + step;
}
QString keyHelp()
{
    return QStringLiteral("Tasten beim Üben (wenn die Schreibmarke nicht in der Fach-Auswahl steht):\n"
                          "Leertaste – Antwort zeigen oder verbergen\n"
                          "1 – Falsch\n"
                          "2 – Fast Richtig\n"
                          "3 – Richtig\n"
                          "T – den Ton der gezeigten Seite noch einmal abspielen\n"
                          "V – die gezeigte Seite vorlesen\n\n"
                          "In der Abfrage:\n"
                          "Eingabetaste – die Antwort prüfen, dann weiter zur nächsten Karte\n"
                          "1 bis 4 – eine der Antworten wählen\n\n"
                          "Überall:\n"
                          "Strg+Z – Rückgängig\n"
                          "Strg+Y oder Strg+Umschalt+Z – Wiederherstellen\n"
                          "Strg+L – Kartenliste\n"
                          "Strg+P – Lernplan\n"
                          "Strg+Umschalt+P – Drucken\n"
                          "Strg+B – Abfrage\n"
                          "Strg+Q – Beenden\n\n"
                          "Die Tasten mit Alt und dem unterstrichenen Buchstaben drücken die Schaltflächen.");
}
QString deleteSubjectLabel(const QString &name) { return QStringLiteral("Gebiet „%1“ löschen").arg(name); }
QString cardOrSubjectGone()
{
    return QStringLiteral("Eine der Karten oder das Gebiet gibt es nicht mehr – vermutlich wurde es von einem "
                          "anderen laufenden Tarlivo gelöscht.\nEs wurde nichts geändert; die Liste zeigt jetzt den "
                          "neuen Stand.");
}
QString editTitle() { return QStringLiteral("Karte bearbeiten"); }
QString chooseSubjectTitle() { return QStringLiteral("In Gebiet verschieben"); }
QString chooseSubjectPrompt(qint64 cards) { return cardCount(cards) + QStringLiteral(" verschieben nach:"); }
QString chooseSubjectToDelete() { return QStringLiteral("Welches Gebiet soll gelöscht werden?"); }

// Statistics.
QString statisticsCards(qint64 cards)
{
    return QStringLiteral("Karten: %1").arg(QLocale(QLocale::German).toString(cards));
}
QString statisticsToday(qint64 verdicts)
{
    return verdicts == 1 ? QStringLiteral("Heute: 1 Urteil")
                         : QStringLiteral("Heute: %1 Urteile").arg(QLocale(QLocale::German).toString(verdicts));
}
QString statisticsStreak(qint32 days) { return QStringLiteral("Tage in Folge geübt: %1").arg(days); }
QString statisticsUnknown(const QString &caption) { return caption + QStringLiteral(": –"); }
QString compartmentChartTitle() { return QStringLiteral("Karten je Fach"); }
QString verdictChartTitle(int days) { return QStringLiteral("Urteile je Tag (letzte %1 Tage)").arg(days); }
QString compartmentsFrom(qint32 compartment) { return QStringLiteral("ab %1").arg(compartment); }
QString verdictRight() { return QStringLiteral("Richtig"); }
QString verdictAlmostRight() { return QStringLiteral("Fast Richtig"); }
QString verdictWrong() { return QStringLiteral("Falsch"); }
QString noCardsToChart() { return QStringLiteral("Hier gibt es noch keine Karten."); }
QString noVerdictsToChart(int days)
{
    return QStringLiteral("In den letzten %1 Tagen wurde hier nicht geübt.").arg(days);
}
QString statisticsUnreadable() { return QStringLiteral("Die Statistik konnte nicht gelesen werden."); }
QString statisticsHeading(const QString &subject) { return QStringLiteral("Statistik – %1").arg(subject); }
QString saveImageTitle() { return QStringLiteral("Als Bild speichern"); }
QString saveImageFilter() { return QStringLiteral("PNG-Bild (*.png);;SVG-Grafik (*.svg)"); }
QString imageTypeUnknown(const QString &path)
{
    return QStringLiteral("Das Bild %1 wurde nicht gespeichert: Bilder werden als PNG (Endung .png) oder als SVG "
                          "(Endung .svg) gespeichert.")
        .arg(quoted(path));
}
QString imageNotSaved(const QString &path, const QString &reason)
{
    return QStringLiteral("Das Bild konnte nicht als %1 gespeichert werden:\n%2").arg(quoted(path), reason);
}
QString imageNotWritten() { return QStringLiteral("Die Datei konnte nicht vollständig geschrieben werden."); }
QString forecastChartTitle(int days) { return QStringLiteral("Fällige Karten je Tag (nächste %1 Tage)").arg(days); }
QString nothingFallsDue(int days)
{
    return QStringLiteral("In den nächsten %1 Tagen wird hier nichts fällig.").arg(days);
}

QString allDuePractised() { return QStringLiteral("Alle fälligen Karten sind geübt."); }
QString dueToday(qint64 cards, qint64 subjects)
{
    if (cards == 0)
        return QStringLiteral("Heute ist nichts fällig.");
    const QLocale german(QLocale::German, QLocale::Germany);
    return QStringLiteral("Heute fällig: %1 %2 in %3 %4")
        .arg(german.toString(cards), cards == 1 ? QStringLiteral("Karte") : QStringLiteral("Karten"),
             german.toString(subjects), subjects == 1 ? QStringLiteral("Gebiet") : QStringLiteral("Gebieten"));
}
QString intervalLabel(qint32 compartment, const QString &subject)
{
    return QStringLiteral("Abstand von Fach %1 in „%2“").arg(compartment).arg(subject);
}
QString intervalInvalid(const QString &typed, qint32 max)
{
    return QStringLiteral("Ungültiger Abstand „%1“: bitte eine ganze Zahl von Tagen von 0 bis %2 eingeben. "
                          "Nichts wurde gespeichert.")
        .arg(typed)
        .arg(max);
}
QString noDueCard() { return QStringLiteral("–"); }
QString overdueSince(const QString &date) { return QStringLiteral("überfällig seit %1").arg(date); }
QString placesCountedTip()
{
    return QStringLiteral("Plätze der geübten Richtungen: Eine Karte, die in beide Richtungen geübt wird, "
                          "zählt zweimal.");
}
QString planChooseSubject() { return QStringLiteral("Wählen Sie oben ein Gebiet, um seine Fächer zu sehen."); }

QString noReadingLanguage()
{
    return QStringLiteral("Für diese Seite der Karten ist keine Sprache eingestellt.\n"
                          "Im Lernplan (Karten → Lernplan …) lässt sich für jedes Gebiet die Sprache der Fragen "
                          "und der Antworten wählen.");
}
QString noSpeechService()
{
    return QStringLiteral("Vorlesen ist nicht möglich: Es antwortet kein Sprachdienst.\n"
                          "Installieren Sie die Pakete „speech-dispatcher“, „espeak-ng“ und "
                          "„qt6-speech-speechd-plugin“ (zum Beispiel mit „sudo apt install speech-dispatcher "
                          "espeak-ng qt6-speech-speechd-plugin“) und starten Sie Tarlivo neu.\n"
                          "Das Üben geht ohne Vorlesen weiter.");
}
QString noVoiceFor(const QString &languageName, const QString &locale)
{
    return QStringLiteral("Für die Sprache „%1“ (%2) gibt es keine Stimme.\n"
                          "Installieren Sie „espeak-ng“, das Stimmen für viele Sprachen mitbringt, und "
                          "„speech-dispatcher“ (zum Beispiel mit „sudo apt install espeak-ng speech-dispatcher“).\n"
                          "Das Üben geht ohne Vorlesen weiter.")
        .arg(languageName.isEmpty() ? locale : languageName, locale);
}
QString noSoundOutput()
{
    return QStringLiteral("Töne können nicht abgespielt werden: Qt Multimedia fehlt.\n"
                          "Installieren Sie das Paket „libqt6multimedia6“ mit „gstreamer1.0-plugins-good“.\n"
                          "Das Üben geht ohne Ton weiter.");
}
QString soundUnplayable(const QString &fileName)
{
    return QStringLiteral("Der Ton „%1“ lässt sich nicht abspielen; die Datei ist vermutlich beschädigt "
                          "oder in einem unbekannten Format.")
        .arg(fileName);
}
QStringList directionChoices()
{
    return {QStringLiteral("Frage -> Antwort"), QStringLiteral("Antwort -> Frage"), QStringLiteral("Beide Richtungen")};
}
QString reverseCaption(const QString &subject) { return subject + QStringLiteral(" (umgekehrt)"); }
QString directionLabel(const QString &subject) { return QStringLiteral("Richtung von „%1“").arg(subject); }
QString directionProgress(const QString &subject)
{
    return QStringLiteral("Die Karten von „%1“ bekommen ihren Platz für die Gegenrichtung …").arg(subject);
}
QString reverseColumn() { return QStringLiteral("Fach umgekehrt"); }
QString statisticsReverse(qint64 places, const std::vector<CompartmentCount> &compartments)
{
    const QLocale german(QLocale::German);
    QStringList each;
    for (const CompartmentCount &c : compartments)
        each << QStringLiteral("Fach %1: %2").arg(c.compartment).arg(german.toString(c.count));
    return QStringLiteral("umgekehrt: %1 (%2)").arg(german.toString(places), each.join(QStringLiteral(", ")));
}

} // namespace tarlivo::ui::text
