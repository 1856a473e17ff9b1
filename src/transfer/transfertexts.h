#pragma once

#include "store/storeerror.h"
#include "transfer/importtypes.h"

#include <QString>
#include <QStringList>

// The German texts of import and export, in one place.
namespace tarlivo::transfer::text {

// Files that cannot be read.
QString fileMissing(const QString &path);
QString fileUnreadable(const QString &path);
QString fileEmpty(const QString &path);
QString readFailed(const QString &path);
QString notText(const QString &path);
QString lineTooLong(const QString &path, qint64 line);
QString unclosedQuote(const QString &path, qint64 line);
QString noCards(const QString &path);
// Every one of count entries (or lines) lacks its question or its answer.
QString oneSidedOnly(const QString &path, qint64 count, bool entries);

// Anki packages.
QString zipDamaged(const QString &path, const QString &detail);
QString noCollection(const QString &path);
QString entryTooLarge(const QString &path, const QString &entry);
QString zstdDamaged(const QString &path, const QString &entry, const QString &detail);
QString zstdTruncated(const QString &path, const QString &entry);
QString collectionNotSqlite(const QString &path, const QString &entry);
QString collectionDamaged(const QString &path, const QString &entry, const QString &detail);
QString collectionLacksTable(const QString &path, const QString &entry, const QString &table);
QString tempFailed(const QString &path, const QString &detail);
QString zipLibraryMissing(const QString &path);

// XML and gzip files (kvtml, Pauker).
QString notWellFormed(const QString &path, qint64 line, const QString &detail);
QString endsInEntry(const QString &path);
QString xmlEntities(const QString &path);
QString gzipDamaged(const QString &path, const QString &detail);
QString gzipTooLarge(const QString &path);
QString unknownKind(const QString &path);
QString entryTooLong(const QString &path, qint64 entry);

// Subjects.
QString noSubjectGiven(const QString &path);
QString invalidSubjectName(const QString &name);
QString subjectNotFound(const QString &name);
QString noDataFile(const QString &path);

// What the dialog and the summary show.
QString encodingName(Encoding encoding);
QString separatorName(QChar separator);
QString problem(const RefusedLine &refused);
QString importSummary(const ImportSummary &summary, const QString &path);
// The preview's count: cards read, of them already there (and left out); of the
// file's first headLines lines only, when given.
QString previewCount(qint64 cards, qint64 duplicates, int headLines = 0);
QString importCancelled();
// leftOut: what the file's kind cannot carry, one sentence each.
QString exportSummary(qint64 cards, qint64 subjects, const QString &path, const QStringList &leftOut = {});
QString kvtmlGradesMerged(qint64 cards);
QString kvtmlOneLocale(const QString &question, const QString &answer);
QString textLeavesMedia(qint64 cards);
QString exportFailed(const QString &path, const QString &detail);
QString storeProblem(const store::StoreError &error);
QString legacyDataFile(const QString &path);

} // namespace tarlivo::transfer::text
