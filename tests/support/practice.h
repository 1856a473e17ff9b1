#pragma once

#include "rawdb.h"
#include "testapp.h"

#include <QMap>
#include <QtTest>

// A running program over a store seeded through a second connection, with the
// practice road driven through its windows and the file read back row by row.
struct PracticeApp : TestApp, Seeder {
    struct Position {
        qint64 compartment = -1;
        qint64 queuePlace = -1;
        bool operator==(const Position &o) const { return compartment == o.compartment && queuePlace == o.queuePlace; }
    };
    struct Texts {
        QString question;
        QString answer;
        bool operator==(const Texts &o) const { return question == o.question && answer == o.answer; }
    };
    // Everything practice can change in the file.
    struct Snapshot {
        QMap<qint32, Position> positions;
        QMap<qint32, Texts> texts;
        bool operator==(const Snapshot &o) const { return positions == o.positions && texts == o.texts; }
    };
    // Everything practice shows.
    struct Display {
        QString question;
        QString answer;
        bool answerShown = false;
        qint32 aktFrageID = 0;
        QStringList entries;
        QString listText;
        bool operator==(const Display &o) const
        {
            return question == o.question && answer == o.answer && answerShown == o.answerShown
                   && aktFrageID == o.aktFrageID && entries == o.entries && listText == o.listText;
        }
    };

    PracticeApp() : Seeder{openStore()} { forms->start(); }

    // A damaged file: a row deleted behind the program's back, through a plain
    // connection (which enforces no foreign keys, as an older tool would not).
    void rawDelete(const char *sql, qint32 card) const
    {
        rawdb::Connection db(dbPath());
        QCOMPARE(db.run(sql, {{"?1", card}}), std::make_pair(SQLITE_DONE, 1));
    }

    // The file as it stands, read through a plain connection.
    Snapshot snapshot() const
    {
        Snapshot s;
        rawdb::Connection db(dbPath());
        for (const QStringList &row : db.rows("SELECT idFrageAntwort, Fach, Stelle FROM tblPosition"))
            s.positions.insert(row[0].toInt(), {row[1].toLongLong(), row[2].toLongLong()});
        for (const QStringList &row : db.rows("SELECT idFrageAntwort, Frage, Antwort FROM tblFrageAntwort"))
            s.texts.insert(row[0].toInt(), {row[1], row[2]});
        return s;
    }

    Position position(qint32 card) const { return snapshot().positions.value(card); }

    tarlivo::windows::FrmUeb &ueb() { return forms->window<FrmUeb>(); }
    tarlivo::windows::FrmEdit &edit() { return forms->window<FrmEdit>(); }
    // The card on display (0: none).
    qint32 akt() const { return forms->window<FrmUeb>().shownCard().value_or(0); }
    bool answerShown() { return !label(ueb(), "lblAntwort")->isHidden(); }
    QStringList entries() { return drive::entries(combo(ueb(), "cmbFach")); }

    Display display()
    {
        tarlivo::windows::FrmUeb &w = ueb();
        return {label(w, "lblFrage")->text(), label(w, "lblAntwort")->text(), answerShown(), akt(), entries(),
                combo(w, "cmbFach")->text()};
    }

    // Presses b, which must show exactly message and change neither the file nor
    // the window.
    void pressRefused(QAbstractButton *b, const QString &message)
    {
        const Snapshot file = snapshot();
        const Display shown = display();
        b->click();
        QCOMPARE(dialogs.take(), QStringList{message});
        QCOMPARE(snapshot(), file);
        QCOMPARE(display(), shown);
    }

    // Picks or types into the compartment list without pressing "&Übernehmen".
    void choose(const QString &compartment) { drive::choose(combo(ueb(), "cmbFach"), compartment); }
    // The same, then "&Übernehmen".
    void takeCompartment(const QString &compartment)
    {
        choose(compartment);
        button(ueb(), "cmdFachOk")->click();
    }
};

// The rows of a test run once with the answer hidden and once with it shown.
inline void addRevealedRows()
{
    QTest::addColumn<bool>("revealed");
    QTest::newRow("answer hidden") << false;
    QTest::newRow("answer shown") << true;
}

inline char *toString(const PracticeApp::Position &p)
{
    return QTest::toString(QStringLiteral("Fach %1, Stelle %2").arg(p.compartment).arg(p.queuePlace));
}

inline char *toString(const PracticeApp::Display &d)
{
    return QTest::toString(QStringLiteral("frage \"%1\", antwort \"%2\" %3, AktFrageID %4, list [%5] text \"%6\"")
                               .arg(d.question, d.answer, d.answerShown ? "shown" : "hidden")
                               .arg(d.aktFrageID)
                               .arg(d.entries.join(','), d.listText));
}

inline char *toString(const PracticeApp::Snapshot &s)
{
    QStringList rows;
    for (auto it = s.positions.begin(); it != s.positions.end(); ++it)
        rows << QStringLiteral("%1:F%2/S%3").arg(it.key()).arg(it->compartment).arg(it->queuePlace);
    for (auto it = s.texts.begin(); it != s.texts.end(); ++it)
        rows << QStringLiteral("%1:\"%2\"/\"%3\"").arg(it.key()).arg(it->question, it->answer);
    return QTest::toString(rows.join(QLatin1Char(' ')));
}
