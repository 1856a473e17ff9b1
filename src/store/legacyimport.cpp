#include "store/legacyimport.h"

#include "store/collation.h"
#include "store/files.h"
#include "store/legacystream.h"
#include "store/store.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <sqlite3.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <unordered_map>
#include <unordered_set>

namespace tarlivo {
namespace {

using Error = LegacyImportError;

constexpr qint64 kInt32Min = std::numeric_limits<qint32>::min();
constexpr qint64 kInt32Max = std::numeric_limits<qint32>::max();
constexpr qsizetype kMaxReaderErrors = 64 * 1024;

Error tableError(Error::Kind kind, const QString &path, const QString &table, const QString &column = {},
                 const QString &detail = {})
{
    Error error(kind, path, detail);
    error.table = table;
    error.column = column;
    return error;
}

// Takes the reader's stream apart as it arrives, into LegacyData.
class StreamParser {
public:
    explicit StreamParser(QString path) : m_path(std::move(path)) {}

    // Consumes what is complete of the bytes so far; throws on a failure or a broken stream.
    void feed(const QByteArray &bytes)
    {
        m_buffer += bytes;
        qsizetype consumed = 0;
        for (;;) {
            m_pos = consumed;
            if (!parseOne())
                break;
            consumed = m_pos;
            if (m_complete)
                break;
        }
        m_buffer.remove(0, consumed);
        if (m_complete && !m_buffer.isEmpty())
            broken(QStringLiteral("data after the end"));
    }

    bool complete() const { return m_complete; }
    qint64 cardsRead() const { return qint64(m_data.cards.size()); }
    qint64 cardsDeclared() const { return m_cardsDeclared; }
    LegacyData take() { return std::move(m_data); }

private:
    [[noreturn]] void broken(const QString &what) const
    {
        throw Error(Error::ReaderFailed, m_path, QStringLiteral("stream: ") + what);
    }

    bool have(qsizetype n) const { return m_buffer.size() - m_pos >= n; }

    bool u32(quint32 &value)
    {
        if (!have(4))
            return false;
        const auto *b = reinterpret_cast<const uchar *>(m_buffer.constData() + m_pos);
        value = quint32(b[0]) | quint32(b[1]) << 8 | quint32(b[2]) << 16 | quint32(b[3]) << 24;
        m_pos += 4;
        return true;
    }

    // A value: a null QByteArray for NULL.
    bool value(QByteArray &bytes)
    {
        quint32 raw = 0;
        if (!u32(raw))
            return false;
        const qint32 length = qint32(raw);
        if (length == legacy::kNull) {
            bytes = QByteArray();
            return true;
        }
        if (length < 0)
            broken(QStringLiteral("negative length"));
        if (!have(length))
            return false;
        // An empty value must stay apart from NULL.
        bytes = length == 0 ? QByteArray("") : m_buffer.mid(m_pos, length);
        m_pos += length;
        return true;
    }

    bool string(QString &text)
    {
        QByteArray bytes;
        if (!value(bytes))
            return false;
        if (bytes.isNull())
            broken(QStringLiteral("NULL name"));
        text = QString::fromUtf8(bytes);
        return true;
    }

    // Parses one record at m_pos; false when it has not fully arrived yet.
    bool parseOne()
    {
        if (!m_sawMagic) {
            if (!have(sizeof legacy::kMagic))
                return false;
            if (std::memcmp(m_buffer.constData(), legacy::kMagic, sizeof legacy::kMagic) != 0)
                broken(QStringLiteral("not the reader's stream"));
            m_pos += sizeof legacy::kMagic;
            m_sawMagic = true;
            return true;
        }
        if (!have(1))
            return false;
        const char tag = m_buffer.at(m_pos++);
        switch (tag) {
        case legacy::kJetVersion: {
            quint32 version = 0;
            if (!u32(version))
                return false;
            m_data.jetVersion = int(version);
            return true;
        }
        case legacy::kMissingTable:
        case legacy::kTable:
            return parseTableStart(tag);
        case legacy::kRow:
            return parseRow();
        case legacy::kTableEnd:
            return parseTableEnd();
        case legacy::kFailure:
            return parseFailure();
        case legacy::kEnd:
            if (m_table != legacy::kTableCount || m_inTable)
                broken(QStringLiteral("end before every table"));
            m_complete = true;
            return true;
        default:
            broken(QStringLiteral("unknown record"));
        }
    }

    bool parseTableStart(char tag)
    {
        if (m_inTable || m_table >= legacy::kTableCount)
            broken(QStringLiteral("table out of order"));
        const legacy::TableSpec &layout = legacy::kTables[m_table];
        QString name;
        if (!string(name))
            return false;
        if (name != QLatin1String(layout.name))
            broken(QStringLiteral("table %1 out of order").arg(name));
        if (tag == legacy::kMissingTable) {
            m_data.missingTables << name;
            ++m_table;
            return true;
        }
        quint32 declared = 0;
        quint32 columns = 0;
        if (!u32(declared) || !u32(columns))
            return false;
        if (columns != quint32(layout.columnCount))
            broken(QStringLiteral("columns of %1").arg(name));
        for (int c = 0; c < layout.columnCount; ++c) {
            QString column;
            if (!string(column))
                return false;
            if (column != QLatin1String(layout.columns[c]))
                broken(QStringLiteral("column %1 of %2").arg(column, name));
        }
        m_declared = declared;
        m_rows = 0;
        m_inTable = true;
        if (m_table == 1)
            m_cardsDeclared = declared;
        return true;
    }

    // A whole number that must fit in 32 bits; NULL stays empty.
    std::optional<qint32> number(const QByteArray &bytes, int column)
    {
        if (bytes.isNull())
            return std::nullopt;
        bool ok = false;
        const qint64 n = bytes.trimmed().toLongLong(&ok);
        if (!ok || n < kInt32Min || n > kInt32Max) {
            const legacy::TableSpec &layout = legacy::kTables[m_table];
            throw tableError(Error::BadValue, m_path, QLatin1String(layout.name), QLatin1String(layout.columns[column]),
                             QString::fromUtf8(bytes.left(40)));
        }
        return qint32(n);
    }

    // A key may not be NULL: rows of the old program always have one.
    qint32 key(const QByteArray &bytes, int column)
    {
        const std::optional<qint32> n = number(bytes, column);
        if (!n) {
            const legacy::TableSpec &layout = legacy::kTables[m_table];
            throw tableError(Error::BadValue, m_path, QLatin1String(layout.name), QLatin1String(layout.columns[column]),
                             QStringLiteral("NULL"));
        }
        return *n;
    }

    static QString text(const QByteArray &bytes)
    {
        if (bytes.isNull())
            return QString();
        return bytes.isEmpty() ? QString(QLatin1String("")) : QString::fromUtf8(bytes);
    }

    bool parseRow()
    {
        if (!m_inTable)
            broken(QStringLiteral("row outside a table"));
        const legacy::TableSpec &layout = legacy::kTables[m_table];
        QByteArray values[4];
        for (int c = 0; c < layout.columnCount; ++c)
            if (!value(values[c]))
                return false;
        if (++m_rows > m_declared) {
            // More rows than declared: the file is damaged, however many more follow.
            Error error = tableError(Error::CountMismatch, m_path, QLatin1String(layout.name));
            error.declared = m_declared;
            error.read = m_rows;
            throw error;
        }
        switch (m_table) {
        case 0:
            m_data.subjects.push_back({key(values[0], 0), text(values[1])});
            break;
        case 1:
            m_data.cards.push_back({key(values[0], 0), number(values[1], 1), text(values[2]), text(values[3])});
            break;
        default:
            m_data.positions.push_back({number(values[0], 0), number(values[1], 1), number(values[2], 2)});
            break;
        }
        return true;
    }

    bool parseTableEnd()
    {
        quint32 read = 0;
        if (!u32(read))
            return false;
        if (!m_inTable)
            broken(QStringLiteral("end of no table"));
        if (read != m_rows)
            broken(QStringLiteral("row count"));
        if (read != m_declared) {
            Error error = tableError(Error::CountMismatch, m_path, QLatin1String(legacy::kTables[m_table].name));
            error.declared = m_declared;
            error.read = read;
            throw error;
        }
        m_inTable = false;
        ++m_table;
        return true;
    }

    bool parseFailure()
    {
        quint32 code = 0;
        QString detail;
        if (!u32(code) || !string(detail))
            return false;
        const QString table = detail.section(QLatin1Char('.'), 0, 0);
        const QString column = detail.section(QLatin1Char('.'), 1);
        switch (code) {
        case legacy::kCannotOpen:
            throw Error(Error::CannotOpen, m_path, detail);
        case legacy::kTruncated:
            throw Error(Error::Truncated, m_path, detail);
        case legacy::kMissingColumn:
        case legacy::kUnsupportedColumn:
            throw tableError(Error::MissingColumn, m_path, table, column);
        case legacy::kDamagedRow:
        case legacy::kDamagedText:
            throw tableError(Error::Damaged, m_path, table, column);
        default:
            broken(QStringLiteral("failure %1").arg(code));
        }
    }

    QString m_path;
    QByteArray m_buffer;
    qsizetype m_pos = 0;
    bool m_sawMagic = false;
    bool m_complete = false;
    int m_table = 0;
    bool m_inTable = false;
    quint32 m_declared = 0;
    quint32 m_rows = 0;
    qint64 m_cardsDeclared = 0;
    LegacyData m_data;
};

Error writeFailed(const QString &path, const QString &detail, int error)
{
    Error e(Error::WriteFailed, path, detail);
    e.diskFull = error == ENOSPC || error == EDQUOT;
    e.readOnly = error == EROFS || error == EACCES || error == EPERM;
    return e;
}

Error writeFailed(const QString &path, const StoreError &error)
{
    Error e(Error::WriteFailed, path, error.detail());
    e.diskFull = error.kind() == StoreErrorKind::Full;
    e.readOnly = error.kind() == StoreErrorKind::ReadOnly || error.kind() == StoreErrorKind::CannotOpen
                 || error.kind() == StoreErrorKind::CannotCreate;
    return e;
}

// Names that compare equal the program's way, looked up quickly.
class NameSet {
public:
    bool contains(const QString &name) const
    {
        const auto at = std::lower_bound(m_names.begin(), m_names.end(), name, less);
        return at != m_names.end() && compareNames(*at, name) == 0;
    }
    void insert(const QString &name)
    {
        m_names.insert(std::lower_bound(m_names.begin(), m_names.end(), name, less), name);
    }
    // base itself when free, else the first free of "base (2)", "base (3)" ...; now taken.
    QString claim(const QString &base)
    {
        QString name = base;
        for (int n = 2; contains(name); ++n)
            name = QStringLiteral("%1 (%2)").arg(base).arg(n);
        insert(name);
        return name;
    }

private:
    static bool less(const QString &a, const QString &b) { return compareNames(a, b) < 0; }
    std::vector<QString> m_names;
};

// Holds an exclusive lock on the old file while it is taken over, so that a second
// running copy does not take it over at the same time.
class FileLock {
public:
    explicit FileLock(const QString &path)
    {
        m_fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
        if (m_fd < 0)
            throw Error(Error::CannotOpen, path, files::errnoText());
        // Where the file system has no locks, the take-over goes ahead without one.
        if (::flock(m_fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
            ::close(m_fd);
            throw Error(Error::Busy, path);
        }
        ::fstat(m_fd, &m_stat);
    }
    ~FileLock()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;

    // Whether path still names the file that was locked.
    bool stillAt(const QString &path) const
    {
        struct stat now {};
        return m_fd >= 0 && ::stat(QFile::encodeName(path).constData(), &now) == 0 && now.st_dev == m_stat.st_dev
               && now.st_ino == m_stat.st_ino;
    }

private:
    int m_fd = -1;
    struct stat m_stat {};
};

// Removes the new store's file and SQLite's companions unless released.
class TempStore {
public:
    explicit TempStore(QString path) : m_path(std::move(path)) { removeAll(); }
    ~TempStore()
    {
        if (!m_released)
            removeAll();
    }
    TempStore(const TempStore &) = delete;
    TempStore &operator=(const TempStore &) = delete;
    const QString &path() const { return m_path; }
    void release() { m_released = true; }

private:
    void removeAll()
    {
        for (const char *suffix : {"", "-journal", "-wal", "-shm"})
            QFile::remove(m_path + QLatin1String(suffix));
    }
    QString m_path;
    bool m_released = false;
};

// Gives the old file a second name of its own that no earlier file has; returns it.
QString keepOriginal(const QString &path)
{
    for (int number = 1; number < 10000; ++number) {
        const QString target = legacyOriginalName(path, number);
        // link() never replaces a file: an earlier original stays as it is.
        if (files::linkNew(path, target))
            return target;
        if (errno == EEXIST)
            continue;
        // Some file systems have no hard links: a copy serves as well.
        if (files::copyNew(path, target))
            return target;
        if (errno == EEXIST)
            continue;
        throw writeFailed(path, files::errnoText(), errno);
    }
    throw Error(Error::WriteFailed, path, QStringLiteral("no free name for the old file"));
}

} // namespace

QString legacyOriginalName(const QString &path, int number)
{
    const QFileInfo info(path);
    QString name = info.completeBaseName() + QStringLiteral("-Access-Original");
    if (number > 1)
        name += QStringLiteral("-%1").arg(number);
    if (!info.suffix().isEmpty())
        name += QLatin1Char('.') + info.suffix();
    return info.dir().filePath(name);
}

LegacyData readLegacyFile(const QString &path, const LegacyImportOptions &options)
{
    const QFileInfo reader(options.readerPath);
    if (options.readerPath.isEmpty() || !reader.isFile() || !reader.isExecutable())
        throw Error(Error::ReaderMissing, path, options.readerPath);

    QProcess process;
    process.setProgram(options.readerPath);
    process.setArguments({path});
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(QIODevice::ReadOnly);
    if (!process.waitForStarted(30000))
        throw Error(Error::ReaderMissing, path, options.readerPath);

    StreamParser parser(path);
    QByteArray errors; // the library's own words, the first of them
    const auto collectErrors = [&] {
        const QByteArray more = process.readAllStandardError();
        if (errors.size() < kMaxReaderErrors)
            errors += more.left(kMaxReaderErrors - errors.size());
    };
    try {
        QElapsedTimer silent;
        silent.start();
        for (;;) {
            const QByteArray chunk = process.readAllStandardOutput();
            collectErrors();
            if (!chunk.isEmpty()) {
                silent.restart();
                parser.feed(chunk);
            }
            if (options.progress && !options.progress(parser.cardsRead(), parser.cardsDeclared()))
                throw Error(Error::Cancelled, path);
            if (!chunk.isEmpty())
                continue;
            if (process.state() == QProcess::NotRunning && process.bytesAvailable() == 0)
                break;
            if (silent.elapsed() > options.stallTimeoutMs)
                throw Error(Error::Stalled, path);
            process.waitForReadyRead(100);
        }
    } catch (...) {
        process.kill();
        process.waitForFinished(-1);
        throw;
    }
    collectErrors();
    const QString said = QString::fromLocal8Bit(errors).trimmed();
    if (process.exitStatus() == QProcess::CrashExit)
        throw Error(Error::ReaderCrashed, path, said);
    if (process.exitCode() != legacy::kExitOk || !parser.complete())
        throw Error(Error::ReaderFailed, path, QStringLiteral("exit %1: %2").arg(process.exitCode()).arg(said));
    // The library's only sign that a long text came back short.
    if (said.contains(QLatin1String("memo"), Qt::CaseInsensitive))
        throw Error(Error::Damaged, path, said);
    return parser.take();
}

LegacyImportReport writeLegacyStore(const LegacyData &data, const QString &storePath)
{
    LegacyImportReport report;

    // Keys must be unique: cards and positions refer to them.
    std::unordered_set<qint32> subjectIds;
    for (const LegacySubject &s : data.subjects)
        if (!subjectIds.insert(s.id).second)
            throw tableError(Error::DuplicateKey, storePath, QStringLiteral("tblGebiet"), {}, QString::number(s.id));
    std::unordered_map<qint32, std::size_t> cardIndex;
    for (std::size_t i = 0; i < data.cards.size(); ++i)
        if (!cardIndex.emplace(data.cards[i].id, i).second)
            throw tableError(Error::DuplicateKey, storePath, QStringLiteral("tblFrageAntwort"), {},
                             QString::number(data.cards[i].id));

    // Names: the older of two equal names keeps it; a NULL name gets one.
    std::vector<std::size_t> byKey(data.subjects.size());
    for (std::size_t i = 0; i < byKey.size(); ++i)
        byKey[i] = i;
    std::sort(byKey.begin(), byKey.end(),
              [&](std::size_t a, std::size_t b) { return data.subjects[a].id < data.subjects[b].id; });
    std::vector<QString> names(data.subjects.size());
    NameSet taken;
    std::vector<std::size_t> doubled;
    for (std::size_t i : byKey) {
        const QString &name = data.subjects[i].name;
        if (name.isNull())
            continue;
        if (taken.contains(name)) {
            doubled.push_back(i);
        } else {
            taken.insert(name);
            names[i] = name;
        }
    }
    for (std::size_t i : doubled) {
        names[i] = taken.claim(data.subjects[i].name);
        report.renamedSubjects.append({data.subjects[i].name, names[i]});
    }
    for (std::size_t i : byKey) {
        if (data.subjects[i].name.isNull()) {
            names[i] = taken.claim(QStringLiteral("Ohne Namen"));
            report.unnamedSubjects << names[i];
        }
    }

    // Cards whose subject is gone go to a subject made for them.
    for (const LegacyCard &card : data.cards)
        if (!card.subject || !subjectIds.count(*card.subject))
            ++report.cardsWithoutSubject;
    if (report.cardsWithoutSubject)
        report.orphanSubject = taken.claim(QStringLiteral("Ohne Gebiet"));

    // Places: one per card, as in the file wherever it has one.
    struct Place {
        qint32 fach;
        std::optional<qint32> stelle;
    };
    std::vector<std::optional<Place>> places(data.cards.size());
    qint64 nextStelle = 1;
    for (const LegacyPosition &position : data.positions) {
        const auto found = position.card ? cardIndex.find(*position.card) : cardIndex.end();
        if (found == cardIndex.end()) {
            ++report.positionsWithoutCard;
            continue;
        }
        std::optional<Place> &place = places[found->second];
        if (place) {
            ++report.duplicatePositions;
            continue;
        }
        qint32 fach = position.fach.value_or(0);
        if (fach < 1) {
            fach = 1;
            ++report.compartmentsRaised;
        }
        place = Place{fach, position.stelle};
        if (position.stelle)
            nextStelle = std::max(nextStelle, qint64(*position.stelle) + 1);
    }
    for (std::optional<Place> &place : places) {
        if (place && place->stelle)
            continue;
        if (nextStelle > kInt32Max)
            throw Error(Error::WriteFailed, storePath, QStringLiteral("queue place beyond 32 bits"));
        if (!place) {
            place = Place{1, qint32(nextStelle++)};
            ++report.cardsWithoutPosition;
        } else {
            place->stelle = qint32(nextStelle++);
            ++report.cardsWithoutPlace;
        }
    }

    if (QFileInfo::exists(storePath))
        throw Error(Error::WriteFailed, storePath, QStringLiteral("the new store's file exists already"));
    try {
        sql::Database db;
        db.open(storePath, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
        Store::createSchema(db);
        db.exec("PRAGMA foreign_keys = ON");
        sql::WriteTransaction tx(db);
        // One use of the cached statement per row: each use resets it when done.
        for (std::size_t i = 0; i < data.subjects.size(); ++i)
            sql::Statement(db, "INSERT INTO tblGebiet (idGebiet, NameGebiet) VALUES (?1, ?2)")
                .bind(1, data.subjects[i].id)
                .bind(2, names[i])
                .run();
        qint64 orphanId = 0;
        if (!report.orphanSubject.isEmpty()) {
            sql::Statement(db, "INSERT INTO tblGebiet (NameGebiet) VALUES (?1)").bind(1, report.orphanSubject).run();
            orphanId = sqlite3_last_insert_rowid(db.handle());
            if (orphanId > kInt32Max)
                throw Error(Error::WriteFailed, storePath, QStringLiteral("subject key beyond 32 bits"));
        }
        std::vector<qint64> subjectOf(data.cards.size());
        for (std::size_t i = 0; i < data.cards.size(); ++i) {
            const LegacyCard &card = data.cards[i];
            subjectOf[i] = card.subject && subjectIds.count(*card.subject) ? *card.subject : orphanId;
            sql::Statement(db, "INSERT INTO tblFrageAntwort (idFrageAntwort, idGebiet, Frage, Antwort) "
                               "VALUES (?1, ?2, ?3, ?4)")
                .bind(1, card.id)
                .bind(2, subjectOf[i])
                .bind(3, card.frage)
                .bind(4, card.antwort)
                .run();
        }
        for (std::size_t i = 0; i < data.cards.size(); ++i)
            sql::Statement(db, "INSERT INTO tblPosition (idFrageAntwort, Fach, Stelle, idGebiet) "
                               "VALUES (?1, ?2, ?3, ?4)")
                .bind(1, data.cards[i].id)
                .bind(2, places[i]->fach)
                .bind(3, *places[i]->stelle)
                .bind(4, subjectOf[i])
                .run();
        tx.commit();
    } catch (const StoreError &error) {
        throw writeFailed(storePath, error);
    }
    report.subjects = int(data.subjects.size()) + (report.orphanSubject.isEmpty() ? 0 : 1);
    report.cards = int(data.cards.size());
    return report;
}

std::optional<LegacyImportReport> importLegacyFile(const QString &path, const LegacyImportOptions &options)
{
    const FileLock lock(path);
    // Another copy may have put its new store in place while this one waited.
    const FileFormat format = sniffFormat(path);
    if (!lock.stillAt(path) || (format != FileFormat::Jet3 && format != FileFormat::Jet4))
        return std::nullopt;

    LegacyData data = readLegacyFile(path, options);
    if (!data.missingTables.isEmpty())
        throw tableError(Error::MissingTable, path, data.missingTables.first());

    const QFileInfo info(path);
    const QString dir = info.absolutePath();
    TempStore temp(path + QStringLiteral(".uebernahme-%1").arg(::getpid()));
    LegacyImportReport report;
    try {
        report = writeLegacyStore(data, temp.path());
    } catch (Error &error) {
        // Told about the file the user knows, not the temporary one.
        Error e(error.kind(), path, error.detail());
        e.table = error.table;
        e.column = error.column;
        e.diskFull = error.diskFull;
        e.readOnly = error.readOnly;
        throw e;
    }

    // Checked as the program will open it.
    try {
        StoreOptions quiet;
        quiet.backups = false;
        const std::unique_ptr<Store> store = Store::open(temp.path(), quiet);
        const QStringList problems = store->checkInvariants(true);
        if (!problems.isEmpty())
            throw Error(Error::Unsound, path, problems.join(QStringLiteral("; ")));
    } catch (const StoreError &error) {
        throw writeFailed(path, error);
    }

    // On disk before it takes the old file's name, so that a power cut cannot
    // leave a half-written store there.
    if (!files::syncFile(temp.path()))
        throw writeFailed(path, files::errnoText(), errno);
    if (!lock.stillAt(path))
        throw Error(Error::Changed, path);
    const QString original = keepOriginal(path);
    files::syncDirectory(dir);
    if (::rename(QFile::encodeName(temp.path()).constData(), QFile::encodeName(path).constData()) != 0) {
        const int saved = errno;
        QFile::remove(original); // the old file is still in place: no second name needed
        errno = saved;
        throw writeFailed(path, files::errnoText(), saved);
    }
    temp.release();
    files::syncDirectory(dir);
    report.originalPath = original;
    return report;
}

} // namespace tarlivo
