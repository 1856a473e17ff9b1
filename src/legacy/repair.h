#pragma once

// The repair rules: LegacyData made into the rows of a new store, with a count of every repair.

#include "legacy/streamreader.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

namespace tarlivo::legacy {

// What was taken over, and every repair of broken data that this needed.
struct LegacyImportReport {
    int subjects = 0; // subjects in the new store, made ones included
    int cards = 0;
    int cardsWithoutPosition = 0;                   // given compartment 1 at the end of the queue
    int cardsWithoutPlace = 0;                      // position without a queue place: put at the end
    int positionsWithoutCard = 0;                   // left out
    int duplicatePositions = 0;                     // a card's second position row, left out
    int cardsWithoutSubject = 0;                    // filed under orphanSubject
    QString orphanSubject;                          // the subject made for them; empty when none was needed
    int compartmentsRaised = 0;                     // compartment below 1 or missing, set to 1
    QStringList unnamedSubjects;                    // names given to subjects whose name was NULL
    QList<QPair<QString, QString>> renamedSubjects; // old and new name of doubled names
    QString originalPath;                           // where the old file now lies
};

// Writes data into a new store at storePath (which must not exist), repairing broken
// data as the report says. Throws LegacyImportError; storePath may then be left half
// written, and the caller removes it.
LegacyImportReport writeLegacyStore(const LegacyData &data, const QString &storePath);

} // namespace tarlivo::legacy
