#pragma once

#include "legacy/legacyimport.h"
#include "store/change.h"
#include "store/storeerror.h"

#include <QString>
#include <QStringList>

#include <vector>

// The texts the program shows, in one place.
namespace tarlivo::store {
struct CompartmentCount;
}

namespace tarlivo::ui::text {

QString programTitle();
QString cancel();

// Checks of new and renamed subject names.
QString noTextEntered();
QString numbersNotAllowedNew();    // "Eingaben"
QString numbersNotAllowedRename(); // "Eingabe"
QString subjectExists();
QString newSubjectPrompt();
QString newSubjectTitle();
QString renamePrompt();
QString renameTitle();

// Practice.
QString compartmentEmpty(qint64 compartment);
QString missingInput();

// Messages of our own, where the program would otherwise stop.
QString unknownSubject(const QString &name);
QString subjectWithoutCards(const QString &name);
QString notACompartment(const QString &typed);
QString noCardOnDisplay();
QString cardMissing(qint64 cardId);
// The card was deleted meanwhile (the file is sound).
QString cardGone();
QString compartmentLimit();
QString queueLimit();
QString backupDiskFull(const QString &path);
QString readOnlyDataFile(const QString &path); // opened for reading only
// Undo or redo refused because the rows changed meanwhile.
QString undoConflict(bool redo);

// A failed store operation; whileOpening when the store was being opened.
QString storeError(const store::StoreError &error, bool whileOpening = false);

// Taking over the file of the older Access-based program.
QString legacyProgress(qint64 cardsRead, qint64 cardsDeclared);
QString legacyImported(const legacy::LegacyImportReport &report, const QString &path);
QString legacyImportFailed(const legacy::LegacyImportError &error);

// Where the data file lies (--datei and the user's data folder).
QString dataFileIsFolder(const QString &path);
QString dataFolderMissing(const QString &path, const QString &folder);
QString dataFolderNotWritable(const QString &path, const QString &folder);
QString dataFolderCannotCreate(const QString &folder, const QString &reason);
QString dataHomeUnknown();
// The card list.
QString cardCount(qint64 count); // "1 Karte", "3 Karten"
QString searchHits(qint64 count);
// While the hits of a common text are still being counted: the ones found so far.
QString searchHitsCounting(qint64 found);
QString searchTooShort();
QString deleteCardsQuestion(qint64 count);
QString deleteSubjectQuestion(const QString &name, qint64 cards);
QString compartmentPrompt();
QString compartmentTitle();
QString notAWholeCompartment(const QString &typed);
QString noCardSelected();
QString noOtherSubject();
QString deleteCardsLabel(qint64 count);
QString moveCardsLabel(const QString &subject);
QString setCompartmentLabel(qint32 compartment, qint64 count);
QString editCardLabel(const QString &question);
// Steps in the undo menu, and the menu's own texts.
QString verdictLabel(store::Verdict verdict, const QString &question);
QString quizLabel(const QString &question); // "Abfrage „Hund“"
QString newCardLabel(const QString &question);
QString undoMenu(const QString &step);
QString redoMenu(const QString &step);
QString keyHelp();
QString deleteSubjectLabel(const QString &name);
QString cardOrSubjectGone();
QString editTitle();
QString chooseSubjectTitle();
QString chooseSubjectPrompt(qint64 cards);
QString chooseSubjectToDelete();

// Statistics.
QString statisticsCards(qint64 cards);             // "Karten: 1.234"
QString statisticsToday(qint64 verdicts);          // "Heute: 3 Urteile"
QString statisticsStreak(qint32 days);             // "Tage in Folge geübt: 4"
QString statisticsUnknown(const QString &caption); // caption without a figure, after a read failure
QString compartmentChartTitle();
QString verdictChartTitle(int days);
QString compartmentsFrom(qint32 compartment); // the bar of all compartments from compartment on
QString verdictRight();
QString verdictAlmostRight();
QString verdictWrong();
QString noCardsToChart();
QString noVerdictsToChart(int days);
QString statisticsUnreadable();
QString statisticsHeading(const QString &subject);
QString saveImageTitle();
QString saveImageFilter();
QString imageTypeUnknown(const QString &path);
QString imageNotSaved(const QString &path, const QString &reason);
QString imageNotWritten();
QString forecastChartTitle(int days);
QString nothingFallsDue(int days);

// The plan, due practice and the backdrop's status line.
QString allDuePractised();
QString dueToday(qint64 cards, qint64 subjects); // "Heute fällig: 37 Karten in 3 Gebieten"
QString intervalLabel(qint32 compartment, const QString &subject);
QString intervalInvalid(const QString &typed, qint32 max);
QString noDueCard(); // the next due date of nothing
QString overdueSince(const QString &date);
QString placesCountedTip(); // what "Karten" counts in the plan
QString planChooseSubject();

// Sound and reading aloud.
QString noReadingLanguage();
QString noSpeechService();
QString noVoiceFor(const QString &languageName, const QString &locale);
QString noSoundOutput();
QString soundUnplayable(const QString &fileName);
// Both directions.
QStringList directionChoices(); // in the order of DirectionSetting
QString reverseCaption(const QString &subject);
QString directionLabel(const QString &subject);
QString directionProgress(const QString &subject);
QString reverseColumn(); // the card list's column of the reverse compartment
QString statisticsReverse(qint64 places, const std::vector<store::CompartmentCount> &compartments);

} // namespace tarlivo::ui::text
