#pragma once

// The tables and triggers that sync keeps in the data file (store/syncschema.cpp).

#include "store/sqlite.h"

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

} // namespace tarlivo::store
