#pragma once

#include "store/store.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>

class QWidget;

namespace tarlivo::ui {

class Dialogs;

// The two roads from the start window: typing new cards, or practising.
enum class Road { Entry, Practice };

// What the whole run shares: the data file, its open store and the dialogs. Handed
// to every window by its constructor; the choices a user makes travel as arguments.
class Session {
public:
    struct Setup {
        QString dataFile; // the database file
        StoreOptions storeOptions;
        std::function<void()> endProgram; // stops the run
        QString legacyReader = {};        // reader of old Access files; empty: beside the program
    };

    Session(Dialogs &dialogs, Setup setup);
    ~Session();
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    Dialogs &dialogs() { return m_dialogs; }
    const Setup &setup() const { return m_setup; }
    const QString &dataFile() const { return m_setup.dataFile; }

    // Opens the data file afresh, replacing (and closing) the connection before,
    // taking over a file of the older Access-based program first. False after
    // telling the user why not; the store is then closed.
    bool ConnectDB(QWidget *parent);
    // The open store; throws StoreError(NotConnected) before the first connection.
    Store &db();
    // The open store, or null.
    Store *store() const { return m_store.get(); }

    // The program that reads files of the older Access-based program.
    QString legacyReaderPath() const;

    // A message box over parent.
    void message(QWidget *parent, const QString &text);
    // Tells the user that a store operation failed.
    void report(QWidget *parent, const StoreError &error);
    // "&Ende": the run stops, with no question.
    void end();

private:
    friend bool takeOverLegacyFile(Session &session, QWidget *parent);
    void open(); // throws StoreError

    Dialogs &m_dialogs;
    Setup m_setup;
    std::unique_ptr<Store> m_store;
};

// The data file kept beside the program.
QString databasePath(const QString &programDir);

// The key of the subject of that name; empty when there is none. Throws StoreError.
std::optional<qint32> getIDgebiet(Store &db, const QString &GebText);

} // namespace tarlivo::ui
