#include "ui/session.h"

#include "ui/datafile.h"
#include "ui/dialogs.h"
#include "ui/legacytakeover.h"
#include "ui/messages.h"
#include "ui/searchindexer.h"

#include <QApplication>
#include <QDir>

#include <utility>

using namespace tarlivo::store;
using namespace tarlivo::legacy;

namespace tarlivo::ui {

Session::Session(Dialogs &dialogs, Setup setup)
    : m_dialogs(dialogs), m_setup(std::move(setup)), m_indexer(std::make_unique<SearchIndexer>())
{
    connect(this, &Session::storeOpened, m_indexer.get(), [this] { m_indexer->setStore(m_store.get()); });
    connect(this, &Session::storeClosing, m_indexer.get(), [this] { m_indexer->setStore(nullptr); });
    connect(this, &Session::changed, m_indexer.get(), &SearchIndexer::wake);
    m_playback = std::make_unique<Playback>(dialogs, m_setup.soundPlayer, m_setup.voice);
    // The settings live in the data file and follow it.
    connect(this, &Session::storeOpened, m_playback.get(), [this] { m_playback->useStore(m_store.get()); });
    connect(this, &Session::storeClosing, m_playback.get(), [this] { m_playback->useStore(nullptr); });
    auto previous = m_setup.storeOptions.backupFailed;
    // A failed backup never blocks the user, and only a full disk is worth a word.
    m_setup.storeOptions.backupFailed = [this, previous](const StoreError &error) {
        if (previous)
            previous(error);
        if (error.kind() == StoreErrorKind::Full)
            message(QApplication::activeWindow(), text::backupDiskFull(error.path()));
    };
}

Session::~Session() = default;

void Session::open()
{
    if (m_store)
        emit storeClosing();
    // The old store goes only once the new one is open: the day's copy it started in
    // the background carries on for the new one instead of starting over.
    const std::unique_ptr<Store> old = std::move(m_store);
    m_store = Store::open(m_setup.dataFile, m_setup.storeOptions);
    emit storeOpened();
}

void Session::tellReadOnly(QWidget *parent)
{
    if (m_store && m_store->isReadOnly() && !std::exchange(m_toldReadOnly, true))
        message(parent, text::readOnlyDataFile(m_setup.dataFile));
}

bool Session::ConnectDB(QWidget *parent)
{
    try {
        open();
        tellReadOnly(parent);
        return true;
    } catch (const StoreError &error) {
        if (error.kind() != StoreErrorKind::LegacyFormat
            || !takeOverLegacyFile(m_setup.dataFile, legacyReaderPath(), m_dialogs, parent)) {
            if (error.kind() != StoreErrorKind::LegacyFormat)
                message(parent, text::storeError(error, true));
            return false;
        }
    }
    // The file taken over is a store now.
    try {
        open();
        return true;
    } catch (const StoreError &error) {
        message(parent, text::storeError(error, true));
        return false;
    }
}

bool Session::ensureStore(QWidget *parent)
{
    if (!m_store)
        return ConnectDB(parent);
    // Opened quietly for the status line: told at the first window that uses it.
    tellReadOnly(parent);
    return true;
}

bool Session::openQuietly()
{
    if (m_store)
        return true;
    if (sniffFormat(m_setup.dataFile) != FileFormat::SQLite)
        return false;
    try {
        open();
        return true;
    } catch (const StoreError &) {
        return false;
    }
}

Store &Session::db()
{
    if (!m_store)
        throw StoreError(StoreErrorKind::NotConnected, m_setup.dataFile);
    return *m_store;
}

QString Session::legacyReaderPath() const
{
    if (!m_setup.legacyReader.isEmpty())
        return m_setup.legacyReader;
    return findLegacyReader(QCoreApplication::applicationDirPath());
}

void Session::message(QWidget *parent, const QString &text) { m_dialogs.message(parent, text); }

void Session::report(QWidget *parent, const StoreError &error) { message(parent, text::storeError(error)); }

void Session::end()
{
    if (m_setup.endProgram)
        m_setup.endProgram();
}

void Session::record(const QString &label, const Change &change, const QObject *origin)
{
    m_history.record(label, change);
    emit changed(change, origin);
}

bool Session::undo(QWidget *parent)
{
    std::optional<Change> change;
    try {
        change = m_history.undo(db());
    } catch (const StoreError &error) {
        report(parent, error);
        return false;
    }
    if (!change)
        return false;
    // Told from its other side: what undo leaves is what the step found.
    emit changed(change->reversed(), nullptr);
    return true;
}

bool Session::redo(QWidget *parent)
{
    std::optional<Change> change;
    try {
        change = m_history.redo(db());
    } catch (const StoreError &error) {
        report(parent, error);
        return false;
    }
    if (!change)
        return false;
    emit changed(*change, nullptr);
    return true;
}

QString databasePath(const QString &programDir) { return QDir(programDir).filePath(QStringLiteral("Tarlivo.mdb")); }

std::optional<qint32> getIDgebiet(Store &db, const QString &name) { return db.subjectId(name); }

} // namespace tarlivo::ui
