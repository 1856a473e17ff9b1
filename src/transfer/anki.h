#pragma once

#include "store/media.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

struct sqlite3;

namespace tarlivo::transfer {

// The notes of an Anki package (.apkg, .colpkg). The collection is unpacked into a
// temporary file of our own and read as untrusted: read-only, defensive, without
// triggers or views, with tight limits.
class AnkiPackage {
public:
    // A picture or sound past this is left out as unreadable.
    static constexpr qint64 kMaxMediaFile = 64 * 1024 * 1024;
    // Unpacked data past this is refused, as is an entry unpacking to more than
    // kMaxRatio times its packed size.
    static constexpr qint64 kMaxUnpacked = qint64(2) * 1024 * 1024 * 1024;
    static constexpr qint64 kMaxRatio = 200;

    struct Note {
        qint64 number = 0; // from 1, in the order of the notes' keys
        int fields = 0;
        QString question; // plain text
        QString answer;
        QString deck;  // the deck's full name, "Sprachen::Spanisch"
        int media = 0; // sound and image references dropped: missing, unreadable or one too many
        // The files found, at most one picture and one sound per side.
        std::vector<store::MediaInput> files;
        // The progress of the note's first card: in review, with its interval and
        // its due day (days from the collection's creation, collectionDay()).
        bool review = false;
        qint64 ivl = 0;
        qint64 due = 0;
    };
    // The learning day (Store::learningDay) on which the collection was created.
    qint64 collectionDay() const { return m_collectionDay; }

    // Throws TransferError.
    explicit AnkiPackage(const QString &path);
    ~AnkiPackage();
    AnkiPackage(const AnkiPackage &) = delete;
    AnkiPackage &operator=(const AnkiPackage &) = delete;

    // Which collection the package holds: "collection.anki21b" and so on.
    const QString &entryName() const { return m_entry; }
    qint64 noteCount() const { return m_noteCount; }
    // The decks that hold notes, in the order of their first note.
    const QStringList &decks() const { return m_decksInUse; }

    bool next(Note &note);
    // The bytes of a file the notes name, through the package's media map; null when
    // it is missing or cannot be read.
    QByteArray mediaFile(const QString &name) const;
    void restart();

private:
    struct Impl;
    std::unique_ptr<Impl> d;
    QString m_path;
    QString m_entry;
    qint64 m_noteCount = 0;
    qint64 m_collectionDay = 0;
    QStringList m_decksInUse;
    void readMediaMap();
};

} // namespace tarlivo::transfer
