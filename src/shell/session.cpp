#include "shell/session.h"

#include "shell/datafile.h"
#include "shell/dialogs.h"
#include "shell/legacytakeover.h"
#include "shell/messages.h"

#include <QApplication>
#include <QDir>

namespace tarlivo::ui {

Session::Session(Dialogs &dialogs, Setup setup) : m_dialogs(dialogs), m_setup(std::move(setup))
{
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
    m_store.reset();
    m_store = Store::open(m_setup.dataFile, m_setup.storeOptions);
}

bool Session::ConnectDB(QWidget *parent)
{
    try {
        open();
        return true;
    } catch (const StoreError &error) {
        if (error.kind() == StoreErrorKind::LegacyFormat)
            return takeOverLegacyFile(*this, parent);
        message(parent, text::storeError(error, true));
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

QString databasePath(const QString &programDir) { return QDir(programDir).filePath(QStringLiteral("Tarlivo.mdb")); }

std::optional<qint32> getIDgebiet(Store &db, const QString &GebText) { return db.subjectId(GebText); }

} // namespace tarlivo::ui
