#pragma once

#include "controls.h"
#include "frmedit.h"
#include "frmgebiete.h"
#include "frmueb.h"
#include "frmwelcome.h"
#include "testapp.h"

#include <QMap>
#include <QtTest>

#include <sqlite3.h>

// A running program over a store seeded through a second connection, with the
// practice road driven through its windows and the file read back row by row.
struct PracticeApp : TestApp {
    struct Position {
        qint64 fach = -1;
        qint64 stelle = -1;
        bool operator==(const Position &o) const { return fach == o.fach && stelle == o.stelle; }
    };
    struct Texts {
        QString frage;
        QString antwort;
        bool operator==(const Texts &o) const { return frage == o.frage && antwort == o.antwort; }
    };
    // Everything practice can change in the file.
    struct Snapshot {
        QMap<qint32, Position> positions;
        QMap<qint32, Texts> texts;
        bool operator==(const Snapshot &o) const { return positions == o.positions && texts == o.texts; }
    };
    // Everything practice shows.
    struct Display {
        QString frage;
        QString antwort;
        bool antwortShown = false;
        qint32 aktFrageID = 0;
        QStringList entries;
        QString listText;
        bool operator==(const Display &o) const
        {
            return frage == o.frage && antwort == o.antwort && antwortShown == o.antwortShown
                && aktFrageID == o.aktFrageID && entries == o.entries && listText == o.listText;
        }
    };

    std::unique_ptr<tarlivo::Store> seed;

    PracticeApp()
    {
        seed = openStore();
        forms->start();
    }

    qint32 subject(const QString &name)
    {
        seed->addSubject(name);
        return *seed->subjectId(name);
    }

    // A card at the end of the queue, then put into fach (its place kept).
    qint32 card(qint32 subjectId, const QString &frage, const QString &antwort, qint32 fach = 1)
    {
        const qint32 id = seed->addCard(subjectId, frage, antwort);
        if (fach != 1)
            setFach(id, fach);
        return id;
    }

    void setFach(qint32 card, qint64 fach)
    {
        tarlivo::sql::Statement q(seed->database(), "UPDATE tblPosition SET Fach = ?1 WHERE idFrageAntwort = ?2");
        q.bind(1, fach).bind(2, card).run();
    }

    void setStelle(qint32 card, qint64 stelle)
    {
        tarlivo::sql::Statement q(seed->database(), "UPDATE tblPosition SET Stelle = ?1 WHERE idFrageAntwort = ?2");
        q.bind(1, stelle).bind(2, card).run();
    }

    // A damaged file: a row deleted behind the program's back, through a plain
    // connection (which enforces no foreign keys, as an older tool would not).
    void rawDelete(const char *sql, qint32 card) const
    {
        sqlite3 *db = nullptr;
        QCOMPARE(sqlite3_open(dbPath().toUtf8().constData(), &db), SQLITE_OK);
        sqlite3_stmt *stmt = nullptr;
        QCOMPARE(sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr), SQLITE_OK);
        sqlite3_bind_int64(stmt, 1, card);
        const int rc = sqlite3_step(stmt);
        const int changes = sqlite3_changes(db);
        sqlite3_finalize(stmt);
        sqlite3_close(db);
        QCOMPARE(rc, SQLITE_DONE);
        QCOMPARE(changes, 1);
    }

    // The file as it stands, read through a plain connection.
    Snapshot snapshot() const
    {
        Snapshot s;
        sqlite3 *db = nullptr;
        if (sqlite3_open_v2(dbPath().toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
            sqlite3_close(db);
            return s;
        }
        sqlite3_stmt *stmt = nullptr;
        sqlite3_prepare_v2(db, "SELECT idFrageAntwort, Fach, Stelle FROM tblPosition", -1, &stmt, nullptr);
        while (sqlite3_step(stmt) == SQLITE_ROW)
            s.positions.insert(qint32(sqlite3_column_int64(stmt, 0)),
                               {sqlite3_column_int64(stmt, 1), sqlite3_column_int64(stmt, 2)});
        sqlite3_finalize(stmt);
        sqlite3_prepare_v2(db, "SELECT idFrageAntwort, Frage, Antwort FROM tblFrageAntwort", -1, &stmt, nullptr);
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            auto text = [stmt](int column) {
                return QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, column)));
            };
            s.texts.insert(qint32(sqlite3_column_int64(stmt, 0)), {text(1), text(2)});
        }
        sqlite3_finalize(stmt);
        sqlite3_close(db);
        return s;
    }

    Position position(qint32 card) const { return snapshot().positions.value(card); }
    qint64 largestStelle() const
    {
        qint64 largest = 0;
        for (const Position &p : snapshot().positions)
            largest = std::max(largest, p.stelle);
        return largest;
    }

    tarlivo::ui::FrmUeb &ueb() { return forms->frmUeb(); }
    tarlivo::ui::FrmEdit &edit() { return forms->frmEdit(); }
    tarlivo::ui::FrmGebiete *gebiete() const
    {
        return static_cast<tarlivo::ui::FrmGebiete *>(forms->loaded("frmGebiete"));
    }
    qint32 akt() const { return forms->pubs().AktFrageID; }
    bool answerShown() { return !ueb().lblAntwort->isHidden(); }
    QStringList entries()
    {
        QStringList list;
        for (int i = 0; i < ueb().cmbFach->count(); ++i)
            list << ueb().cmbFach->itemText(i);
        return list;
    }

    Display display()
    {
        tarlivo::ui::FrmUeb &w = ueb();
        return {w.lblFrage->text(), w.lblAntwort->text(), answerShown(), akt(), entries(), w.cmbFach->text()};
    }

    // From the start window: "&Übung starten", then take the subject.
    void startPractice(const QString &name)
    {
        forms->frmWelcome().cmdUeben->click();
        takeSubject(name);
    }

    // In the subject window on screen: pick the name from its list, or type it.
    void takeSubject(const QString &name)
    {
        tarlivo::ui::FrmGebiete *g = gebiete();
        QVERIFY(g && g->isVisible());
        const int index = g->cmbGebiet->findText(name, Qt::MatchExactly);
        if (index >= 0)
            g->cmbGebiet->setCurrentIndex(index);
        else
            g->cmbGebiet->setEditText(name);
        g->cmdUebernahmeGebiet->click();
        settle();
    }

    // Picks or types into the compartment list without pressing "&Übernehmen".
    void choose(const QString &fach)
    {
        const int index = ueb().cmbFach->findText(fach, Qt::MatchExactly);
        if (index >= 0)
            ueb().cmbFach->setCurrentIndex(index);
        else
            ueb().cmbFach->setEditText(fach);
    }
};

inline char *toString(const PracticeApp::Position &p)
{
    return QTest::toString(QStringLiteral("Fach %1, Stelle %2").arg(p.fach).arg(p.stelle));
}

inline char *toString(const PracticeApp::Display &d)
{
    return QTest::toString(QStringLiteral("frage \"%1\", antwort \"%2\" %3, AktFrageID %4, list [%5] text \"%6\"")
                               .arg(d.frage, d.antwort, d.antwortShown ? "shown" : "hidden")
                               .arg(d.aktFrageID)
                               .arg(d.entries.join(','), d.listText));
}

inline char *toString(const PracticeApp::Snapshot &s)
{
    QStringList rows;
    for (auto it = s.positions.begin(); it != s.positions.end(); ++it)
        rows << QStringLiteral("%1:F%2/S%3").arg(it.key()).arg(it->fach).arg(it->stelle);
    for (auto it = s.texts.begin(); it != s.texts.end(); ++it)
        rows << QStringLiteral("%1:\"%2\"/\"%3\"").arg(it.key()).arg(it->frage, it->antwort);
    return QTest::toString(rows.join(QLatin1Char(' ')));
}
