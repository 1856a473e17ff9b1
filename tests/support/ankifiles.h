#pragma once

// Anki packages made on the spot: a collection written with SQLite in the layout
// of the Anki version asked for, packed with libzip (and zstd for the newest).

#include <QByteArray>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QString>
#include <QTemporaryFile>

#include <algorithm>
#include <cstring>
#include <sqlite3.h>
#include <zip.h>
#include <zstd.h>

namespace ankifiles {

enum class Layout { Anki2, Anki21, Anki21b };

// One card of a note and Anki's progress on it: type 0 new, 1 learning, 2 review,
// 3 relearning; ivl in days; due for a review card in days from the collection's crt.
struct Card {
    int ord = 0;
    int type = 0;
    int ivl = 0;
    int due = 0;
};

struct Note {
    QString deck; // "A::B"
    QStringList fields;
    QList<Card> cards = {Card()}; // written in this order, so with rising keys
};

inline const char *entryName(Layout layout)
{
    return layout == Layout::Anki21b ? "collection.anki21b"
                                     : (layout == Layout::Anki21 ? "collection.anki21" : "collection.anki2");
}

// The bytes of a collection database holding notes with their cards, created at crt.
inline QByteArray collection(Layout layout, const QList<Note> &notes, qint64 crt = 0)
{
    QTemporaryFile file;
    if (!file.open())
        return {};
    file.close();
    sqlite3 *db = nullptr;
    sqlite3_open(file.fileName().toUtf8().constData(), &db);
    // Anki's own collation, needed to declare its deck table.
    sqlite3_create_collation(db, "unicase", SQLITE_UTF8, nullptr,
                             [](void *, int a, const void *pa, int b, const void *pb) {
                                 const int r = std::memcmp(pa, pb, size_t(std::min(a, b)));
                                 return r != 0 ? r : a - b;
                             });
    auto exec = [&](const QString &sql) { sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, nullptr); };
    exec("BEGIN");
    exec("CREATE TABLE notes (id integer primary key, guid text, mid integer, mod integer, usn integer, "
         "tags text, flds text, sfld integer, csum integer, flags integer, data text)");
    exec("CREATE TABLE cards (id integer primary key, nid integer, did integer, ord integer, mod integer, "
         "type integer default 0, queue integer default 0, due integer default 0, ivl integer default 0)");
    exec(QStringLiteral("CREATE TABLE col (id integer primary key, crt integer, decks text); "
                        "INSERT INTO col (id, crt, decks) VALUES (1, %1, '{}')")
             .arg(crt));
    exec("CREATE INDEX ix_cards_nid ON cards (nid)");
    QList<QString> decks;
    for (const Note &n : notes)
        if (!decks.contains(n.deck))
            decks << n.deck;
    if (layout == Layout::Anki21b) {
        exec("CREATE TABLE decks (id integer primary key, name text not null collate unicase, mtime_secs integer)");
        for (int i = 0; i < decks.size(); ++i) {
            sqlite3_stmt *s = nullptr;
            sqlite3_prepare_v2(db, "INSERT INTO decks VALUES (?1, ?2, 0)", -1, &s, nullptr);
            sqlite3_bind_int64(s, 1, 100 + i);
            const QByteArray name = QString(decks[i]).replace(QStringLiteral("::"), QChar(0x1f)).toUtf8();
            sqlite3_bind_text(s, 2, name.constData(), int(name.size()), SQLITE_TRANSIENT);
            sqlite3_step(s);
            sqlite3_finalize(s);
        }
    } else {
        QJsonObject json;
        for (int i = 0; i < decks.size(); ++i)
            json.insert(QString::number(100 + i), QJsonObject{{"id", 100 + i}, {"name", decks[i]}});
        sqlite3_stmt *s = nullptr;
        sqlite3_prepare_v2(db, "UPDATE col SET decks = ?1", -1, &s, nullptr);
        const QByteArray text = QJsonDocument(json).toJson(QJsonDocument::Compact);
        sqlite3_bind_text(s, 1, text.constData(), int(text.size()), SQLITE_TRANSIENT);
        sqlite3_step(s);
        sqlite3_finalize(s);
    }
    sqlite3_stmt *note = nullptr;
    sqlite3_stmt *card = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO notes (id, flds) VALUES (?1, ?2)", -1, &note, nullptr);
    sqlite3_prepare_v2(
        db, "INSERT INTO cards (id, nid, did, ord, type, queue, ivl, due) VALUES (?1, ?2, ?3, ?4, ?5, ?5, ?6, ?7)", -1,
        &card, nullptr);
    for (int i = 0; i < notes.size(); ++i) {
        const QByteArray flds = notes[i].fields.join(QChar(0x1f)).toUtf8();
        sqlite3_bind_int64(note, 1, 1000 + i);
        sqlite3_bind_text(note, 2, flds.constData(), int(flds.size()), SQLITE_TRANSIENT);
        sqlite3_step(note);
        sqlite3_reset(note);
        for (int k = 0; k < notes[i].cards.size(); ++k) {
            const Card &c = notes[i].cards[k];
            sqlite3_bind_int64(card, 1, 100000 + 100 * i + k);
            sqlite3_bind_int64(card, 2, 1000 + i);
            sqlite3_bind_int64(card, 3, 100 + decks.indexOf(notes[i].deck));
            sqlite3_bind_int64(card, 4, c.ord);
            sqlite3_bind_int64(card, 5, c.type);
            sqlite3_bind_int64(card, 6, c.ivl);
            sqlite3_bind_int64(card, 7, c.due);
            sqlite3_step(card);
            sqlite3_reset(card);
        }
    }
    sqlite3_finalize(note);
    sqlite3_finalize(card);
    exec("COMMIT");
    sqlite3_close(db);
    QFile in(file.fileName());
    in.open(QIODevice::ReadOnly);
    return in.readAll();
}

inline QByteArray zstd(const QByteArray &bytes)
{
    QByteArray out(qsizetype(ZSTD_compressBound(size_t(bytes.size()))), '\0');
    const size_t n = ZSTD_compress(out.data(), size_t(out.size()), bytes.constData(), size_t(bytes.size()), 3);
    out.resize(qsizetype(n));
    return out;
}

// A zip at path holding the named entries (deflated); false on failure.
inline bool zipFile(const QString &path, const QList<QPair<QString, QByteArray>> &entries)
{
    QFile::remove(path);
    int error = 0;
    zip_t *z = zip_open(path.toUtf8().constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!z)
        return false;
    // libzip reads the buffers at zip_close; entries keeps them alive until then.
    for (const auto &[name, bytes] : entries) {
        zip_source_t *src = zip_source_buffer(z, bytes.constData(), zip_uint64_t(bytes.size()), 0);
        if (!src || zip_file_add(z, name.toUtf8().constData(), src, ZIP_FL_OVERWRITE) < 0) {
            zip_source_free(src);
            zip_discard(z);
            return false;
        }
    }
    return zip_close(z) == 0;
}

// The bytes of a protobuf varint and of a length-delimited field.
inline QByteArray varint(quint64 v)
{
    QByteArray out;
    do {
        out += char((v & 0x7f) | (v > 0x7f ? 0x80 : 0));
        v >>= 7;
    } while (v);
    return out;
}
inline QByteArray lengthField(int field, const QByteArray &bytes)
{
    return varint(quint64(field) << 3 | 2) + varint(quint64(bytes.size())) + bytes;
}

// A package whose media map names files, file i in the zip entry "i": a JSON map
// for the older layouts, a zstd-packed protobuf list with zstd-packed files for
// the newest.
inline bool packageWithMedia(const QString &path, Layout layout, const QList<Note> &notes,
                             const QList<QPair<QString, QByteArray>> &files)
{
    QByteArray bytes = collection(layout, notes);
    const bool newest = layout == Layout::Anki21b;
    if (newest)
        bytes = zstd(bytes);
    QList<QPair<QString, QByteArray>> entries{{QString::fromLatin1(entryName(layout)), bytes}};
    QJsonObject json;
    QByteArray list;
    for (int i = 0; i < files.size(); ++i) {
        json.insert(QString::number(i), files[i].first);
        list += lengthField(1, lengthField(1, files[i].first.toUtf8()));
        entries << qMakePair(QString::number(i), newest ? zstd(files[i].second) : files[i].second);
    }
    entries << qMakePair(QStringLiteral("media"), newest ? zstd(list) : QJsonDocument(json).toJson());
    return zipFile(path, entries);
}

// A package at path as the given Anki version writes it.
inline bool package(const QString &path, Layout layout, const QList<Note> &notes, qint64 crt = 0)
{
    QByteArray bytes = collection(layout, notes, crt);
    if (layout == Layout::Anki21b)
        bytes = zstd(bytes);
    return zipFile(path, {{QString::fromLatin1(entryName(layout)), bytes}, {QStringLiteral("media"), "{}"}});
}

} // namespace ankifiles
