#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

// What an import reports, apart from the readers that find it: the texts word it.
namespace tarlivo::transfer {

enum class Encoding { Utf8, Utf8Bom, Utf16LE, Utf16BE, Windows1252 };

// Why a line (or an Anki note) is not stored.
enum class LineProblem { OneField, EmptyQuestion, EmptyAnswer, BadCompartment, BadSubject, Deactivated };

struct RefusedLine {
    qint64 line = 0;
    LineProblem problem = LineProblem::OneField;
    QString value;      // the Fach or Gebiet refused
    bool entry = false; // line counts the entries of an XML file
};

struct ImportSummary {
    QStringList subjectsCreated;
    qint64 cardsStored = 0;
    qint64 duplicatesSkipped = 0;
    qint64 linesRefused = 0;
    bool entries = false; // the refused are entries of an XML file, not lines
    qint64 mediaDropped = 0;
    qint64 progressKept = 0; // cards stored beyond compartment 1 or with their time
    QList<QPair<QString, QString>> renamedDecks;
    bool cancelled = false;
};

} // namespace tarlivo::transfer
