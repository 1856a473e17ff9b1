#pragma once

#include "store/media.h"

#include <QString>

#include <optional>
#include <vector>

namespace tarlivo {

// The rows one user action touched, each as it stood before and after; a row that
// did not exist (or no longer exists) is absent. Undo writes the rows back as they
// were before, redo as they were after, each only while the file still holds the
// other side exactly.
struct SubjectRow {
    qint32 id = 0;
    QString name;
    bool operator==(const SubjectRow &o) const { return id == o.id && name == o.name; }
};

// A card's text row and its position row together: they only ever change together.
struct CardRow {
    qint32 id = 0;
    qint32 subjectId = 0;
    QString frage; // NULL texts (files of the older program) stay null QStrings
    QString antwort;
    qint32 fach = 1;
    qint32 stelle = 0;
    qint64 seit = 0; // when it came into its compartment, seconds since 1970 UTC
    bool operator==(const CardRow &o) const
    {
        return id == o.id && subjectId == o.subjectId && frage.isNull() == o.frage.isNull() && frage == o.frage
               && antwort.isNull() == o.antwort.isNull() && antwort == o.antwort && fach == o.fach && stelle == o.stelle
               && seit == o.seit;
    }
};

// A compartment's interval changed from its default; a subject's compartment
// without a row waits the default.
struct IntervalRow {
    qint32 subjectId = 0;
    qint32 fach = 0;
    qint32 tage = 0;
    bool operator==(const IntervalRow &o) const { return subjectId == o.subjectId && fach == o.fach && tage == o.tage; }
};

enum class Verdict { Falsch = 1, FastRichtig = 2, Richtig = 3 };

// One row of the practice log.
struct LogRow {
    qint64 id = 0;
    qint64 zeitpunkt = 0; // seconds since 1970, UTC
    qint32 cardId = 0;
    qint32 subjectId = 0;
    qint32 fachVorher = 0;
    qint32 fachNachher = 0;
    Verdict urteil = Verdict::Falsch;
    bool operator==(const LogRow &o) const
    {
        return id == o.id && zeitpunkt == o.zeitpunkt && cardId == o.cardId && subjectId == o.subjectId
               && fachVorher == o.fachVorher && fachNachher == o.fachNachher && urteil == o.urteil;
    }
};

template <class Row>
struct RowChange {
    std::optional<Row> before;
    std::optional<Row> after;
};

struct Change {
    std::vector<RowChange<SubjectRow>> subjects;
    std::vector<RowChange<CardRow>> cards;
    std::vector<RowChange<LogRow>> log;
    // Absent before or after: the compartment waits its default.
    std::vector<RowChange<IntervalRow>> intervals;
    // A card side's files, and the files themselves when they came or went with it.
    std::vector<RowChange<MediaLinkRow>> mediaLinks;
    std::vector<RowChange<MediaRow>> media;

    bool isEmpty() const
    {
        return subjects.empty() && cards.empty() && log.empty() && intervals.empty() && mediaLinks.empty()
               && media.empty();
    }
};

} // namespace tarlivo
