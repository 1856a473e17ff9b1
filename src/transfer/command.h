#pragma once

#include <QString>
#include <QTextStream>

#include <functional>

namespace tarlivo::transfer {

// One import, export or due report asked for on the command line.
struct CommandRequest {
    enum Action { Import, Export, Due } action;
    QString dataFile; // the Tarlivo data file
    QString file;     // the file to read or write
    QString subject;  // the subject: target of a text file without Gebiet column, or the one to export or report
    std::function<qint64()> now = {}; // the store's clock (seconds since 1970 UTC); default: the real one
};

// Runs it without any window: the summary goes to out, the German reason for
// refusing to err. Returns 0 on success, 1 on refusal.
int runCommand(const CommandRequest &request, QTextStream &out, QTextStream &err);

} // namespace tarlivo::transfer
