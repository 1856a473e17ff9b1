#include "legacy/streamreader.h"

#include "legacy/importerror.h"
#include "legacy/legacystream.h"
#include "store/numbertest.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>

#include <cstring>
#include <limits>

using namespace tarlivo::store;

namespace tarlivo::legacy {
namespace {

using Error = LegacyImportError;
using legacy::tableError;

constexpr qint64 kInt32Min = std::numeric_limits<qint32>::min();
constexpr qsizetype kMaxReaderErrors = 64 * 1024;

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

} // namespace

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

} // namespace tarlivo::legacy
