#pragma once

// The tables and triggers that sync keeps in the data file (store/syncschema.cpp).

#include "store/sqlite.h"

#include <QByteArray>
#include <QtGlobal>

#include <utility>
#include <vector>

namespace tarlivo::store {

// The fields of each kind of entity, each with a clock of its own.
enum SubjectField {
    SyncSubjectExists,
    SyncSubjectName,
    SyncSubjectIntervals,
    SyncSubjectDirection,
    SyncSubjectTolerances,
    SyncSubjectLanguages,
    kSubjectFields
};
enum CardField { SyncCardExists, SyncCardText, SyncCardPlace, SyncCardReversePlace, SyncCardSubject, kCardFields };

// The schema step that adds them (schema version 9).
void createSyncSchema(sql::Database &db);

// The journal's trigger on new cards (name, statement): a large import drops it inside
// its write and makes it again at its end, so that no card pays for asking whether the
// triggers are quiet.
std::pair<QByteArray, QByteArray> newCardTrigger();

// tblAbgleichStand.Gefuellt: the clocks not filled yet, filled, or filled and a large
// write cut off before its end (what it had marked as written may be in no file).
enum FillState { NotFilled = 0, Filled = 1, WriteCutOff = 2 };
FillState fillState(sql::Database &db);

// A large write of new rows (an import) keeps the triggers quiet with a row in
// tblAbgleichStill and then journals what it made, all at the one time read first:
// the subjects given, and the cards of keys first to last, each with the fields their
// insert triggers would have set (a card's reverse place too, where it has one). Before
// the first sync (NotFilled) it journals nothing: that sync's fill gives them their
// clocks, as it does for everything older.
qint64 journalTime(sql::Database &db);
void journalNewSubjects(sql::Database &db, const std::vector<qint32> &subjects, qint64 time);
void journalNewCards(sql::Database &db, qint64 firstCard, qint64 lastCard, qint64 time);
// The reverse places the cards of keys first to last were given after they were journalled.
void journalReversePlaces(sql::Database &db, qint64 firstCard, qint64 lastCard, qint64 time);

} // namespace tarlivo::store
