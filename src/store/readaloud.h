#pragma once

#include "store/internal.h"

namespace tarlivo::store {

// Reading aloud and sound: the languages of each subject's questions and answers
// (tblGebietSprache, none kept as no row), and the practice settings switched away
// from their defaults (tblEinstellung).
class ReadAloud : StorePart {
public:
    explicit ReadAloud(Store &store);

    SubjectLanguages subjectLanguages(qint32 subjectId);
    void setSubjectLanguages(qint32 subjectId, const SubjectLanguages &languages);
    bool setting(const QString &name, bool fallback);
    void setSetting(const QString &name, bool on);
};

} // namespace tarlivo::store
