#include "store/store.h"

#include "store/backup.h"
#include "store/collation.h"
#include "store/files.h"
#include "store/numbertest.h"
#include "store/queries.h"
#include "store/rules.h"
#include "store/syncschema.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <sqlite3.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

namespace tarlivo {
namespace {

// A card without its time reads so, which no recorded row holds.
constexpr qint64 kNoSeit = std::numeric_limits<qint64>::min();

// The tables as the rest of the program knows them, plus the subject key on each
// position row: with it the practice questions are answered from one index instead
// of a join over every card. Triggers keep that copy equal to the card's subject.
constexpr const char *kSchema = R"sql(
CREATE TABLE tblGebiet (
    idGebiet   INTEGER PRIMARY KEY AUTOINCREMENT,
    NameGebiet TEXT NOT NULL
);
CREATE TABLE tblFrageAntwort (
    idFrageAntwort INTEGER PRIMARY KEY AUTOINCREMENT,
    idGebiet       INTEGER NOT NULL REFERENCES tblGebiet (idGebiet),
    Frage          TEXT,
    Antwort        TEXT
);
CREATE TABLE tblPosition (
    idFrageAntwort INTEGER PRIMARY KEY REFERENCES tblFrageAntwort (idFrageAntwort),
    Fach           INTEGER NOT NULL CHECK (Fach BETWEEN 1 AND 2147483647),
    Stelle         INTEGER NOT NULL CHECK (Stelle BETWEEN -2147483648 AND 2147483647),
    idGebiet       INTEGER NOT NULL
);
)sql";
// After the queue index (queries::kScatteredPositionIndexes), before the insert
// check (queries::kPositionInsertSubjectTrigger).
constexpr const char *kPositionStelleIndex = "CREATE INDEX ixPositionStelle ON tblPosition (Stelle)";
constexpr const char *kPositionUpdateSubjectTrigger = R"sql(
CREATE TRIGGER trgPositionUpdateSubject BEFORE UPDATE OF idGebiet, idFrageAntwort ON tblPosition
WHEN NEW.idGebiet IS NOT (SELECT idGebiet FROM tblFrageAntwort WHERE idFrageAntwort = NEW.idFrageAntwort)
BEGIN SELECT RAISE(ABORT, 'tblPosition.idGebiet differs from the card''s subject'); END;
)sql";

// Version 2: a card may move to another subject (its position row follows it), a
// log of every verdict (its indexes hold the verdict too, so that the counts of a
// day by verdict come from the index alone), and a trigram index over the texts for finding cards as the
// user types. The index holds no texts of its own: it reads them from tblFrageAntwort.
constexpr const char *kSchemaVersion2 = R"sql(
DROP TRIGGER IF EXISTS trgCardKeepsSubject;
CREATE TRIGGER trgCardSubjectFollows AFTER UPDATE OF idGebiet ON tblFrageAntwort
WHEN NEW.idGebiet IS NOT OLD.idGebiet
BEGIN UPDATE tblPosition SET idGebiet = NEW.idGebiet WHERE idFrageAntwort = NEW.idFrageAntwort; END;
CREATE TABLE tblUebung (
    idUebung       INTEGER PRIMARY KEY AUTOINCREMENT,
    Zeitpunkt      INTEGER NOT NULL,
    idFrageAntwort INTEGER NOT NULL,
    idGebiet       INTEGER NOT NULL,
    FachVorher     INTEGER NOT NULL,
    FachNachher    INTEGER NOT NULL,
    Urteil         INTEGER NOT NULL CHECK (Urteil IN (1, 2, 3))
);
CREATE INDEX ixUebungGebiet ON tblUebung (idGebiet, Zeitpunkt, Urteil);
CREATE INDEX ixUebungZeit ON tblUebung (Zeitpunkt, Urteil);
)sql";
// After the compartment index (queries::kScatteredPositionIndexes).
constexpr const char *kSchemaVersion2Search = R"sql(
CREATE VIRTUAL TABLE tblSuche USING fts5 (
    Frage, Antwort, content = 'tblFrageAntwort', content_rowid = 'idFrageAntwort', tokenize = 'trigram');
CREATE TRIGGER trgSucheInsert AFTER INSERT ON tblFrageAntwort
BEGIN INSERT INTO tblSuche (rowid, Frage, Antwort) VALUES (NEW.idFrageAntwort, NEW.Frage, NEW.Antwort); END;
CREATE TRIGGER trgSucheDelete AFTER DELETE ON tblFrageAntwort
BEGIN INSERT INTO tblSuche (tblSuche, rowid, Frage, Antwort) VALUES ('delete', OLD.idFrageAntwort, OLD.Frage, OLD.Antwort); END;
CREATE TRIGGER trgSucheUpdate AFTER UPDATE OF Frage, Antwort ON tblFrageAntwort
BEGIN
    INSERT INTO tblSuche (tblSuche, rowid, Frage, Antwort) VALUES ('delete', OLD.idFrageAntwort, OLD.Frage, OLD.Antwort);
    INSERT INTO tblSuche (rowid, Frage, Antwort) VALUES (NEW.idFrageAntwort, NEW.Frage, NEW.Antwort);
END;
INSERT INTO tblSuche (tblSuche) VALUES ('rebuild');
)sql";

// Version 3: an import of many cards leaves them out of the search index, which
// catches up in small steps afterwards, so that the import is not held up by it.
// tblSucheStand says how far: every card whose key is at most BisKarte is in the
// index, every later one is not yet. (The insert trigger: queries::kSearchInsertTrigger.)
constexpr const char *kSchemaVersion3 = R"sql(
CREATE TABLE tblSucheStand (
    Nr       INTEGER PRIMARY KEY CHECK (Nr = 1),
    BisKarte INTEGER NOT NULL
);
INSERT INTO tblSucheStand (Nr, BisKarte)
VALUES (1, (SELECT COALESCE(MAX(idFrageAntwort), 0) FROM tblFrageAntwort));
DROP TRIGGER trgSucheInsert;
DROP TRIGGER trgSucheDelete;
DROP TRIGGER trgSucheUpdate;
CREATE TRIGGER trgSucheDelete AFTER DELETE ON tblFrageAntwort
WHEN OLD.idFrageAntwort <= (SELECT BisKarte FROM tblSucheStand)
BEGIN INSERT INTO tblSuche (tblSuche, rowid, Frage, Antwort) VALUES ('delete', OLD.idFrageAntwort, OLD.Frage, OLD.Antwort); END;
CREATE TRIGGER trgSucheUpdate AFTER UPDATE OF Frage, Antwort ON tblFrageAntwort
WHEN OLD.idFrageAntwort <= (SELECT BisKarte FROM tblSucheStand)
BEGIN
    INSERT INTO tblSuche (tblSuche, rowid, Frage, Antwort) VALUES ('delete', OLD.idFrageAntwort, OLD.Frage, OLD.Antwort);
    INSERT INTO tblSuche (rowid, Frage, Antwort) VALUES (NEW.idFrageAntwort, NEW.Frage, NEW.Antwort);
END;
)sql";

// Version 4: the calendar. When each card came into its compartment (Seit, and its
// learning day Tag, kept beside it so that the day buckets need not convert times),
// the intervals a subject changed from the default, and the day buckets that
// answer the due counts (queries::kBucketTriggers). A card's time goes with it.
constexpr const char *kSchemaVersion4 = R"sql(
CREATE TABLE tblFachSeit (
    idFrageAntwort INTEGER PRIMARY KEY,
    Seit           INTEGER NOT NULL,
    Tag            INTEGER NOT NULL
);
CREATE TABLE tblIntervall (
    idGebiet INTEGER NOT NULL,
    Fach     INTEGER NOT NULL,
    Tage     INTEGER NOT NULL CHECK (Tage BETWEEN 0 AND 3650),
    PRIMARY KEY (idGebiet, Fach)
) WITHOUT ROWID;
CREATE TABLE tblFaellig (
    idGebiet INTEGER NOT NULL,
    Richtung INTEGER NOT NULL DEFAULT 0,
    Fach     INTEGER NOT NULL,
    Tag      INTEGER NOT NULL,
    Anzahl   INTEGER NOT NULL,
    PRIMARY KEY (idGebiet, Richtung, Fach, Tag)
) WITHOUT ROWID;
CREATE TRIGGER trgFachSeitDelete AFTER DELETE ON tblFrageAntwort
BEGIN DELETE FROM tblFachSeit WHERE idFrageAntwort = OLD.idFrageAntwort; END;
)sql";

// Reading aloud and sound: the language of each subject's questions and answers (a
// subject without a row has none), and the practice settings the user switched away
// from their defaults. The rows of a deleted subject stay (its key is never used
// again), so that undoing the deletion brings its languages back. IF NOT EXISTS: a
// file that holds them already, whatever its version number says, still upgrades.
constexpr const char *kReadAloudTables = R"sql(
CREATE TABLE IF NOT EXISTS tblGebietSprache (
    idGebiet       INTEGER PRIMARY KEY,
    SpracheFrage   TEXT NOT NULL,
    SpracheAntwort TEXT NOT NULL
);
CREATE TABLE IF NOT EXISTS tblEinstellung (
    Name TEXT PRIMARY KEY,
    Wert INTEGER NOT NULL
) WITHOUT ROWID;
)sql";

// Pictures and sounds: each content once (its checksum is unique), linked to the
// card sides that show it. A content goes with its last link, a link with its card.
constexpr const char *kMediaTables = R"sql(
CREATE TABLE tblMedium (
    idMedium   INTEGER PRIMARY KEY AUTOINCREMENT,
    Name       TEXT NOT NULL,
    Art        INTEGER NOT NULL CHECK (Art IN (0, 1)),
    Inhalt     BLOB NOT NULL,
    Pruefsumme BLOB NOT NULL UNIQUE
);
CREATE TABLE tblKarteMedium (
    idFrageAntwort INTEGER NOT NULL,
    Seite          INTEGER NOT NULL CHECK (Seite IN (0, 1)),
    Art            INTEGER NOT NULL CHECK (Art IN (0, 1)),
    idMedium       INTEGER NOT NULL REFERENCES tblMedium (idMedium),
    PRIMARY KEY (idFrageAntwort, Seite, Art)
) WITHOUT ROWID;
CREATE INDEX ixKarteMediumMedium ON tblKarteMedium (idMedium);
CREATE TRIGGER trgKarteMediumKarte AFTER DELETE ON tblFrageAntwort
BEGIN DELETE FROM tblKarteMedium WHERE idFrageAntwort = OLD.idFrageAntwort; END;
CREATE TRIGGER trgMediumUnbenutzt AFTER DELETE ON tblKarteMedium
WHEN NOT EXISTS (SELECT 1 FROM tblKarteMedium WHERE idMedium = OLD.idMedium)
BEGIN DELETE FROM tblMedium WHERE idMedium = OLD.idMedium; END;
)sql";

// Both directions: each subject's direction when it is not forward only (1 reverse,
// 2 both), each card's reverse place with its own time, and which log rows are
// verdicts on a reverse place. tblPosition keeps one row per card, its forward
// place, so that every tool reading the file reads it as before.
constexpr const char *kReversePlacesSchema = R"sql(
CREATE TABLE tblRichtung (
    idGebiet INTEGER PRIMARY KEY,
    Richtung INTEGER NOT NULL CHECK (Richtung IN (1, 2))
);
CREATE TABLE tblPositionUmgekehrt (
    idFrageAntwort INTEGER PRIMARY KEY REFERENCES tblFrageAntwort (idFrageAntwort),
    idGebiet       INTEGER NOT NULL,
    Fach           INTEGER NOT NULL CHECK (Fach BETWEEN 1 AND 2147483647),
    Stelle         INTEGER NOT NULL CHECK (Stelle BETWEEN -2147483648 AND 2147483647),
    Seit           INTEGER NOT NULL,
    Tag            INTEGER NOT NULL
);
CREATE INDEX ixUmgekehrtQueue ON tblPositionUmgekehrt (idGebiet, Fach, Stelle);
CREATE INDEX ixUmgekehrtStelle ON tblPositionUmgekehrt (Stelle);
CREATE TABLE tblUebungUmgekehrt (
    idUebung INTEGER PRIMARY KEY
);
)sql";

// Typed answers: how each subject counts a difference only in letter case, accents,
// punctuation or one typo (1 wrong, 2 almost right, 3 right); a subject without a
// row keeps the defaults. Like the languages, the rows of a deleted subject stay.
constexpr const char *kToleranceTable = R"sql(
CREATE TABLE IF NOT EXISTS tblGebietToleranz (
    idGebiet    INTEGER PRIMARY KEY,
    Schreibung  INTEGER NOT NULL CHECK (Schreibung BETWEEN 1 AND 3),
    Akzente     INTEGER NOT NULL CHECK (Akzente BETWEEN 1 AND 3),
    Satzzeichen INTEGER NOT NULL CHECK (Satzzeichen BETWEEN 1 AND 3),
    Tippfehler  INTEGER NOT NULL CHECK (Tippfehler BETWEEN 1 AND 3)
);
)sql";

// A card of an earlier version came into its compartment with its last verdict;
// one never judged is due at once.
constexpr const char *kFillSeit = R"sql(
INSERT INTO tblFachSeit (idFrageAntwort, Seit, Tag)
SELECT f.idFrageAntwort, COALESCE(u.Seit, 0), tarlivo_lerntag(COALESCE(u.Seit, 0))
FROM tblFrageAntwort AS f
LEFT JOIN (SELECT idFrageAntwort, MAX(Zeitpunkt) AS Seit FROM tblUebung GROUP BY idFrageAntwort) AS u
ON u.idFrageAntwort = f.idFrageAntwort;
INSERT INTO tblFaellig (idGebiet, Richtung, Fach, Tag, Anzahl)
SELECT p.idGebiet, 0, p.Fach, COALESCE(s.Tag, 0), COUNT(*) FROM tblPosition AS p
LEFT JOIN tblFachSeit AS s ON s.idFrageAntwort = p.idFrageAntwort GROUP BY 1, 3, 4;
)sql";

void learningDayFunction(sqlite3_context *context, int, sqlite3_value **argv)
{
    sqlite3_result_int64(context, Store::learningDay(sqlite3_value_int64(argv[0])));
}

void defaultIntervalFunction(sqlite3_context *context, int, sqlite3_value **argv)
{
    const qint64 fach = sqlite3_value_int64(argv[0]);
    sqlite3_result_int64(context, Store::defaultInterval(qint32(std::clamp<qint64>(fach, 0, kInt32Max))));
}

bool isWritable(const QString &path)
{
    struct stat st {};
    const QByteArray p = QFile::encodeName(path);
    // The mode bits count even for root: a file made read-only is meant to stay so.
    return ::stat(p.constData(), &st) == 0 && (st.st_mode & 0222) != 0 && ::access(p.constData(), W_OK) == 0;
}

using rules::textOf;

qint32 toInt32(qint64 value, const QString &path)
{
    if (value > kInt32Max || value < std::numeric_limits<qint32>::min())
        throw StoreError(StoreErrorKind::Limit, path, QStringLiteral("value %1 is beyond 32 bits").arg(value));
    return qint32(value);
}

// Creates a store with empty tables at path, which must be missing or empty. The
// tables are written to a temporary file first, so no half-made store is ever seen.
void createStoreFile(const QString &path, bool replaceEmpty)
{
    const QFileInfo info(path);
    const QString dir = info.absolutePath();
    if (!isWritable(dir))
        throw StoreError(StoreErrorKind::CannotCreate, path, QStringLiteral("directory is not writable"));
    files::removeStaleTemporaries(QDir(dir), info.fileName(), QStringLiteral("neu"));
    const QString temp = files::freshTemporary(path, QStringLiteral("neu"));
    try {
        sql::Database db;
        db.open(temp, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
        Store::createSchema(db);
        db.close();
    } catch (const StoreError &e) {
        QFile::remove(temp);
        throw StoreError(e.kind() == StoreErrorKind::Full ? StoreErrorKind::Full : StoreErrorKind::CannotCreate, path,
                         e.detail());
    }
    const QByteArray from = QFile::encodeName(temp);
    const QByteArray to = QFile::encodeName(path);
    int rc;
    if (replaceEmpty) {
        rc = ::rename(from.constData(), to.constData());
    } else {
        // link() never replaces: a store another copy created meanwhile wins.
        rc = files::linkNew(temp, path) ? 0 : -1;
        if (rc != 0 && errno == EEXIST)
            rc = 0;
        ::unlink(from.constData());
    }
    if (rc != 0) {
        const QString reason = files::errnoText();
        QFile::remove(temp);
        throw StoreError(StoreErrorKind::CannotCreate, path, reason);
    }
    files::syncDirectory(dir);
}

} // namespace

FileFormat sniffFormat(const QString &path)
{
    QFile file(path);
    if (!file.exists())
        return FileFormat::Missing;
    if (!file.open(QIODevice::ReadOnly))
        return FileFormat::Unreadable;
    const QByteArray head = file.read(100);
    if (head.isEmpty())
        return file.error() == QFile::NoError ? FileFormat::Empty : FileFormat::Unreadable;
    if (head.startsWith(QByteArray("SQLite format 3\0", 16)))
        return FileFormat::SQLite;
    static const QByteArray jet = QByteArray("\x00\x01\x00\x00Standard Jet DB\x00", 20);
    if (head.size() > 0x14 && head.startsWith(jet))
        return head.at(0x14) == 0 ? FileFormat::Jet3 : FileFormat::Jet4;
    return FileFormat::Unknown;
}

Store::Store(StoreOptions options) : m_options(std::move(options)) {}

Store::~Store() = default;

std::unique_ptr<Store> Store::open(const QString &path, StoreOptions options)
{
    switch (sniffFormat(path)) {
    case FileFormat::Missing:
        createStoreFile(path, false);
        break;
    case FileFormat::Empty:
        createStoreFile(path, true);
        break;
    case FileFormat::SQLite:
        break;
    case FileFormat::Jet3:
    case FileFormat::Jet4:
        throw StoreError(StoreErrorKind::LegacyFormat, path);
    case FileFormat::Unknown:
        throw StoreError(StoreErrorKind::NotADatabase, path);
    case FileFormat::Unreadable:
        throw StoreError(StoreErrorKind::CannotOpen, path, QStringLiteral("the file cannot be read"));
    }
    std::unique_ptr<Store> store(new Store(std::move(options)));
    // Another user's file, a copy on a read-only medium: read, never written.
    store->m_readOnly = !isWritable(path) || !isWritable(QFileInfo(path).absolutePath());
    store->connect(path);
    // The day's copy, taken now while nothing waits for it.
    if (!store->m_readOnly)
        store->startBackup();
    return store;
}

// Each version's step, in order: a new file takes them all, an older file those
// after its version. The only place that says what each version holds.
void Store::upgradeFrom(sql::Database &db, qint64 version)
{
    if (version < 1) {
        db.exec(kSchema);
        db.exec(queries::kScatteredPositionIndexes[0][1]);
        db.exec(kPositionStelleIndex);
        db.exec(queries::kPositionInsertSubjectTrigger);
        db.exec(kPositionUpdateSubjectTrigger);
    }
    if (version < 2) {
        db.exec(kSchemaVersion2);
        db.exec(queries::kScatteredPositionIndexes[1][1]);
        db.exec(kSchemaVersion2Search);
    }
    if (version < 3) {
        db.exec(kSchemaVersion3);
        db.exec(queries::kSearchInsertTrigger);
    }
    if (version < 4) {
        db.exec(kSchemaVersion4);
        if (version > 0)
            db.exec(kFillSeit); // a new file has no cards, nor the function it calls
        db.exec(queries::kBucketTriggers);
    }
    if (version < 5)
        db.exec(kReadAloudTables);
    if (version < 6)
        db.exec(kMediaTables);
    if (version < 7) {
        db.exec(kReversePlacesSchema);
        db.exec(queries::kReverseInsertTriggers);
        db.exec(queries::kReverseTriggers);
    }
    if (version < 8)
        db.exec(kToleranceTable);
    if (version < 9)
        createSyncSchema(db);
}

void Store::createSchema(sql::Database &db)
{
    db.exec("BEGIN IMMEDIATE");
    try {
        upgradeFrom(db, 0);
        // Pragmas take no bound values; these are the program's own constants.
        db.exec(("PRAGMA application_id = " + QByteArray::number(kApplicationId)).constData());
        db.exec(("PRAGMA user_version = " + QByteArray::number(kSchemaVersion)).constData());
        db.exec("COMMIT");
    } catch (...) {
        sqlite3_exec(db.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

void Store::connect(const QString &path)
{
    // Never create here: the file was checked or made above, and a file that
    // vanished in between must not come back empty.
    // Used by one thread only (the day's copy has connections of its own): SQLite's
    // own locks around every call would cost an import of many cards time for nothing.
    if (!m_readOnly) {
        m_db.open(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX);
    } else if (isWritable(QFileInfo(path).absolutePath())) {
        m_db.open(path, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX);
    } else {
        // No writer can make its journal in a read-only folder: the file cannot change
        // while read, and SQLite need not lock it (a read-only medium may not allow it).
        const QByteArray uri = "file:"
                               + QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath())
                                     .toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority)
                               + "?immutable=1";
        m_db.open(path, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_URI, uri);
    }
    setUpConnection();

    // Known before the schema check, which may upgrade the file and so write to it.
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) == 0) {
        m_device = quint64(st.st_dev);
        m_inode = quint64(st.st_ino);
    }
    verifySchema();
}

void Store::setUpConnection()
{
    sqlite3_busy_timeout(m_db.handle(), m_options.busyTimeoutMs);
    registerNameCollation(m_db.handle());
    registerSearchFunction(m_db.handle());
    // Local time: not deterministic, so SQLite never keeps its results.
    sqlite3_create_function(m_db.handle(), "tarlivo_lerntag", 1, SQLITE_UTF8, nullptr, learningDayFunction, nullptr,
                            nullptr);
    sqlite3_create_function(m_db.handle(), "tarlivo_standardintervall", 1,
                            SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS, nullptr, defaultIntervalFunction,
                            nullptr, nullptr);
    m_db.exec("PRAGMA foreign_keys = ON");
    // A change is on disk before the window shows its result.
    m_db.exec("PRAGMA synchronous = FULL");
}

void Store::readIntoMemory()
{
    sqlite3_int64 size = 0;
    unsigned char *bytes = sqlite3_serialize(m_db.handle(), "main", &size, 0);
    if (!bytes)
        m_db.fail(SQLITE_NOMEM);
    const QString file = path();
    m_db.open(file, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, ":memory:");
    // SQLite frees the bytes with the connection, also when this fails.
    const int rc = sqlite3_deserialize(m_db.handle(), "main", bytes, size, size,
                                       SQLITE_DESERIALIZE_FREEONCLOSE | SQLITE_DESERIALIZE_RESIZEABLE);
    if (rc != SQLITE_OK)
        m_db.fail(rc);
    setUpConnection();
}

void Store::verifySchema()
{
    qint64 applicationId = 0;
    qint64 version = 0;
    {
        sql::Statement q(m_db, "PRAGMA application_id");
        if (q.step())
            applicationId = q.int64(0);
    }
    {
        sql::Statement q(m_db, "PRAGMA user_version");
        if (q.step())
            version = q.int64(0);
    }
    if (applicationId != kApplicationId)
        throw StoreError(StoreErrorKind::SchemaMismatch, path(), QStringLiteral("not a Tarlivo store"));
    if (version > kSchemaVersion)
        throw StoreError(StoreErrorKind::NewerVersion, path(), QStringLiteral("schema version %1").arg(version));
    {
        sql::Statement q(m_db, "SELECT COUNT(*) FROM sqlite_master WHERE type = 'table' "
                               "AND name IN ('tblGebiet', 'tblFrageAntwort', 'tblPosition')");
        if (!q.step() || q.int64(0) != 3)
            throw StoreError(StoreErrorKind::SchemaMismatch, path(), QStringLiteral("tables are missing"));
    }
    if (version < kSchemaVersion) {
        if (m_readOnly)
            readIntoMemory();
        upgradeSchema(version);
    }
}

void Store::upgradeSchema(qint64 version)
{
    // The upgrade is a change like any other: the day's copy keeps the file as it was.
    // (A read-only file is upgraded in memory only.)
    if (!m_readOnly)
        prepareWrite();
    sql::WriteTransaction tx(m_db);
    {
        // Another running copy may have upgraded the file meanwhile.
        sql::Statement q(m_db, "PRAGMA user_version");
        if (q.step() && q.int64(0) >= kSchemaVersion)
            return;
    }
    // Its three tables were checked: at least version 1, whatever the number says.
    upgradeFrom(m_db, std::max<qint64>(version, 1));
    m_db.exec(("PRAGMA user_version = " + QByteArray::number(kSchemaVersion)).constData());
    tx.commit();
}

void Store::ensureSameFile()
{
    if (m_readOnly)
        throw StoreError(StoreErrorKind::ReadOnly, path());
    struct stat st {};
    if (::stat(QFile::encodeName(path()).constData(), &st) != 0)
        throw StoreError(StoreErrorKind::FileChanged, path(), QStringLiteral("deleted"));
    if (quint64(st.st_dev) != m_device || quint64(st.st_ino) != m_inode)
        throw StoreError(StoreErrorKind::FileChanged, path(), QStringLiteral("replaced"));
    if (!isWritable(path()) || !isWritable(QFileInfo(path()).absolutePath()))
        throw StoreError(StoreErrorKind::ReadOnly, path());
}

void Store::prepareWrite()
{
    if (!m_db.isOpen())
        throw StoreError(StoreErrorKind::NotConnected, path());
    ensureSameFile();
    backupIfDue();
}

QDate Store::backupDay() const { return m_options.today ? m_options.today() : QDate::currentDate(); }

QString Store::backupTarget(QDate day) const
{
    const QFileInfo info(path());
    const QString suffix = info.suffix().isEmpty() ? QString() : QStringLiteral(".") + info.suffix();
    return info.absoluteDir().filePath(backupPrefix() + day.toString(Qt::ISODate) + suffix);
}

QString Store::backupPrefix() const { return QFileInfo(path()).completeBaseName() + QStringLiteral("-Sicherung-"); }

void Store::startBackup()
{
    if (!m_options.backups)
        return;
    const QString target = backupTarget(backupDay());
    files::removeStaleTemporaries(QFileInfo(target).absoluteDir(), backupPrefix(), QStringLiteral("tmp"));
    if (QFileInfo::exists(target))
        return;
    // Another store of this process (the windows open the file afresh) may be at it already.
    m_backupJob = backup::Job::find(target);
    if (!m_backupJob)
        m_backupJob = backup::Job::start(path(), target, files::freshTemporary(target, QStringLiteral("tmp")),
                                         m_options.busyTimeoutMs);
}

qint64 Store::dataVersion()
{
    sql::Statement q(m_db, "PRAGMA data_version");
    return q.step() ? q.int64(0) : 0;
}

void Store::waitForDayCopy()
{
    if (m_backupJob)
        m_backupJob->wait();
}

void Store::backupIfDue()
{
    if (!m_options.backups)
        return;
    const QDate today = backupDay();
    if (m_backupChecked == today)
        return;
    m_backupChecked = today; // one attempt a day: a failure is told once, not at every change

    const QString target = backupTarget(today);
    QDir dir = QFileInfo(target).absoluteDir();
    const QString prefix = backupPrefix();
    const QString suffix =
        QFileInfo(target).suffix().isEmpty() ? QString() : QStringLiteral(".") + QFileInfo(target).suffix();

    try {
        // The copy taken while the program opened, if it still shows the file as it is;
        // else one taken now, the change waiting for it.
        std::shared_ptr<backup::Job> job = backup::Job::find(target);
        m_backupJob.reset();
        if (!QFileInfo::exists(target) && !(job && job->claim())) {
            files::removeStaleTemporaries(dir, prefix, QStringLiteral("tmp"));
            const QString temp = files::freshTemporary(target, QStringLiteral("tmp"));
            try {
                backup::copyDatabase(path(), temp, m_options.busyTimeoutMs);
                if (::rename(QFile::encodeName(temp).constData(), QFile::encodeName(target).constData()) != 0)
                    throw StoreError(errno == ENOSPC ? StoreErrorKind::Full : StoreErrorKind::Io, target,
                                     files::errnoText());
                files::syncDirectory(dir.absolutePath());
            } catch (const StoreError &) {
                files::removeDatabaseFiles(temp);
                throw;
            }
        }
    } catch (const StoreError &e) {
        // Another copy held the file too long: try again at the next change.
        if (e.kind() == StoreErrorKind::Busy)
            m_backupChecked = QDate();
        if (m_options.backupFailed)
            m_options.backupFailed(StoreError(e.kind(), target, e.detail()));
        return;
    }

    // Keep the newest copies; the ISO date in the name sorts them by age.
    QStringList copies =
        dir.entryList({prefix + QStringLiteral("\?\?\?\?-\?\?-\?\?") + suffix}, QDir::Files, QDir::Name);
    while (copies.size() > m_options.keepBackups)
        dir.remove(copies.takeFirst());
}

QStringList Store::subjectNames(const char *query)
{
    QStringList names;
    sql::Statement q(m_db, query);
    while (q.step())
        names << q.text(0);
    return names;
}

QStringList Store::allSubjects() { return subjectNames(queries::kAllSubjects); }

QStringList Store::subjectsWithCards() { return subjectNames(queries::kSubjectsWithCards); }

std::optional<qint32> Store::subjectId(const QString &name)
{
    sql::Statement q(m_db, queries::kSubjectId);
    q.bind(1, textOf(name));
    if (!q.step())
        return std::nullopt;
    return toInt32(q.int64(0), path());
}

void Store::addSubject(const QString &name)
{
    prepareWrite();
    sql::WriteTransaction tx(m_db);
    if (subjectExists(name))
        throw StoreError(StoreErrorKind::Duplicate, path());
    sql::Statement insert(m_db, "INSERT INTO tblGebiet (NameGebiet) VALUES (?1)");
    insert.bind(1, textOf(name)).run();
    toInt32(sqlite3_last_insert_rowid(m_db.handle()), path());
    tx.commit();
}

void Store::renameSubject(const QString &oldName, const QString &newName)
{
    prepareWrite();
    sql::WriteTransaction tx(m_db);
    const std::optional<qint32> id = subjectId(oldName);
    if (!id)
        throw StoreError(StoreErrorKind::NotFound, path(), QStringLiteral("no subject named so"));
    // Another subject of that name, in any capitals, or this one's name unchanged.
    const std::optional<qint32> holder = subjectId(newName);
    if (holder && (holder != id || newName == oldName))
        throw StoreError(StoreErrorKind::Duplicate, path());
    sql::Statement update(m_db, "UPDATE tblGebiet SET NameGebiet = ?1 WHERE idGebiet = ?2");
    update.bind(1, textOf(newName)).bind(2, *id).run();
    tx.commit();
}

qint32 Store::nextStelle() { return nextPlace(queries::kMaxStelle); }

qint32 Store::nextReverseStelle() { return nextPlace(queries::kMaxStelleReverse); }

qint32 Store::nextPlace(const char *maxQuery)
{
    sql::Statement q(m_db, maxQuery);
    if (!q.step() || q.isNull(0))
        return 1;
    const qint64 largest = q.int64(0);
    if (largest >= kInt32Max)
        throw StoreError(StoreErrorKind::Limit, path(), QStringLiteral("queue place"));
    return qint32(largest + 1);
}

qint32 Store::addCard(qint32 subjectId, const QString &frage, const QString &antwort, Change *change)
{
    prepareWrite();
    sql::WriteTransaction tx(m_db);
    {
        sql::Statement exists(m_db, "SELECT 1 FROM tblGebiet WHERE idGebiet = ?1");
        if (!exists.bind(1, subjectId).step())
            throw StoreError(StoreErrorKind::NotFound, path(), QStringLiteral("subject %1").arg(subjectId));
    }
    const qint32 stelle = nextStelle();
    sql::Statement card(m_db, "INSERT INTO tblFrageAntwort (idGebiet, Frage, Antwort) VALUES (?1, ?2, ?3)");
    card.bind(1, subjectId).bind(2, textOf(frage)).bind(3, textOf(antwort)).run();
    // The key of the row just inserted: no other writer can slip in between.
    const qint32 cardId = toInt32(sqlite3_last_insert_rowid(m_db.handle()), path());
    sql::Statement position(m_db, "INSERT INTO tblPosition (idFrageAntwort, Fach, Stelle, idGebiet) "
                                  "VALUES (?1, 1, ?2, ?3)");
    position.bind(1, cardId).bind(2, stelle).bind(3, subjectId).run();
    const qint64 seit = now();
    writeSeit(cardId, seit);
    // A subject practised the other way too gives the new card both places.
    std::optional<ReversePlace> reverse;
    if (practises(direction(subjectId), Direction::Reverse)) {
        reverse = ReversePlace{1, nextReverseStelle(), seit};
        writeReverse(cardId, reverse);
    }
    tx.commit();
    if (change) {
        *change = Change{};
        change->cards.push_back(
            {std::nullopt, CardRow{cardId, subjectId, textOf(frage), textOf(antwort), 1, stelle, seit, reverse}});
    }
    return cardId;
}

std::vector<qint32> Store::compartments(qint32 subjectId, Direction direction)
{
    sql::Statement q(m_db, direction == Direction::Reverse ? queries::kCompartmentsReverse : queries::kCompartments);
    q.bind(1, subjectId);
    std::vector<qint32> result;
    while (q.step())
        result.push_back(toInt32(q.int64(0), path()));
    return result;
}

std::optional<qint32> Store::headCard(qint32 subjectId, qint32 fach, Direction direction)
{
    sql::Statement q(m_db, direction == Direction::Reverse ? queries::kHeadCardReverse : queries::kHeadCard);
    q.bind(1, subjectId).bind(2, fach);
    if (!q.step())
        return std::nullopt;
    return toInt32(q.int64(0), path());
}

std::vector<qint32> Store::placesInOrder(qint32 subjectId, Direction direction)
{
    sql::Statement q(m_db, direction == Direction::Reverse ? queries::kPlacesInOrderReverse : queries::kPlacesInOrder);
    q.bind(1, subjectId);
    std::vector<qint32> result;
    while (q.step())
        result.push_back(toInt32(q.int64(0), path()));
    return result;
}

std::optional<CardText> Store::cardText(qint32 cardId)
{
    sql::Statement q(m_db, queries::kCardText);
    q.bind(1, cardId);
    if (!q.step())
        return std::nullopt;
    return CardText{q.text(0), q.text(1)};
}

void Store::writeSeit(qint32 cardId, qint64 seit)
{
    if (seit == kNoSeit) {
        // Undo brings back a card as it was read: without its time.
        sql::Statement(m_db, "DELETE FROM tblFachSeit WHERE idFrageAntwort = ?1").bind(1, cardId).run();
        return;
    }
    sql::Statement q(m_db, "INSERT INTO tblFachSeit (idFrageAntwort, Seit, Tag) VALUES (?1, ?2, ?3) "
                           "ON CONFLICT (idFrageAntwort) DO UPDATE SET Seit = excluded.Seit, Tag = excluded.Tag");
    q.bind(1, cardId).bind(2, seit).bind(3, learningDay(seit)).run();
}

void Store::saveCardText(qint32 cardId, const QString &frage, const QString &antwort, Change *change)
{
    prepareWrite();
    sql::WriteTransaction tx(m_db);
    std::optional<CardRow> before;
    if (change)
        before = cardRow(cardId);
    sql::Statement update(m_db, "UPDATE tblFrageAntwort SET Frage = ?1, Antwort = ?2 WHERE idFrageAntwort = ?3");
    update.bind(1, textOf(frage)).bind(2, textOf(antwort)).bind(3, cardId).run();
    if (sqlite3_changes(m_db.handle()) != 1)
        throw StoreError(StoreErrorKind::NotFound, path(), QStringLiteral("card %1").arg(cardId));
    tx.commit();
    if (change) {
        CardRow after = *before;
        after.frage = textOf(frage);
        after.antwort = textOf(antwort);
        *change = Change{};
        change->cards.push_back({before, after});
    }
}

Change Store::judgeCard(qint32 cardId, Verdict verdict, Direction direction)
{
    const bool reverse = direction == Direction::Reverse;
    prepareWrite();
    sql::WriteTransaction tx(m_db);
    // The compartment the card is in now, read inside this write: another window or
    // running copy may have moved it since it was shown.
    const std::optional<CardRow> before = cardRow(cardId);
    if (!before || before->fach < 1 || (reverse && !before->reverse))
        throw StoreError(StoreErrorKind::NotFound, path(), QStringLiteral("position of card %1").arg(cardId));
    const qint32 fach = reverse ? before->reverse->fach : before->fach;
    if (verdict == Verdict::Richtig && fach == kInt32Max)
        throw StoreError(StoreErrorKind::Limit, path(), QString::fromLatin1(kTopCompartment));
    const qint32 newFach = verdict == Verdict::Richtig ? fach + 1 : verdict == Verdict::FastRichtig ? fach : 1;
    const qint32 stelle = reverse ? nextReverseStelle() : nextStelle();
    const qint64 at = now();
    if (reverse) {
        writeReverse(cardId, ReversePlace{newFach, stelle, at});
    } else {
        sql::Statement update(m_db, "UPDATE tblPosition SET Fach = ?1, Stelle = ?2 WHERE idFrageAntwort = ?3");
        update.bind(1, newFach).bind(2, stelle).bind(3, cardId).run();
        if (sqlite3_changes(m_db.handle()) != 1)
            throw StoreError(StoreErrorKind::NotFound, path(), QStringLiteral("position of card %1").arg(cardId));
        writeSeit(cardId, at);
    }
    LogRow log{0, at, cardId, before->subjectId, fach, newFach, verdict, direction};
    sql::Statement insert(m_db, "INSERT INTO tblUebung (Zeitpunkt, idFrageAntwort, idGebiet, FachVorher, "
                                "FachNachher, Urteil) VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
    insert.bind(1, log.zeitpunkt)
        .bind(2, log.cardId)
        .bind(3, log.subjectId)
        .bind(4, log.fachVorher)
        .bind(5, log.fachNachher)
        .bind(6, qint64(verdict))
        .run();
    log.id = sqlite3_last_insert_rowid(m_db.handle());
    if (reverse)
        sql::Statement(m_db, "INSERT INTO tblUebungUmgekehrt (idUebung) VALUES (?1)").bind(1, log.id).run();
    tx.commit();

    Change change;
    CardRow after = *before;
    if (reverse) {
        after.reverse = ReversePlace{newFach, stelle, at};
    } else {
        after.fach = newFach;
        after.stelle = stelle;
        after.seit = at;
    }
    change.cards.push_back({before, after});
    change.log.push_back({std::nullopt, log});
    return change;
}

qint64 Store::now() const { return m_options.now ? m_options.now() : QDateTime::currentSecsSinceEpoch(); }

QDate Store::today() const { return QDateTime::fromSecsSinceEpoch(now()).date(); }

std::optional<CardRow> Store::cardRow(qint32 cardId)
{
    sql::Statement q(m_db, queries::kCardRow);
    if (!q.bind(1, cardId).step())
        return std::nullopt;
    CardRow row;
    row.id = cardId;
    row.subjectId = toInt32(q.int64(0), path());
    row.frage = q.text(1);
    row.antwort = q.text(2);
    row.fach = q.isNull(3) ? 0 : toInt32(q.int64(3), path());
    row.stelle = q.isNull(4) ? 0 : toInt32(q.int64(4), path());
    row.seit = q.isNull(5) ? kNoSeit : q.int64(5);
    if (!q.isNull(6))
        row.reverse = ReversePlace{toInt32(q.int64(6), path()), toInt32(q.int64(7), path()), q.int64(8)};
    return row;
}

QStringList Store::checkInvariants(bool allowSharedStelle)
{
    QStringList problems;
    {
        sql::Statement q(m_db, "PRAGMA integrity_check");
        while (q.step()) {
            const QString line = q.text(0);
            if (line != QLatin1String("ok"))
                problems << QStringLiteral("integrity: ") + line;
        }
    }
    struct Check {
        const char *sql;
        const char *what;
    };
    static const Check checks[] = {
        {"SELECT COUNT(*) FROM tblFrageAntwort AS f WHERE NOT EXISTS "
         "(SELECT 1 FROM tblPosition AS p WHERE p.idFrageAntwort = f.idFrageAntwort)",
         "cards without a position"},
        {"SELECT COUNT(*) FROM tblPosition AS p WHERE NOT EXISTS "
         "(SELECT 1 FROM tblFrageAntwort AS f WHERE f.idFrageAntwort = p.idFrageAntwort)",
         "positions without a card"},
        {"SELECT COUNT(*) FROM tblFrageAntwort AS f WHERE NOT EXISTS "
         "(SELECT 1 FROM tblGebiet AS g WHERE g.idGebiet = f.idGebiet)",
         "cards without a subject"},
        {"SELECT COUNT(*) FROM tblPosition AS p JOIN tblFrageAntwort AS f USING (idFrageAntwort) "
         "WHERE p.idGebiet IS NOT f.idGebiet",
         "positions whose subject differs from their card's"},
        {"SELECT COUNT(*) FROM tblPosition WHERE Fach < 1", "compartments below 1"},
        {"SELECT COUNT(*) FROM tblGebiet AS a JOIN tblGebiet AS b ON a.idGebiet < b.idGebiet "
         "AND a.NameGebiet = b.NameGebiet COLLATE TARLIVO_DE",
         "subject names that compare equal"},
        {"SELECT COUNT(*) FROM (SELECT Stelle FROM tblPosition GROUP BY Stelle HAVING COUNT(*) > 1)",
         "queue places held by more than one card"},
        // The search index holds exactly the cards up to its mark.
        {"SELECT COUNT(*) FROM tblFrageAntwort AS f WHERE f.idFrageAntwort <= (SELECT BisKarte FROM tblSucheStand) "
         "AND NOT EXISTS (SELECT 1 FROM tblSuche_docsize AS d WHERE d.id = f.idFrageAntwort)",
         "cards missing from the search index"},
        {"SELECT COUNT(*) FROM tblSuche_docsize AS d WHERE d.id > (SELECT BisKarte FROM tblSucheStand) "
         "OR NOT EXISTS (SELECT 1 FROM tblFrageAntwort AS f WHERE f.idFrageAntwort = d.id)",
         "search index entries of no indexed card"},
        {"SELECT (SELECT COUNT(*) FROM tblSucheStand) <> 1", "search index mark not one row"},
        // The calendar: one time per card, and the buckets exactly the count of the cards.
        {"SELECT COUNT(*) FROM tblFrageAntwort AS f WHERE NOT EXISTS "
         "(SELECT 1 FROM tblFachSeit AS s WHERE s.idFrageAntwort = f.idFrageAntwort)",
         "cards without their time in the compartment"},
        {"SELECT COUNT(*) FROM tblFachSeit AS s WHERE NOT EXISTS "
         "(SELECT 1 FROM tblFrageAntwort AS f WHERE f.idFrageAntwort = s.idFrageAntwort)",
         "times of no card"},
        {"SELECT COUNT(*) FROM (SELECT idGebiet, Fach, Tag, Anzahl FROM tblFaellig WHERE Richtung = 0 "
         "EXCEPT SELECT p.idGebiet, p.Fach, COALESCE(s.Tag, 0), COUNT(*) FROM tblPosition AS p "
         "LEFT JOIN tblFachSeit AS s ON s.idFrageAntwort = p.idFrageAntwort GROUP BY 1, 2, 3)",
         "day buckets that differ from the cards"},
        {"SELECT (SELECT COUNT(*) FROM tblFaellig WHERE Richtung = 0) - (SELECT COUNT(*) FROM (SELECT 1 "
         "FROM tblPosition AS p LEFT JOIN tblFachSeit AS s ON s.idFrageAntwort = p.idFrageAntwort "
         "GROUP BY p.idGebiet, p.Fach, COALESCE(s.Tag, 0)))",
         "day buckets missing or left over"},
        {"SELECT COUNT(*) FROM tblKarteMedium AS k WHERE NOT EXISTS "
         "(SELECT 1 FROM tblFrageAntwort AS f WHERE f.idFrageAntwort = k.idFrageAntwort)",
         "media links of no card"},
        {"SELECT COUNT(*) FROM tblKarteMedium AS k WHERE NOT EXISTS "
         "(SELECT 1 FROM tblMedium AS m WHERE m.idMedium = k.idMedium AND m.Art = k.Art)",
         "media links of no file of their kind"},
        {"SELECT COUNT(*) FROM tblMedium AS m WHERE NOT EXISTS "
         "(SELECT 1 FROM tblKarteMedium AS k WHERE k.idMedium = m.idMedium)",
         "media files of no card"},
        // Both directions: the reverse places as the forward ones, and their buckets.
        {"SELECT COUNT(*) FROM tblPositionUmgekehrt AS r WHERE NOT EXISTS "
         "(SELECT 1 FROM tblFrageAntwort AS f WHERE f.idFrageAntwort = r.idFrageAntwort)",
         "reverse places without a card"},
        {"SELECT COUNT(*) FROM tblPositionUmgekehrt AS r JOIN tblFrageAntwort AS f USING (idFrageAntwort) "
         "WHERE r.idGebiet IS NOT f.idGebiet",
         "reverse places whose subject differs from their card's"},
        {"SELECT COUNT(*) FROM tblPositionUmgekehrt WHERE Fach < 1", "reverse compartments below 1"},
        {"SELECT COUNT(*) FROM (SELECT Stelle FROM tblPositionUmgekehrt GROUP BY Stelle HAVING COUNT(*) > 1)",
         "reverse queue places held by more than one card"},
        {"SELECT COUNT(*) FROM (SELECT idGebiet, Fach, Tag, Anzahl FROM tblFaellig WHERE Richtung = 1 "
         "EXCEPT SELECT idGebiet, Fach, Tag, COUNT(*) FROM tblPositionUmgekehrt GROUP BY 1, 2, 3)",
         "reverse day buckets that differ from the places"},
        {"SELECT (SELECT COUNT(*) FROM tblFaellig WHERE Richtung = 1) - (SELECT COUNT(*) FROM (SELECT 1 "
         "FROM tblPositionUmgekehrt GROUP BY idGebiet, Fach, Tag))",
         "reverse day buckets missing or left over"},
        {"SELECT COUNT(*) FROM tblRichtung AS d WHERE NOT EXISTS "
         "(SELECT 1 FROM tblGebiet AS g WHERE g.idGebiet = d.idGebiet)",
         "directions of no subject"},
        {"SELECT COUNT(*) FROM tblUebungUmgekehrt AS m WHERE NOT EXISTS "
         "(SELECT 1 FROM tblUebung AS u WHERE u.idUebung = m.idUebung)",
         "reverse marks of no verdict"},
        {"SELECT COUNT(*) FROM tblIntervall AS i WHERE NOT EXISTS "
         "(SELECT 1 FROM tblGebiet AS g WHERE g.idGebiet = i.idGebiet) OR Fach < 1",
         "intervals of no subject"},
    };
    for (const Check &check : checks) {
        if (allowSharedStelle && std::strstr(check.what, "queue places"))
            continue;
        sql::Statement q(m_db, check.sql);
        if (q.step() && q.int64(0) != 0)
            problems << QStringLiteral("%1: %2").arg(QLatin1String(check.what)).arg(q.int64(0));
    }
    return problems;
}

} // namespace tarlivo
