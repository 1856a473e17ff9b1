#pragma once

#include "forms.h"
#include "scripteddialogs.h"
#include "store.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <memory>

// A Tarlivo run over a fresh temporary directory, with scripted message boxes.
// The database file lies in dir, as it lies beside the program.
struct TestApp {
    QTemporaryDir dir;
    ScriptedDialogs dialogs;
    int endCalls = 0;
    std::unique_ptr<tarlivo::ui::Forms> forms;

    explicit TestApp(tarlivo::StoreOptions options = noBackups())
    {
        forms = std::make_unique<tarlivo::ui::Forms>(
            dialogs, tarlivo::ui::Forms::Setup{dir.path(), options, [this] { ++endCalls; }, readerPath()});
    }

    static tarlivo::StoreOptions noBackups()
    {
        tarlivo::StoreOptions options;
        options.backups = false;
        return options;
    }

    // The reader of old Access files, built beside the program.
    static QString readerPath() { return QStringLiteral(TARLIVO_MDB_READER); }

    QString dbPath() const { return tarlivo::ui::databasePath(dir.path()); }

    // A second connection to the same file, to check what was written.
    std::unique_ptr<tarlivo::Store> openStore() const { return tarlivo::Store::open(dbPath(), noBackups()); }

    // Lets deferred deletions of unloaded windows happen.
    static void settle() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }
};
