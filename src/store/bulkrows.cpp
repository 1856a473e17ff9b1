#include "store/bulkimport.h"

#include <sqlite3.h>

namespace tarlivo::store {

// The rows go in as they are, keys and all: the triggers check each place's subject
// and count the day buckets, which for the few thousand cards of such a file costs
// next to nothing.
void BulkImport::createWithRows(const QString &path, const std::vector<SubjectRow> &subjects,
                                const std::vector<CardRow> &cards, qint64 enteredAt)
{
    sql::Database db;
    db.open(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    Store::createSchema(db);
    db.exec("PRAGMA foreign_keys = ON");
    sql::WriteTransaction tx(db);
    // One use of the cached statement per row: each use resets it when done.
    for (const SubjectRow &subject : subjects)
        sql::Statement(db, "INSERT INTO tblGebiet (idGebiet, NameGebiet) VALUES (?1, ?2)")
            .bind(1, subject.id)
            .bind(2, subject.name)
            .run();
    for (const CardRow &card : cards)
        sql::Statement(db, "INSERT INTO tblFrageAntwort (idFrageAntwort, idGebiet, Frage, Antwort) "
                           "VALUES (?1, ?2, ?3, ?4)")
            .bind(1, card.id)
            .bind(2, card.subjectId)
            .bind(3, card.question)
            .bind(4, card.answer)
            .run();
    for (const CardRow &card : cards)
        sql::Statement(db, "INSERT INTO tblPosition (idFrageAntwort, Fach, Stelle, idGebiet) VALUES (?1, ?2, ?3, ?4)")
            .bind(1, card.id)
            .bind(2, card.compartment)
            .bind(3, card.queuePlace)
            .bind(4, card.subjectId)
            .run();
    sql::Statement(db, "INSERT INTO tblFachSeit (idFrageAntwort, Seit, Tag) SELECT idFrageAntwort, ?1, ?2 "
                       "FROM tblFrageAntwort")
        .bind(1, enteredAt)
        .bind(2, Store::learningDay(enteredAt))
        .run();
    tx.commit();
}

} // namespace tarlivo::store
