#include "shell/modpubs.h"

#include <QDir>

namespace tarlivo::ui {

QString databasePath(const QString &programDir) { return QDir(programDir).filePath(QStringLiteral("Tarlivo.mdb")); }

void ConnectDB(ModPubs &pubs, const QString &dataFile, const StoreOptions &options)
{
    pubs.DBPath = dataFile;
    pubs.DBConn.reset();
    pubs.DBConn = Store::open(pubs.DBPath, options);
}

} // namespace tarlivo::ui
