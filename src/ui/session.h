#pragma once

#include "store/history.h"
#include "store/store.h"
#include "ui/playback.h"

#include <QObject>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QWidget;

namespace tarlivo::ui {

class Dialogs;
class SearchIndexer;

// What the whole run shares: the data file, its open store, the dialogs and the
// steps the user can take back. Handed to every window by its constructor; the
// choices a user makes travel as arguments.
class Session : public QObject {
    Q_OBJECT
public:
    struct Setup {
        QString dataFile; // the database file
        store::StoreOptions storeOptions;
        std::function<void()> endProgram;       // stops the run
        QString legacyReader = {};              // reader of old Access files; empty: beside the program
        Playback::PlayerMaker soundPlayer = {}; // empty: the sound plugin, on first use
        Playback::VoiceMaker voice = {};        // empty: the voice plugin, on first use
        SoundSource sideSound = {};             // empty: the data file's sounds
        // With a sync folder set: how often the program syncs while changes wait, and
        // how long its end waits for the last sync.
        std::chrono::milliseconds syncEvery = std::chrono::minutes(5);
        std::chrono::milliseconds syncEndWait = std::chrono::seconds(10);
    };

    Session(Dialogs &dialogs, Setup setup);
    ~Session() override;
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    Dialogs &dialogs() { return m_dialogs; }
    const Setup &setup() const { return m_setup; }
    const QString &dataFile() const { return m_setup.dataFile; }

    // Opens the data file afresh, replacing (and closing) the connection before,
    // taking over a file of the older Access-based program first. False after
    // telling the user why not; the store is then closed.
    bool ConnectDB(QWidget *parent);
    // The store is open, connecting first when nothing has yet; false after telling
    // the user why not.
    bool ensureStore(QWidget *parent);
    // Opens the store without a word when the data file already is one; a missing
    // file, one of the older program or one that cannot serve waits for the window
    // that tells the user why. False when no store is open.
    bool openQuietly();
    // The open store; throws StoreError(NotConnected) before the first connection.
    store::Store &db();
    // The open store, or null.
    store::Store *store() const { return m_store.get(); }

    // The program that reads files of the older Access-based program.
    QString legacyReaderPath() const;

    // A message box over parent.
    void message(QWidget *parent, const QString &text);
    // Tells the user that a store operation failed.
    void report(QWidget *parent, const store::StoreError &error);
    // "&Ende": the run stops, with no question.
    void end();

    store::History &history() { return m_history; }
    // Sounds and reading aloud while practising.
    Playback &playback() { return *m_playback; }
    // Indexes the cards an import left for later, in the background.
    SearchIndexer &searchIndexer() { return *m_indexer; }
    // A change the user made in window origin: kept for undo and told to every
    // other window.
    void record(const QString &label, const store::Change &change, const QObject *origin);
    // Takes back (or again) the newest step; tells the user when the file no longer
    // holds its rows as the step left them. False when nothing changed.
    // A change that is no step to take back (an import): only told to the windows.
    void tell(const store::Change &change, const QObject *origin) { emit changed(change, origin); }
    bool undo(QWidget *parent);
    bool redo(QWidget *parent);

signals:
    // The open store is about to be replaced: whoever holds it lets go now.
    void storeClosing();
    // A store is open (again).
    void storeOpened();
    // The rows of the file changed: change.after holds them as they are now (an
    // empty change: anything may have changed). origin is the window that made the
    // change, or null for an undo or redo.
    void changed(const tarlivo::store::Change &change, const QObject *origin);

private:
    void open(); // throws StoreError
    // Says once a run that a read-only file's changes cannot be saved.
    void tellReadOnly(QWidget *parent);

    Dialogs &m_dialogs;
    Setup m_setup;
    std::unique_ptr<store::Store> m_store;
    bool m_toldReadOnly = false;
    store::History m_history;
    std::unique_ptr<SearchIndexer> m_indexer; // after m_store: stops before it goes
    std::unique_ptr<Playback> m_playback;
};

// The data file kept beside the program.
QString databasePath(const QString &programDir);

// The key of the subject of that name; empty when there is none. Throws StoreError.
std::optional<qint32> getIDgebiet(store::Store &db, const QString &name);

} // namespace tarlivo::ui
