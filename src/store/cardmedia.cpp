// Pictures and sounds on cards (store/media.h): each content once in tblMedium, linked to card
// sides by tblKarteMedium. Triggers drop a content with its last link.

#include "store/cardmedia.h"

#include "store/cards.h"

#include <QCryptographicHash>
#include <QFileInfo>

#include <sqlite3.h>

#include <set>

namespace tarlivo::store {
namespace {

QByteArray checksumOf(const QByteArray &bytes) { return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256); }

// The contents linked only from the cards a statement's ?1 names: they go with them.
constexpr const char *kMediaOnlyOfCards =
    "SELECT m.idMedium, m.Name, m.Art, m.Pruefsumme, m.Inhalt FROM tblMedium AS m "
    "WHERE m.idMedium IN (SELECT idMedium FROM tblKarteMedium WHERE idFrageAntwort IN "
    "(SELECT value FROM json_each(?1))) AND NOT EXISTS (SELECT 1 FROM tblKarteMedium AS k "
    "WHERE k.idMedium = m.idMedium AND k.idFrageAntwort NOT IN (SELECT value FROM json_each(?1)))";
constexpr const char *kLinksOfCards = "SELECT idFrageAntwort, Seite, Art, idMedium FROM tblKarteMedium "
                                      "WHERE idFrageAntwort IN (SELECT value FROM json_each(?1))";

MediaRow mediaRowOf(const sql::Statement &q)
{
    return MediaRow{q.int64(0), q.text(1), MediaKind(q.int64(2)), q.blob(3), q.blob(4)};
}

MediaLinkRow linkRowOf(const sql::Statement &q)
{
    return MediaLinkRow{qint32(q.int64(0)), CardSide(q.int64(1)), MediaKind(q.int64(2)), q.int64(3)};
}

} // namespace

bool mediaKindOfName(const QString &name, MediaKind *kind)
{
    static const std::set<QString> pictures = {QStringLiteral("png"), QStringLiteral("jpg"),  QStringLiteral("jpeg"),
                                               QStringLiteral("gif"), QStringLiteral("webp"), QStringLiteral("svg"),
                                               QStringLiteral("bmp")};
    static const std::set<QString> sounds = {QStringLiteral("wav"),  QStringLiteral("mp3"), QStringLiteral("ogg"),
                                             QStringLiteral("opus"), QStringLiteral("oga"), QStringLiteral("flac"),
                                             QStringLiteral("m4a")};
    const QString suffix = QFileInfo(name).suffix().toLower();
    if (pictures.count(suffix))
        *kind = MediaKind::Picture;
    else if (sounds.count(suffix))
        *kind = MediaKind::Sound;
    else
        return false;
    return true;
}

MediaLibrary::MediaLibrary(Store &store) : StorePart(store) {}

std::vector<MediaFile> MediaLibrary::cardMedia(qint64 cardId, CardSide side)
{
    sql::Statement q(m_db, "SELECT m.idMedium, m.Name, m.Art FROM tblKarteMedium AS k JOIN tblMedium AS m "
                           "ON m.idMedium = k.idMedium WHERE k.idFrageAntwort = ?1 AND k.Seite = ?2 ORDER BY k.Art");
    q.bind(1, cardId).bind(2, qint64(side));
    std::vector<MediaFile> files;
    while (q.step())
        files.push_back({q.int64(0), q.text(1), MediaKind(q.int64(2))});
    return files;
}

QByteArray MediaLibrary::bytes(qint64 mediaId)
{
    sql::Statement q(m_db, "SELECT Inhalt FROM tblMedium WHERE idMedium = ?1");
    return q.bind(1, mediaId).step() ? q.blob(0) : QByteArray();
}

std::vector<qint32> MediaLibrary::cardsWithMedia(const std::vector<qint32> &cardIds)
{
    QString list = QStringLiteral("[");
    for (qint32 id : cardIds)
        list += (list.size() > 1 ? QStringLiteral(",") : QString()) + QString::number(id);
    sql::Statement q(m_db, "SELECT DISTINCT idFrageAntwort FROM tblKarteMedium "
                           "WHERE idFrageAntwort IN (SELECT value FROM json_each(?1))");
    q.bind(1, list + QLatin1Char(']'));
    std::vector<qint32> ids;
    while (q.step())
        ids.push_back(qint32(q.int64(0)));
    return ids;
}

std::optional<MediaRow> MediaLibrary::row(qint64 mediaId)
{
    sql::Statement q(m_db, "SELECT idMedium, Name, Art, Pruefsumme, Inhalt FROM tblMedium WHERE idMedium = ?1");
    if (!q.bind(1, mediaId).step())
        return std::nullopt;
    return mediaRowOf(q);
}

std::optional<MediaLinkRow> MediaLibrary::linkRow(qint32 cardId, CardSide side, MediaKind kind)
{
    sql::Statement q(m_db, "SELECT idFrageAntwort, Seite, Art, idMedium FROM tblKarteMedium "
                           "WHERE idFrageAntwort = ?1 AND Seite = ?2 AND Art = ?3");
    if (!q.bind(1, cardId).bind(2, qint64(side)).bind(3, qint64(kind)).step())
        return std::nullopt;
    return linkRowOf(q);
}

qint64 MediaLibrary::add(const QString &name, MediaKind kind, const QByteArray &bytes, Change *change)
{
    const QByteArray checksum = checksumOf(bytes);
    {
        sql::Statement q(m_db, "SELECT idMedium FROM tblMedium WHERE Pruefsumme = ?1");
        if (q.bindBlob(1, checksum).step())
            return q.int64(0);
    }
    sql::Statement(m_db, "INSERT INTO tblMedium (Name, Art, Inhalt, Pruefsumme) VALUES (?1, ?2, ?3, ?4)")
        .bind(1, name.isNull() ? QStringLiteral("") : name)
        .bind(2, qint64(kind))
        .bindBlob(3, bytes)
        .bindBlob(4, checksum)
        .run();
    const qint64 id = sqlite3_last_insert_rowid(m_db.handle());
    if (change)
        change->media.push_back({std::nullopt, MediaRow{id, name, kind, checksum, bytes}});
    return id;
}

void MediaLibrary::link(qint32 cardId, CardSide side, MediaKind kind, qint64 mediaId)
{
    sql::Statement(m_db, "INSERT INTO tblKarteMedium (idFrageAntwort, Seite, Art, idMedium) VALUES (?1, ?2, ?3, ?4)")
        .bind(1, cardId)
        .bind(2, qint64(side))
        .bind(3, qint64(kind))
        .bind(4, mediaId)
        .run();
}

void MediaLibrary::recordOfCards(const QString &keyList, Change &change)
{
    {
        sql::Statement q(m_db, kLinksOfCards);
        q.bind(1, keyList);
        while (q.step())
            change.mediaLinks.push_back({linkRowOf(q), std::nullopt});
    }
    sql::Statement q(m_db, kMediaOnlyOfCards);
    q.bind(1, keyList);
    while (q.step())
        change.media.push_back({mediaRowOf(q), std::nullopt});
}

void MediaLibrary::applyEdits(qint32 cardId, const std::vector<MediaEdit> &edits, Change &change)
{
    for (const MediaEdit &edit : edits) {
        const std::optional<MediaLinkRow> before = linkRow(cardId, edit.side, edit.kind);
        std::optional<MediaLinkRow> after;
        if (!edit.remove)
            after = MediaLinkRow{cardId, edit.side, edit.kind, add(edit.name, edit.kind, edit.bytes, &change)};
        if (before == after)
            continue;
        if (before) {
            // Read before the link goes: its trigger drops a content no other card uses.
            std::optional<MediaRow> content = row(before->mediaId);
            unlink(*before);
            if (content && !holds(before->mediaId, before->kind))
                change.media.push_back({std::move(content), std::nullopt});
        }
        if (after)
            link(cardId, edit.side, edit.kind, after->mediaId);
        change.mediaLinks.push_back({before, after});
    }
}

bool MediaLibrary::holdsContent(const QByteArray &checksum)
{
    sql::Statement q(m_db, "SELECT 1 FROM tblMedium WHERE Pruefsumme = ?1");
    return q.bindBlob(1, checksum).step();
}

bool MediaLibrary::holds(qint64 mediaId, MediaKind kind)
{
    sql::Statement q(m_db, "SELECT 1 FROM tblMedium WHERE idMedium = ?1 AND Art = ?2");
    return q.bind(1, mediaId).bind(2, qint64(kind)).step();
}

bool MediaLibrary::inUse(qint64 mediaId)
{
    sql::Statement used(m_db, "SELECT 1 FROM tblKarteMedium WHERE idMedium = ?1");
    return used.bind(1, mediaId).step();
}

void MediaLibrary::insertRow(const MediaRow &row)
{
    sql::Statement(m_db, "INSERT INTO tblMedium (idMedium, Name, Art, Inhalt, Pruefsumme) VALUES (?1, ?2, ?3, ?4, ?5)")
        .bind(1, row.id)
        .bind(2, row.name)
        .bind(3, qint64(row.kind))
        .bindBlob(4, row.bytes)
        .bindBlob(5, row.checksum)
        .run();
}

void MediaLibrary::removeRow(qint64 mediaId)
{
    sql::Statement(m_db, "DELETE FROM tblMedium WHERE idMedium = ?1").bind(1, mediaId).run();
}

void MediaLibrary::unlink(const MediaLinkRow &row)
{
    sql::Statement(m_db, "DELETE FROM tblKarteMedium WHERE idFrageAntwort = ?1 AND Seite = ?2 AND Art = ?3")
        .bind(1, row.cardId)
        .bind(2, qint64(row.side))
        .bind(3, qint64(row.kind))
        .run();
}

// One coming back must not find its content stored under another key.
void StepRows<MediaRow>::check(Step &step, const RowChange<MediaRow> &c)
{
    const qint64 id = Step::key(c).id;
    MediaLibrary media(step.store());
    if (!(media.row(id) == step.from(c)))
        step.conflict(QStringLiteral("media file %1").arg(id));
    if (!step.from(c) && step.to(c) && media.holdsContent(step.to(c)->checksum))
        step.conflict(QStringLiteral("content of media file %1").arg(id));
}

void StepRows<MediaRow>::arrive(Step &step, const RowChange<MediaRow> &c)
{
    if (step.from(c))
        return;
    MediaLibrary(step.store()).insertRow(*step.to(c));
}

void StepRows<MediaRow>::leave(Step &step, const RowChange<MediaRow> &c)
{
    const qint64 id = step.from(c)->id;
    MediaLibrary media(step.store());
    if (media.inUse(id))
        step.conflict(QStringLiteral("cards of media file %1").arg(id));
    media.removeRow(id);
}

void StepRows<MediaLinkRow>::check(Step &step, const RowChange<MediaLinkRow> &c)
{
    const MediaLinkRow &key = Step::key(c);
    if (!(MediaLibrary(step.store()).linkRow(key.cardId, key.side, key.kind) == step.from(c)))
        step.conflict(QStringLiteral("media of card %1").arg(key.cardId));
}

void StepRows<MediaLinkRow>::arrive(Step &step, const RowChange<MediaLinkRow> &c)
{
    if (step.from(c))
        leave(step, c);
    const MediaLinkRow &row = *step.to(c);
    MediaLibrary media(step.store());
    if (!Cards(step.store()).cardText(row.cardId) || !media.holds(row.mediaId, row.kind))
        step.conflict(QStringLiteral("media of card %1").arg(row.cardId));
    media.link(row.cardId, row.side, row.kind, row.mediaId);
}

void StepRows<MediaLinkRow>::leave(Step &step, const RowChange<MediaLinkRow> &c)
{
    MediaLibrary(step.store()).unlink(*step.from(c));
}

// The store's media operations, as its callers know them. Reading changes nothing,
// so the const ones lend the part their store.
std::vector<MediaFile> Store::cardMedia(qint64 cardId, CardSide side) const
{
    return MediaLibrary(const_cast<Store &>(*this)).cardMedia(cardId, side);
}
QByteArray Store::mediaBytes(qint64 mediaId) const { return MediaLibrary(const_cast<Store &>(*this)).bytes(mediaId); }
std::vector<qint32> Store::cardsWithMedia(const std::vector<qint32> &cardIds)
{
    return MediaLibrary(*this).cardsWithMedia(cardIds);
}

} // namespace tarlivo::store
