#include "legacy/repair.h"

#include "legacy/importerror.h"
#include "store/collation.h"
#include "store/names.h"
#include "store/numbertest.h"
#include "store/store.h"

#include <QFileInfo>

#include <algorithm>
#include <limits>
#include <unordered_map>
#include <unordered_set>

using namespace tarlivo::store;

namespace tarlivo::legacy {
namespace {

using Error = LegacyImportError;
using legacy::tableError;
using legacy::writeFailed;

// Names that compare equal the program's way, looked up quickly.
class NameSet {
public:
    bool contains(const QString &name) const
    {
        const auto at = std::lower_bound(m_names.begin(), m_names.end(), name, less);
        return at != m_names.end() && compareNames(*at, name) == 0;
    }
    void insert(const QString &name)
    {
        m_names.insert(std::lower_bound(m_names.begin(), m_names.end(), name, less), name);
    }
    // base itself when free, else the first free of "base (2)", "base (3)" ...; now taken.
    QString claim(const QString &base)
    {
        const QString name = firstFreeName(base, [this](const QString &n) { return !contains(n); });
        insert(name);
        return name;
    }

private:
    static bool less(const QString &a, const QString &b) { return compareNames(a, b) < 0; }
    std::vector<QString> m_names;
};

} // namespace

LegacyImportReport writeLegacyStore(const LegacyData &data, const QString &storePath)
{
    LegacyImportReport report;

    // Keys must be unique: cards and positions refer to them.
    std::unordered_set<qint32> subjectIds;
    for (const LegacySubject &s : data.subjects)
        if (!subjectIds.insert(s.id).second)
            throw tableError(Error::DuplicateKey, storePath, QStringLiteral("tblGebiet"), {}, QString::number(s.id));
    std::unordered_map<qint32, std::size_t> cardIndex;
    for (std::size_t i = 0; i < data.cards.size(); ++i)
        if (!cardIndex.emplace(data.cards[i].id, i).second)
            throw tableError(Error::DuplicateKey, storePath, QStringLiteral("tblFrageAntwort"), {},
                             QString::number(data.cards[i].id));

    // Names: the older of two equal names keeps it; a NULL name gets one.
    std::vector<std::size_t> byKey(data.subjects.size());
    for (std::size_t i = 0; i < byKey.size(); ++i)
        byKey[i] = i;
    std::sort(byKey.begin(), byKey.end(),
              [&](std::size_t a, std::size_t b) { return data.subjects[a].id < data.subjects[b].id; });
    std::vector<QString> names(data.subjects.size());
    NameSet taken;
    std::vector<std::size_t> doubled;
    for (std::size_t i : byKey) {
        const QString &name = data.subjects[i].name;
        if (name.isNull())
            continue;
        if (taken.contains(name)) {
            doubled.push_back(i);
        } else {
            taken.insert(name);
            names[i] = name;
        }
    }
    for (std::size_t i : doubled) {
        names[i] = taken.claim(data.subjects[i].name);
        report.renamedSubjects.append({data.subjects[i].name, names[i]});
    }
    for (std::size_t i : byKey) {
        if (data.subjects[i].name.isNull()) {
            names[i] = taken.claim(QStringLiteral("Ohne Namen"));
            report.unnamedSubjects << names[i];
        }
    }

    // Cards whose subject is gone go to a subject made for them.
    for (const LegacyCard &card : data.cards)
        if (!card.subject || !subjectIds.count(*card.subject))
            ++report.cardsWithoutSubject;
    if (report.cardsWithoutSubject)
        report.orphanSubject = taken.claim(QStringLiteral("Ohne Gebiet"));

    // Places: one per card, as in the file wherever it has one.
    struct Place {
        qint32 compartment;
        std::optional<qint32> queuePlace;
    };
    std::vector<std::optional<Place>> places(data.cards.size());
    qint64 nextQueuePlace = 1;
    for (const LegacyPosition &position : data.positions) {
        const auto found = position.card ? cardIndex.find(*position.card) : cardIndex.end();
        if (found == cardIndex.end()) {
            ++report.positionsWithoutCard;
            continue;
        }
        std::optional<Place> &place = places[found->second];
        if (place) {
            ++report.duplicatePositions;
            continue;
        }
        qint32 compartment = position.compartment.value_or(0);
        if (compartment < 1) {
            compartment = 1;
            ++report.compartmentsRaised;
        }
        place = Place{compartment, position.queuePlace};
        if (position.queuePlace)
            nextQueuePlace = std::max(nextQueuePlace, qint64(*position.queuePlace) + 1);
    }
    for (std::optional<Place> &place : places) {
        if (place && place->queuePlace)
            continue;
        if (nextQueuePlace > kInt32Max)
            throw Error(Error::WriteFailed, storePath, QStringLiteral("queue place beyond 32 bits"));
        if (!place) {
            place = Place{1, qint32(nextQueuePlace++)};
            ++report.cardsWithoutPosition;
        } else {
            place->queuePlace = qint32(nextQueuePlace++);
            ++report.cardsWithoutPlace;
        }
    }

    if (QFileInfo::exists(storePath))
        throw Error(Error::WriteFailed, storePath, QStringLiteral("the new store's file exists already"));
    // The subject made for cards without one gets the key the file's next one would.
    qint64 orphanId = 0;
    std::vector<SubjectRow> subjects;
    subjects.reserve(data.subjects.size() + 1);
    for (std::size_t i = 0; i < data.subjects.size(); ++i) {
        subjects.push_back({data.subjects[i].id, names[i]});
        orphanId = std::max<qint64>(orphanId, data.subjects[i].id);
    }
    if (!report.orphanSubject.isEmpty()) {
        if (++orphanId > kInt32Max)
            throw Error(Error::WriteFailed, storePath, QStringLiteral("subject key beyond 32 bits"));
        subjects.push_back({qint32(orphanId), report.orphanSubject});
    }
    std::vector<CardRow> cards;
    cards.reserve(data.cards.size());
    for (std::size_t i = 0; i < data.cards.size(); ++i) {
        const LegacyCard &card = data.cards[i];
        const qint64 subject = card.subject && subjectIds.count(*card.subject) ? *card.subject : orphanId;
        cards.push_back(
            {card.id, qint32(subject), card.question, card.answer, places[i]->compartment, *places[i]->queuePlace});
    }
    try {
        // The older program kept no times: every card is due at once.
        Store::createWithRows(storePath, subjects, cards, 0);
    } catch (const StoreError &error) {
        throw writeFailed(storePath, error);
    }
    report.subjects = int(data.subjects.size()) + (report.orphanSubject.isEmpty() ? 0 : 1);
    report.cards = int(data.cards.size());
    return report;
}

} // namespace tarlivo::legacy
