#pragma once

#include <QString>
#include <QStringList>
#include <QtTest>

#include <sqlite3.h>

// Plain connections to a database file, without the program's collation or
// checks: to look at what the program wrote, or to prepare a file behind its back.
namespace rawdb {

inline void exec(const QString &path, const char *sql)
{
    sqlite3 *db = nullptr;
    QCOMPARE(sqlite3_open(path.toUtf8().constData(), &db), SQLITE_OK);
    char *error = nullptr;
    const int rc = sqlite3_exec(db, sql, nullptr, nullptr, &error);
    const QString message = error ? QString::fromUtf8(error) : QString();
    sqlite3_free(error);
    sqlite3_close(db);
    QVERIFY2(rc == SQLITE_OK, qPrintable(message));
}

// Every row of the query, its columns joined by "|"; NULL reads "<null>".
inline QStringList rows(const QString &path, const char *sql)
{
    QStringList result;
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return {QStringLiteral("<cannot open>")};
    }
    sqlite3_stmt *stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) != SQLITE_OK) {
        result << QStringLiteral("<error: %1>").arg(QString::fromUtf8(sqlite3_errmsg(db)));
    } else {
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            QStringList columns;
            for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
                if (sqlite3_column_type(stmt, i) == SQLITE_NULL)
                    columns << QStringLiteral("<null>");
                else
                    columns << QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, i)),
                                                 sqlite3_column_bytes(stmt, i));
            }
            result << columns.join(QLatin1Char('|'));
        }
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return result;
}

inline qint64 count(const QString &path, const char *sql)
{
    const QStringList r = rows(path, sql);
    bool ok = false;
    const qint64 n = r.size() == 1 ? r.first().toLongLong(&ok) : -1;
    return ok ? n : -1;
}

} // namespace rawdb
