#include "store/searchindex.h"

namespace tarlivo {

SearchIndex::SearchIndex(Store &store) : StorePart(store) {}

qint64 SearchIndex::backlog()
{
    sql::Statement q(m_db, "SELECT COUNT(*) FROM tblFrageAntwort "
                           "WHERE idFrageAntwort > (SELECT BisKarte FROM tblSucheStand)");
    return q.step() ? q.int64(0) : 0;
}

qint64 SearchIndex::catchUp(int maxCards)
{
    // Not a change of the user's: no backup is due for it. A write while the day's copy
    // is taken would make it start over, and the first change wait for a whole copy:
    // the index waits (the next change wakes it).
    if (!StoreAccess::prepareQuietWrite(m_store))
        return 0;
    sql::WriteTransaction tx(m_db);
    // The next cards by key, read where the mark stands now: another running copy
    // may have moved it meanwhile.
    sql::Statement(m_db, "INSERT INTO tblSuche (rowid, Frage, Antwort) "
                         "SELECT idFrageAntwort, Frage, Antwort FROM tblFrageAntwort "
                         "WHERE idFrageAntwort > (SELECT BisKarte FROM tblSucheStand) "
                         "ORDER BY idFrageAntwort LIMIT ?1")
        .bind(1, maxCards)
        .run();
    sql::Statement(m_db, "UPDATE tblSucheStand SET BisKarte = COALESCE((SELECT MAX(idFrageAntwort) FROM "
                         "(SELECT idFrageAntwort FROM tblFrageAntwort WHERE idFrageAntwort > BisKarte "
                         "ORDER BY idFrageAntwort LIMIT ?1)), BisKarte)")
        .bind(1, maxCards)
        .run();
    const qint64 left = backlog();
    tx.commit();
    return left;
}

qint64 Store::searchBacklog() { return SearchIndex(*this).backlog(); }
qint64 Store::catchUpSearchIndex(int maxCards) { return SearchIndex(*this).catchUp(maxCards); }

} // namespace tarlivo
