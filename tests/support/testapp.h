#pragma once

#include "app/forms.h"
#include "scripteddialogs.h"
#include "store/sqlite.h"
#include "store/store.h"
#include "storedb.h"
#include "windows.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

inline tarlivo::store::StoreOptions noBackups()
{
    tarlivo::store::StoreOptions options;
    options.backups = false;
    return options;
}

// A session over the data file at path, for the windows beyond the six; connect()
// opens the file.
inline tarlivo::ui::Session::Setup sessionOn(const QString &path, tarlivo::store::StoreOptions options = noBackups())
{
    return {path, std::move(options), {}};
}
inline tarlivo::ui::Session &connected(tarlivo::ui::Session &session)
{
    if (!session.ConnectDB(nullptr))
        qFatal("the test's data file cannot be opened");
    return session;
}

// Types a card key by key into the card entry window and presses "&Übernehmen".
inline void keyInCard(tarlivo::windows::FrmNeu &neu, const QString &question, const QString &answer)
{
    QTest::keyClicks(textBox(neu, "txtFrage"), question);
    QTest::keyClicks(textBox(neu, "txtAntwort"), answer);
    button(neu, "cmdUebernahme")->click();
}

// Subjects and cards written beside the program, through a store connection of
// their own.
struct Seeder {
    std::unique_ptr<tarlivo::store::Store> store;

    // The new subject's key; its cards read "F0"/"A0", "F1"/"A1" and so on.
    qint32 subject(const QString &name, int cards = 0)
    {
        store->addSubject(name);
        const qint32 id = *store->subjectId(name);
        for (int i = 0; i < cards; ++i)
            store->addCard(id, QStringLiteral("F%1").arg(i), QStringLiteral("A%1").arg(i));
        return id;
    }

    // A card at the end of the queue, then put into compartment (its place kept).
    qint32 card(qint32 subjectId, const QString &question, const QString &answer, qint32 compartment = 1)
    {
        const qint32 id = store->addCard(subjectId, question, answer);
        if (compartment != 1)
            setCompartment(id, compartment);
        return id;
    }

    void setCompartment(qint32 card, qint64 compartment)
    {
        tarlivo::store::sql::Statement q(storedb::of(*store),
                                         "UPDATE tblPosition SET Fach = ?1 WHERE idFrageAntwort = ?2");
        q.bind(1, compartment).bind(2, card).run();
    }

    void setQueuePlace(qint32 card, qint64 queuePlace)
    {
        tarlivo::store::sql::Statement q(storedb::of(*store),
                                         "UPDATE tblPosition SET Stelle = ?1 WHERE idFrageAntwort = ?2");
        q.bind(1, queuePlace).bind(2, card).run();
    }
};

// A Tarlivo run over a fresh temporary directory, with scripted message boxes.
// The database file lies in dir, as it lies beside the program.
struct TestApp {
    QTemporaryDir dir;
    ScriptedDialogs dialogs;
    int endCalls = 0;
    std::unique_ptr<tarlivo::app::Forms> forms;

    explicit TestApp(tarlivo::store::StoreOptions options = noBackups())
    {
        forms = std::make_unique<tarlivo::app::Forms>(
            dialogs, tarlivo::app::Forms::Setup{tarlivo::ui::databasePath(dir.path()), options, [this] { ++endCalls; },
                                                readerPath()});
    }

    // The reader of old Access files, built beside the program.
    static QString readerPath() { return QStringLiteral(TARLIVO_MDB_READER); }

    QString dbPath() const { return tarlivo::ui::databasePath(dir.path()); }

    // A second connection to the same file, to check what was written.
    std::unique_ptr<tarlivo::store::Store> openStore() const
    {
        return tarlivo::store::Store::open(dbPath(), noBackups());
    }
    Seeder seeder() const { return {openStore()}; }

    // Subjects, each with that many cards, written before the run.
    void seed(const QList<QPair<QString, int>> &subjects)
    {
        Seeder s = seeder();
        for (const auto &[name, cards] : subjects)
            s.subject(name, cards);
    }

    // Lets deferred deletions of unloaded windows happen.
    static void settle() { drive::settle(); }

    // The subject window, when it is on screen.
    tarlivo::windows::FrmGebiete *gebiete() const { return drive::gebiete(*forms); }

    // In the subject window on screen: picks or types name and takes it.
    void takeSubject(const QString &name) { QVERIFY(drive::takeSubject(*forms, name)); }

    // From the start window (shown first if need be) to the card entry or the
    // practice window of subject, the way a user goes.
    tarlivo::windows::FrmNeu &startEntry(const QString &subject)
    {
        if (!forms->loaded(QStringLiteral("frmWelcome")))
            forms->start();
        drive::openEntry(*forms, subject);
        return forms->window<FrmNeu>();
    }
    tarlivo::windows::FrmUeb &startPractice(const QString &subject)
    {
        if (!forms->loaded(QStringLiteral("frmWelcome")))
            forms->start();
        drive::openPractice(*forms, subject);
        return forms->window<FrmUeb>();
    }
};
