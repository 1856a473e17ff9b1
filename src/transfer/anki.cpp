#include "transfer/anki.h"

#include "store/files.h"
#include "store/store.h"

#include "transfer/html.h"
#include "transfer/transfererror.h"
#include "transfer/transfertexts.h"
#include "transfer/ziplibrary.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QTemporaryFile>
#include <QUrl>

#include <sqlite3.h>
#include <zstd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

using namespace tarlivo::store;

namespace tarlivo::transfer {
namespace {

// Current Anki first: older collections in the same package are stand-ins.
const char *const kCollections[] = {"collection.anki21b", "collection.anki21", "collection.anki2"};

constexpr size_t kChunk = 256 * 1024;

struct ZipCloser {
    void operator()(zip_t *z) const { zipLibrary()->discard(z); }
};
struct ZipFileCloser {
    void operator()(zip_file_t *f) const { zipLibrary()->fclose(f); }
};
struct ZstdCloser {
    void operator()(ZSTD_DCtx *c) const { ZSTD_freeDCtx(c); }
};

// Anki declares some columns with a collation of its own; for reading they need only exist.
int compareCaseless(void *, int aLen, const void *a, int bLen, const void *b)
{
    const QString sa = QString::fromUtf8(static_cast<const char *>(a), aLen);
    const QString sb = QString::fromUtf8(static_cast<const char *>(b), bLen);
    return sa.compare(sb, Qt::CaseInsensitive);
}

// The bytes of a zstd frame, at most limit of them; null when damaged or larger.
QByteArray unzstd(const QByteArray &packed, qint64 limit)
{
    const unsigned long long size = ZSTD_getFrameContentSize(packed.constData(), size_t(packed.size()));
    if (size == ZSTD_CONTENTSIZE_ERROR || size == ZSTD_CONTENTSIZE_UNKNOWN || size > quint64(limit))
        return QByteArray();
    QByteArray out(qsizetype(size), Qt::Uninitialized);
    const size_t n = ZSTD_decompress(out.data(), size_t(size), packed.constData(), size_t(packed.size()));
    if (ZSTD_isError(n) || n != size)
        return QByteArray();
    return out;
}

bool isZstd(const QByteArray &bytes) { return bytes.startsWith(QByteArray("\x28\xb5\x2f\xfd", 4)); }

// A protobuf varint at bytes[*at]; false past the end or beyond 64 bits.
bool readVarint(const QByteArray &bytes, qsizetype *at, quint64 *value)
{
    *value = 0;
    for (int shift = 0; shift < 64 && *at < bytes.size(); shift += 7) {
        const auto b = quint8(bytes[(*at)++]);
        *value |= quint64(b & 0x7f) << shift;
        if (!(b & 0x80))
            return true;
    }
    return false;
}

// The newest packages list their files as a protobuf message: entries (field 1), each
// with its name (field 1) and, in some, the zip entry holding it (field 255); without
// that, the entry is named by the file's place in the list.
QHash<QString, QString> protobufMediaMap(const QByteArray &bytes)
{
    QHash<QString, QString> map;
    qsizetype at = 0;
    for (int index = 0; at < bytes.size();) {
        quint64 key = 0;
        quint64 length = 0;
        if (!readVarint(bytes, &at, &key) || (key & 7) != 2 || !readVarint(bytes, &at, &length)
            || length > quint64(bytes.size() - at))
            return map;
        const QByteArray entry = bytes.mid(at, qsizetype(length));
        at += qsizetype(length);
        if ((key >> 3) != 1)
            continue;
        QString name;
        QString zipName = QString::number(index++);
        for (qsizetype e = 0; e < entry.size();) {
            quint64 k = 0;
            quint64 v = 0;
            if (!readVarint(entry, &e, &k))
                break;
            if ((k & 7) == 0) {
                if (!readVarint(entry, &e, &v))
                    break;
                if ((k >> 3) == 255)
                    zipName = QString::number(v);
            } else if ((k & 7) == 2) {
                if (!readVarint(entry, &e, &v) || v > quint64(entry.size() - e))
                    break;
                if ((k >> 3) == 1)
                    name = QString::fromUtf8(entry.mid(e, qsizetype(v)));
                e += qsizetype(v);
            } else {
                break;
            }
        }
        if (!name.isEmpty())
            map.insert(name, zipName);
    }
    return map;
}

} // namespace

struct AnkiPackage::Impl {
    std::unique_ptr<zip_t, ZipCloser> archive;
    QHash<QString, QString> mediaEntries; // file name as the notes name it -> zip entry
    // Reads a whole entry, at most limit bytes and kMaxRatio times its packed size.
    QByteArray entry(const QString &name, qint64 limit) const
    {
        const ZipLibrary *zip = zipLibrary();
        const zip_int64_t index = zip->nameLocate(archive.get(), name.toUtf8().constData(), 0);
        zip_stat_t stat;
        zip->statInit(&stat);
        if (index < 0 || zip->statIndex(archive.get(), zip_uint64_t(index), 0, &stat) != 0
            || !(stat.valid & ZIP_STAT_SIZE) || !(stat.valid & ZIP_STAT_COMP_SIZE) || stat.size > zip_uint64_t(limit)
            || stat.size > zip_uint64_t(kMaxRatio) * std::max<zip_uint64_t>(stat.comp_size, 1))
            return QByteArray();
        std::unique_ptr<zip_file_t, ZipFileCloser> file(zip->fopenIndex(archive.get(), zip_uint64_t(index), 0));
        if (!file)
            return QByteArray();
        QByteArray bytes(qsizetype(stat.size), Qt::Uninitialized);
        qint64 done = 0;
        while (done < bytes.size()) {
            const zip_int64_t n = zip->fread(file.get(), bytes.data() + done, zip_uint64_t(bytes.size() - done));
            if (n <= 0)
                return QByteArray();
            done += n;
        }
        return bytes.isNull() ? QByteArray("") : bytes;
    }
    QTemporaryFile temp{QDir::temp().filePath(QStringLiteral("tarlivo-anki-XXXXXX.sqlite"))};
    sqlite3 *db = nullptr;
    sqlite3_stmt *notes = nullptr;
    QHash<qint64, QString> deckNames;
    QHash<qint64, qint64> noteDeck; // note key -> deck key
    struct Progress {
        qint64 ivl;
        qint64 due;
    };
    QHash<qint64, Progress> noteReview; // note key -> its first card's, when in review
    QString fallbackDeck;
    qint64 number = 0;

    ~Impl()
    {
        sqlite3_finalize(notes);
        sqlite3_close_v2(db);
    }
};

AnkiPackage::AnkiPackage(const QString &path) : d(std::make_unique<Impl>()), m_path(path)
{
    // Unpack the collection.
    const ZipLibrary *zip = zipLibrary();
    if (!zip)
        throw TransferError(text::zipLibraryMissing(path));
    int zipError = 0;
    std::unique_ptr<zip_t, ZipCloser> archive(
        zip->open(QFile::encodeName(path).constData(), ZIP_RDONLY | ZIP_CHECKCONS, &zipError));
    if (!archive) {
        if (zipError == ZIP_ER_NOENT)
            throw TransferError(text::fileMissing(path));
        if (zipError == ZIP_ER_OPEN || zipError == ZIP_ER_READ)
            throw TransferError(text::readFailed(path));
        zip_error_t error;
        zip->errorInitWithCode(&error, zipError);
        const QString detail = QString::fromUtf8(zip->errorStrerror(&error));
        zip->errorFini(&error);
        throw TransferError(text::zipDamaged(path, detail));
    }
    zip_int64_t index = -1;
    for (const char *name : kCollections) {
        index = zip->nameLocate(archive.get(), name, 0);
        if (index >= 0) {
            m_entry = QString::fromLatin1(name);
            break;
        }
    }
    if (index < 0)
        throw TransferError(text::noCollection(path));
    zip_stat_t stat;
    zip->statInit(&stat);
    if (zip->statIndex(archive.get(), zip_uint64_t(index), 0, &stat) != 0 || !(stat.valid & ZIP_STAT_SIZE)
        || !(stat.valid & ZIP_STAT_COMP_SIZE))
        throw TransferError(text::zipDamaged(path, QString::fromUtf8(zip->strerror(archive.get()))));
    const qint64 packed = qint64(std::min<zip_uint64_t>(stat.comp_size, zip_uint64_t(kMaxUnpacked)));
    const qint64 entryLimit = std::min(kMaxUnpacked, kMaxRatio * std::max<qint64>(packed, 1));
    if (stat.size > zip_uint64_t(entryLimit))
        throw TransferError(text::entryTooLarge(path, m_entry));
    std::unique_ptr<zip_file_t, ZipFileCloser> entry(zip->fopenIndex(archive.get(), zip_uint64_t(index), 0));
    if (!entry)
        throw TransferError(text::zipDamaged(path, QString::fromUtf8(zip->strerror(archive.get()))));

    errno = 0; // read by fileReason
    if (!d->temp.open())
        throw TransferError(text::tempFailed(path, files::fileReason(d->temp)));
    const bool zstd = m_entry.endsWith(QLatin1String("b"));
    std::unique_ptr<ZSTD_DCtx, ZstdCloser> dctx(zstd ? ZSTD_createDCtx() : nullptr);
    if (zstd) {
        // At most 128 MiB of window, whatever the frame asks for.
        ZSTD_DCtx_setParameter(dctx.get(), ZSTD_d_windowLogMax, 27);
    }
    std::vector<char> in(kChunk);
    std::vector<char> out(zstd ? ZSTD_DStreamOutSize() : 0);
    qint64 readTotal = 0;
    qint64 written = 0;
    size_t frameState = 0; // non-zero while a zstd frame is unfinished
    auto write = [&](const char *data, qint64 size) {
        written += size;
        // The zstd stream within the entry meets the same limits as the entry.
        if (written > kMaxUnpacked
            || (zstd && written > kMaxRatio * std::max<qint64>(qint64(stat.size), std::max<qint64>(readTotal, 1))))
            throw TransferError(text::entryTooLarge(path, m_entry));
        errno = 0;
        if (d->temp.write(data, size) != size)
            throw TransferError(text::tempFailed(path, files::fileReason(d->temp)));
    };
    for (;;) {
        const zip_int64_t n = zip->fread(entry.get(), in.data(), in.size());
        if (n < 0)
            throw TransferError(text::zipDamaged(path, QString::fromUtf8(zip->fileStrerror(entry.get()))));
        if (n == 0)
            break;
        readTotal += n;
        if (readTotal > entryLimit)
            throw TransferError(text::entryTooLarge(path, m_entry));
        if (!zstd) {
            write(in.data(), n);
            continue;
        }
        ZSTD_inBuffer input{in.data(), size_t(n), 0};
        while (input.pos < input.size) {
            ZSTD_outBuffer output{out.data(), out.size(), 0};
            frameState = ZSTD_decompressStream(dctx.get(), &output, &input);
            if (ZSTD_isError(frameState))
                throw TransferError(text::zstdDamaged(path, m_entry, QString::fromUtf8(ZSTD_getErrorName(frameState))));
            write(out.data(), qint64(output.pos));
        }
    }
    if (zstd) {
        // Output the decoder may still hold once all input is in.
        while (frameState != 0) {
            ZSTD_inBuffer input{nullptr, 0, 0};
            ZSTD_outBuffer output{out.data(), out.size(), 0};
            frameState = ZSTD_decompressStream(dctx.get(), &output, &input);
            if (ZSTD_isError(frameState))
                throw TransferError(text::zstdDamaged(path, m_entry, QString::fromUtf8(ZSTD_getErrorName(frameState))));
            if (output.pos == 0)
                break;
            write(out.data(), qint64(output.pos));
        }
        if (frameState != 0 || readTotal == 0)
            throw TransferError(text::zstdTruncated(path, m_entry));
    }
    errno = 0;
    if (!d->temp.flush())
        throw TransferError(text::tempFailed(path, files::fileReason(d->temp)));
    entry.reset();
    // Kept open for the pictures and sounds the notes name.
    d->archive = std::move(archive);
    readMediaMap();

    // Open it as the untrusted database it is.
    d->temp.seek(0);
    if (d->temp.read(16) != QByteArray("SQLite format 3\0", 16))
        throw TransferError(text::collectionNotSqlite(path, m_entry));
    const QByteArray uri = QUrl::fromLocalFile(d->temp.fileName()).toEncoded() + "?immutable=1";
    int rc = sqlite3_open_v2(uri.constData(), &d->db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr);
    auto damaged = [&](int code) {
        const QString detail =
            d->db ? QString::fromUtf8(sqlite3_errmsg(d->db)) : QString::fromUtf8(sqlite3_errstr(code));
        return TransferError(text::collectionDamaged(path, m_entry, detail));
    };
    if (rc != SQLITE_OK)
        throw damaged(rc);
    sqlite3 *db = d->db;
    sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_db_config(db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    sqlite3_db_config(db, SQLITE_DBCONFIG_ENABLE_TRIGGER, 0, nullptr);
    sqlite3_db_config(db, SQLITE_DBCONFIG_ENABLE_VIEW, 0, nullptr);
    sqlite3_db_config(db, SQLITE_DBCONFIG_ENABLE_LOAD_EXTENSION, 0, nullptr);
    sqlite3_limit(db, SQLITE_LIMIT_LENGTH, 64 * 1024 * 1024);
    sqlite3_limit(db, SQLITE_LIMIT_SQL_LENGTH, 100000);
    sqlite3_limit(db, SQLITE_LIMIT_COLUMN, 200);
    sqlite3_limit(db, SQLITE_LIMIT_EXPR_DEPTH, 100);
    sqlite3_limit(db, SQLITE_LIMIT_COMPOUND_SELECT, 10);
    sqlite3_limit(db, SQLITE_LIMIT_VDBE_OP, 100000);
    sqlite3_limit(db, SQLITE_LIMIT_FUNCTION_ARG, 8);
    sqlite3_limit(db, SQLITE_LIMIT_ATTACHED, 0);
    sqlite3_limit(db, SQLITE_LIMIT_LIKE_PATTERN_LENGTH, 100);
    sqlite3_limit(db, SQLITE_LIMIT_VARIABLE_NUMBER, 10);
    sqlite3_limit(db, SQLITE_LIMIT_TRIGGER_DEPTH, 1);
    sqlite3_create_collation_v2(db, "unicase", SQLITE_UTF8, nullptr, compareCaseless, nullptr);
    sqlite3_exec(db, "PRAGMA cell_size_check = ON; PRAGMA mmap_size = 0; PRAGMA query_only = ON", nullptr, nullptr,
                 nullptr);

    // Runs a fixed query, each row to row(); a failure is a damaged collection.
    auto query = [&](const char *sql, auto row) {
        sqlite3_stmt *stmt = nullptr;
        int code = sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr);
        if (code != SQLITE_OK) {
            sqlite3_finalize(stmt);
            throw damaged(code);
        }
        while ((code = sqlite3_step(stmt)) == SQLITE_ROW)
            row(stmt);
        const TransferError error = damaged(code);
        sqlite3_finalize(stmt);
        if (code != SQLITE_DONE)
            throw error;
    };
    auto textOf = [](sqlite3_stmt *stmt, int column) {
        return QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, column)),
                                 sqlite3_column_bytes(stmt, column));
    };

    QStringList tables;
    query("SELECT name FROM sqlite_master WHERE type = 'table'",
          [&](sqlite3_stmt *s) { tables << textOf(s, 0).toLower(); });
    for (const char *needed : {"notes", "cards"})
        if (!tables.contains(QLatin1String(needed)))
            throw TransferError(text::collectionLacksTable(path, m_entry, QLatin1String(needed)));

    if (tables.contains(QLatin1String("decks"))) {
        // Newer collections: a table, the levels of a name parted by 0x1f.
        query("SELECT id, name FROM decks", [&](sqlite3_stmt *s) {
            d->deckNames.insert(sqlite3_column_int64(s, 0), textOf(s, 1).replace(QChar(0x1f), QLatin1String("::")));
        });
    } else if (tables.contains(QLatin1String("col"))) {
        // Older ones: a JSON object of decks by key in the collection row.
        query("SELECT decks FROM col LIMIT 1", [&](sqlite3_stmt *s) {
            const QJsonObject decks = QJsonDocument::fromJson(textOf(s, 0).toUtf8()).object();
            for (auto it = decks.begin(); it != decks.end(); ++it) {
                const QJsonObject deck = it.value().toObject();
                const qint64 id = deck.contains(QLatin1String("id"))
                                      ? qint64(deck.value(QLatin1String("id")).toDouble())
                                      : it.key().toLongLong();
                d->deckNames.insert(id, deck.value(QLatin1String("name")).toString());
            }
        });
    }
    d->fallbackDeck = d->deckNames.value(1, QStringLiteral("Default"));
    qint64 crt = 0;
    if (tables.contains(QLatin1String("col")))
        query("SELECT crt FROM col LIMIT 1", [&](sqlite3_stmt *s) { crt = sqlite3_column_int64(s, 0); });
    // Anki's day begins at crt: its middle tells the date whatever hour Anki's day starts.
    m_collectionDay = Store::learningDay(crt + 12 * 3600);
    // A note's deck and progress are those of its first card. A collection
    // without progress columns has every card new.
    bool progress = false;
    query("SELECT name FROM pragma_table_info('cards')", [&](sqlite3_stmt *s) {
        progress = progress || textOf(s, 0).compare(QLatin1String("ivl"), Qt::CaseInsensitive) == 0;
    });
    query(progress ? "SELECT nid, did, type, ivl, due FROM cards ORDER BY nid, ord, id"
                   : "SELECT nid, did, 0, 0, 0 FROM cards ORDER BY nid, ord, id",
          [&](sqlite3_stmt *s) {
              const qint64 nid = sqlite3_column_int64(s, 0);
              if (d->noteDeck.contains(nid))
                  return;
              d->noteDeck.insert(nid, sqlite3_column_int64(s, 1));
              if (sqlite3_column_int64(s, 2) == 2)
                  d->noteReview.insert(nid, {sqlite3_column_int64(s, 3), sqlite3_column_int64(s, 4)});
          });
    QSet<QString> seen;
    query("SELECT id FROM notes ORDER BY id", [&](sqlite3_stmt *s) {
        ++m_noteCount;
        const auto deck = d->noteDeck.constFind(sqlite3_column_int64(s, 0));
        const QString name =
            deck == d->noteDeck.constEnd() ? d->fallbackDeck : d->deckNames.value(*deck, d->fallbackDeck);
        if (!seen.contains(name)) {
            seen.insert(name);
            m_decksInUse << name;
        }
    });
    rc = sqlite3_prepare_v2(db, "SELECT id, flds FROM notes ORDER BY id", -1, &d->notes, nullptr);
    if (rc != SQLITE_OK)
        throw damaged(rc);
}

AnkiPackage::~AnkiPackage() = default;

void AnkiPackage::restart()
{
    sqlite3_reset(d->notes);
    d->number = 0;
}

bool AnkiPackage::next(Note &note)
{
    const int rc = sqlite3_step(d->notes);
    if (rc == SQLITE_DONE)
        return false;
    if (rc != SQLITE_ROW)
        throw TransferError(text::collectionDamaged(m_path, m_entry, QString::fromUtf8(sqlite3_errmsg(d->db))));
    note.number = ++d->number;
    const qint64 nid = sqlite3_column_int64(d->notes, 0);
    const auto review = d->noteReview.constFind(nid);
    note.review = review != d->noteReview.constEnd();
    note.ivl = note.review ? review->ivl : 0;
    note.due = note.review ? review->due : 0;
    const auto deck = d->noteDeck.constFind(nid);
    note.deck = deck == d->noteDeck.constEnd() ? d->fallbackDeck : d->deckNames.value(*deck, d->fallbackDeck);
    const QString fields = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(d->notes, 1)),
                                             sqlite3_column_bytes(d->notes, 1));
    const QList<QStringView> parts = QStringView(fields).split(QChar(0x1f));
    note.fields = int(parts.size());
    note.media = 0;
    note.files.clear();
    MediaRefs question;
    MediaRefs answer;
    note.question = htmlToText(parts.value(0).toString(), &note.media, &question);
    note.answer = parts.size() > 1 ? htmlToText(parts[1].toString(), &note.media, &answer) : QString();
    const auto take = [&](const QStringList &names, CardSide side, MediaKind kind) {
        for (const QString &name : names) {
            bool taken = false;
            for (const MediaInput &m : note.files)
                taken = taken || (m.side == side && m.kind == kind);
            QByteArray bytes = taken ? QByteArray() : mediaFile(name);
            if (bytes.isNull()) {
                ++note.media;
                continue;
            }
            note.files.push_back({side, kind, name, std::move(bytes)});
        }
    };
    take(question.pictures, CardSide::Question, MediaKind::Picture);
    take(question.sounds, CardSide::Question, MediaKind::Sound);
    take(answer.pictures, CardSide::Answer, MediaKind::Picture);
    take(answer.sounds, CardSide::Answer, MediaKind::Sound);
    return true;
}

void AnkiPackage::readMediaMap()
{
    QByteArray map = d->entry(QStringLiteral("media"), kMaxMediaFile);
    if (isZstd(map))
        map = unzstd(map, kMaxMediaFile);
    if (map.trimmed().startsWith('{')) {
        const QJsonObject json = QJsonDocument::fromJson(map).object();
        for (auto it = json.begin(); it != json.end(); ++it)
            if (it.value().isString())
                d->mediaEntries.insert(it.value().toString(), it.key());
    } else {
        d->mediaEntries = protobufMediaMap(map);
    }
}

QByteArray AnkiPackage::mediaFile(const QString &name) const
{
    auto it = d->mediaEntries.constFind(name);
    if (it == d->mediaEntries.constEnd())
        it = d->mediaEntries.constFind(QUrl::fromPercentEncoding(name.toUtf8()));
    if (it == d->mediaEntries.constEnd())
        return QByteArray();
    QByteArray bytes = d->entry(*it, kMaxMediaFile);
    // The newest packages pack each file with zstd as well.
    if (isZstd(bytes) && m_entry.endsWith(QLatin1String("b")))
        bytes = unzstd(bytes, kMaxMediaFile);
    return bytes;
}

} // namespace tarlivo::transfer
