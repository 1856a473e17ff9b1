#include "transfer/exporter.h"

#include "transfer/transfererror.h"
#include "transfer/transfertexts.h"

#include <QCoreApplication>
#include <QFile>

#include <sqlite3.h>

#include <cerrno>
#include <cstdio>

#include <array>
#include <cstring>
#include <vector>

namespace tarlivo::transfer {
namespace {

constexpr qsizetype kFlushAt = 1 << 20;

// A field quoted only where a reader would otherwise split it: separator, quote or
// line break inside, or a leading # that would read as a header line.
void appendField(QByteArray &out, const char *data, int size, char separator)
{
    // Bytes that force quotes, looked up rather than compared one by one: a million
    // cards pass through here.
    static const auto special = [] {
        std::array<std::array<bool, 256>, 2> table{};
        for (auto &t : table)
            t['"'] = t['\n'] = t['\r'] = true;
        table[0]['\t'] = true;
        table[1][';'] = true;
        return table;
    }();
    const std::array<bool, 256> &forces = special[separator == ';' ? 1 : 0];
    const auto *bytes = reinterpret_cast<const unsigned char *>(data);
    bool quote = size > 0 && data[0] == '#';
    for (int i = 0; i < size && !quote; ++i)
        quote = forces[bytes[i]];
    if (!quote) {
        out.append(data, size);
        return;
    }
    out.append('"');
    const char *from = data;
    const char *end = data + size;
    while (const char *q = static_cast<const char *>(std::memchr(from, '"', size_t(end - from)))) {
        out.append(from, q - from + 1).append('"');
        from = q + 1;
    }
    out.append(from, end - from);
    out.append('"');
}

// A read transaction, so the file shows one moment of the store.
// Reading through a memory map spares a copy of every page; the store goes back to
// plain reads afterwards. Nobody can shorten the file under the read lock.
class ReadTransaction {
public:
    explicit ReadTransaction(sql::Database &db) : m_db(db)
    {
        m_db.exec("PRAGMA mmap_size = 1073741824");
        m_db.exec("BEGIN");
    }
    ~ReadTransaction()
    {
        sqlite3_exec(m_db.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_exec(m_db.handle(), "PRAGMA mmap_size = 0", nullptr, nullptr, nullptr);
    }

private:
    sql::Database &m_db;
};

// The file being written; removed unless it was renamed into place.
struct TemporaryOutput : QFile {
    explicit TemporaryOutput(const QString &target)
        : QFile(target + QStringLiteral(".tarlivo-%1").arg(QCoreApplication::applicationPid()))
    {
    }
    ~TemporaryOutput() override
    {
        if (!kept)
            remove();
    }
    bool kept = false;
};

struct StatementReset {
    sqlite3_stmt *stmt;
    ~StatementReset()
    {
        sqlite3_reset(stmt);
        sqlite3_clear_bindings(stmt);
    }
};

} // namespace

ExportResult exportCards(Store &store, const QString &path, const QString &subject,
                         const std::function<bool(qint64, qint64)> &keepGoing)
{
    ExportResult result;
    const bool csv = path.endsWith(QLatin1String(".csv"), Qt::CaseInsensitive);
    const char separator = csv ? ';' : '\t';
    sql::Database &db = store.database();
    ReadTransaction read(db);

    std::vector<std::pair<qint64, QByteArray>> subjects;
    {
        const std::optional<qint32> wanted = subject.isEmpty() ? std::nullopt : store.subjectId(subject);
        sql::Statement q(db, "SELECT idGebiet, NameGebiet FROM tblGebiet "
                             "ORDER BY NameGebiet COLLATE TARLIVO_DE, idGebiet");
        while (q.step())
            if (subject.isEmpty() || (wanted && *wanted == q.int64(0)))
                subjects.emplace_back(q.int64(0), q.text(1).toUtf8());
    }
    if (!subject.isEmpty() && subjects.empty())
        throw TransferError(text::subjectNotFound(subject));
    qint64 total = 0;
    {
        sql::Statement q(db, subject.isEmpty() ? "SELECT COUNT(*) FROM tblPosition"
                                               : "SELECT COUNT(*) FROM tblPosition WHERE idGebiet = ?1");
        if (!subject.isEmpty())
            q.bind(1, subjects.front().first);
        if (q.step())
            total = q.int64(0);
    }

    // Written beside the target and renamed over it when complete, so the file
    // appears whole or not at all. Not forced to disk: it is a copy of what the store
    // keeps safe, and syncing 100 MB would double the time of a large export.
    TemporaryOutput file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw TransferError(text::exportFailed(path, file.errorString()));
    QByteArray out;
    out.reserve(kFlushAt + 65536);
    auto flush = [&] {
        if (file.write(out) != out.size())
            throw TransferError(text::exportFailed(path, file.errorString()));
        out.clear();
    };
    if (csv)
        out.append("\xEF\xBB\xBF");
    const QByteArray sep(1, separator);
    out.append("#separator:").append(csv ? "semicolon" : "tab").append('\n');
    out.append("#html:false\n");
    out.append("#columns:Frage" + sep + "Antwort" + sep + "Fach" + sep + "Gebiet\n");
    out.append("#deck column:4\n");

    sqlite3_stmt *cards = db.prepared("SELECT p.Fach, f.Frage, f.Antwort FROM tblPosition AS p "
                                      "JOIN tblFrageAntwort AS f USING (idFrageAntwort) "
                                      "WHERE p.idGebiet = ?1 ORDER BY p.Fach, p.Stelle, p.idFrageAntwort");
    for (const auto &[id, name] : subjects) {
        StatementReset reset{cards};
        sqlite3_bind_int64(cards, 1, id);
        int rc;
        bool any = false;
        while ((rc = sqlite3_step(cards)) == SQLITE_ROW) {
            any = true;
            for (int column : {1, 2}) {
                appendField(out, reinterpret_cast<const char *>(sqlite3_column_text(cards, column)),
                            sqlite3_column_bytes(cards, column), separator);
                out.append(separator);
            }
            out.append(QByteArray::number(sqlite3_column_int64(cards, 0)));
            out.append(separator);
            appendField(out, name.constData(), int(name.size()), separator);
            out.append('\n');
            ++result.cards;
            if (out.size() >= kFlushAt) {
                flush();
                if (keepGoing && !keepGoing(result.cards, total)) {
                    return ExportResult{0, 0, true};
                }
            }
        }
        if (rc != SQLITE_DONE)
            db.fail(rc);
        result.subjects += any ? 1 : 0;
    }
    flush();
    file.close();
    if (file.error() != QFile::NoError)
        throw TransferError(text::exportFailed(path, file.errorString()));
    if (::rename(QFile::encodeName(file.fileName()).constData(), QFile::encodeName(path).constData()) != 0)
        throw TransferError(text::exportFailed(path, QString::fromLocal8Bit(std::strerror(errno))));
    file.kept = true;
    return result;
}

} // namespace tarlivo::transfer
