#pragma once

#include "store/store.h"

#include <QString>
#include <memory>

namespace tarlivo::ui {

// The state the windows hand one another; it lives for the whole run.
struct ModPubs {
    QString Modus;         // "Edit" on the card-entry road, "Ueb" on the practice road
    QString GebietName;    // the subject last taken in the subject window
    qint32 AktFrageID = 0; // the card on display in practice
    QString DBPath;        // full path of the database file
    std::unique_ptr<Store> DBConn;
};

inline const QString kModusUeb = QStringLiteral("Ueb");
inline const QString kModusEdit = QStringLiteral("Edit");

// The data file kept beside the program.
QString databasePath(const QString &programDir);

// Opens the database file, replacing (and closing) the previous
// connection. Throws StoreError; DBConn is then empty.
void ConnectDB(ModPubs &pubs, const QString &dataFile, const StoreOptions &options);

} // namespace tarlivo::ui
