#pragma once

#include <QString>
#include <QTextStream>

namespace tarlivo::print {

// The PDF asked for on the command line: one subject or all, as a list or as cards,
// on A4.
struct PrintRequest {
    QString dataFile;
    QString file;    // the PDF to write
    QString subject; // empty: all subjects
    bool cards = false;
};

// Writes it without any window (a QGuiApplication must exist): a summary to out, or
// the German reason to err and no file. Returns 0 or 1.
int runPrintCommand(const PrintRequest &request, QTextStream &out, QTextStream &err);

} // namespace tarlivo::print
