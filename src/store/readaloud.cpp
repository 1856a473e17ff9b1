// Reading aloud and sound: the subjects' languages and the practice settings.
#include "store/readaloud.h"

#include "store/cards.h"

namespace tarlivo::store {

ReadAloud::ReadAloud(Store &store) : StorePart(store) {}

SubjectLanguages ReadAloud::subjectLanguages(qint32 subjectId)
{
    sql::Statement q(m_db, "SELECT SpracheFrage, SpracheAntwort FROM tblGebietSprache WHERE idGebiet = ?1");
    if (q.bind(1, subjectId).step())
        return {q.text(0), q.text(1)};
    return {};
}

void ReadAloud::setSubjectLanguages(qint32 subjectId, const SubjectLanguages &languages)
{
    StoreAccess::prepareWrite(m_store);
    sql::WriteTransaction tx(m_db);
    Cards(m_store).requireSubject(subjectId);
    // No language on either side is kept as no row.
    if (languages.question.isEmpty() && languages.answer.isEmpty()) {
        sql::Statement(m_db, "DELETE FROM tblGebietSprache WHERE idGebiet = ?1").bind(1, subjectId).run();
    } else {
        sql::Statement(m_db,
                       "INSERT INTO tblGebietSprache (idGebiet, SpracheFrage, SpracheAntwort) VALUES (?1, ?2, ?3) "
                       "ON CONFLICT (idGebiet) DO UPDATE SET SpracheFrage = excluded.SpracheFrage, "
                       "SpracheAntwort = excluded.SpracheAntwort")
            .bind(1, subjectId)
            .bind(2, languages.question.isNull() ? QStringLiteral("") : languages.question)
            .bind(3, languages.answer.isNull() ? QStringLiteral("") : languages.answer)
            .run();
    }
    tx.commit();
}

bool ReadAloud::setting(const QString &name, bool fallback)
{
    sql::Statement q(m_db, "SELECT Wert FROM tblEinstellung WHERE Name = ?1");
    return q.bind(1, name).step() ? q.int64(0) != 0 : fallback;
}

void ReadAloud::setSetting(const QString &name, bool on)
{
    StoreAccess::prepareWrite(m_store);
    // One statement, one row: nothing read first.
    sql::Statement(m_db, "INSERT INTO tblEinstellung (Name, Wert) VALUES (?1, ?2) "
                         "ON CONFLICT (Name) DO UPDATE SET Wert = excluded.Wert")
        .bind(1, name)
        .bind(2, qint64(on ? 1 : 0))
        .run();
}

// The store's reading aloud, as its callers know it.
SubjectLanguages Store::subjectLanguages(qint32 subjectId) { return ReadAloud(*this).subjectLanguages(subjectId); }
void Store::setSubjectLanguages(qint32 subjectId, const SubjectLanguages &languages)
{
    ReadAloud(*this).setSubjectLanguages(subjectId, languages);
}
bool Store::setting(const QString &name, bool fallback) { return ReadAloud(*this).setting(name, fallback); }
void Store::setSetting(const QString &name, bool on) { ReadAloud(*this).setSetting(name, on); }

} // namespace tarlivo::store
