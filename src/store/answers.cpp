// Typed and chosen answers: the subjects' tolerances and the other cards' texts.
#include "store/answers.h"

#include "store/cards.h"

#include <QRandomGenerator>

#include <algorithm>
#include <map>

namespace tarlivo::store {
namespace {

Verdict verdictOf(qint64 value, Verdict fallback) { return value >= 1 && value <= 3 ? Verdict(value) : fallback; }

} // namespace

Answers::Answers(Store &store) : StorePart(store) {}

std::optional<ToleranceRow> Answers::toleranceRow(qint32 subjectId)
{
    sql::Statement q(m_db, "SELECT Schreibung, Akzente, Satzzeichen, Tippfehler FROM tblGebietToleranz "
                           "WHERE idGebiet = ?1");
    if (!q.bind(1, subjectId).step())
        return std::nullopt;
    const AnswerTolerances d;
    return ToleranceRow{subjectId,
                        {verdictOf(q.int64(0), d.letterCase), verdictOf(q.int64(1), d.accents),
                         verdictOf(q.int64(2), d.punctuation), verdictOf(q.int64(3), d.typo)}};
}

void Answers::writeTolerance(qint32 subjectId, const std::optional<ToleranceRow> &row)
{
    if (!row) {
        sql::Statement(m_db, "DELETE FROM tblGebietToleranz WHERE idGebiet = ?1").bind(1, subjectId).run();
        return;
    }
    sql::Statement(m_db, "INSERT INTO tblGebietToleranz (idGebiet, Schreibung, Akzente, Satzzeichen, Tippfehler) "
                         "VALUES (?1, ?2, ?3, ?4, ?5) ON CONFLICT (idGebiet) DO UPDATE SET "
                         "Schreibung = excluded.Schreibung, Akzente = excluded.Akzente, "
                         "Satzzeichen = excluded.Satzzeichen, Tippfehler = excluded.Tippfehler")
        .bind(1, subjectId)
        .bind(2, qint64(row->tolerances.letterCase))
        .bind(3, qint64(row->tolerances.accents))
        .bind(4, qint64(row->tolerances.punctuation))
        .bind(5, qint64(row->tolerances.typo))
        .run();
}

AnswerTolerances Answers::answerTolerances(qint32 subjectId)
{
    const std::optional<ToleranceRow> row = toleranceRow(subjectId);
    return row ? row->tolerances : AnswerTolerances{};
}

Change Answers::setAnswerTolerances(qint32 subjectId, const AnswerTolerances &tolerances)
{
    Change change;
    StoreAccess::prepareWrite(m_store);
    sql::WriteTransaction tx(m_db);
    Cards(m_store).requireSubject(subjectId);
    const std::optional<ToleranceRow> before = toleranceRow(subjectId);
    // The defaults are kept as no row.
    std::optional<ToleranceRow> after;
    if (tolerances != AnswerTolerances{})
        after = ToleranceRow{subjectId, tolerances};
    writeTolerance(subjectId, after);
    tx.commit();
    if (!(before == after))
        change.tolerances.push_back({before, after});
    return change;
}

std::vector<QString> Answers::otherAnswers(qint32 subjectId, qint32 cardId, CardSide side, int count, quint32 seed)
{
    std::vector<QString> found;
    if (count <= 0)
        return found;
    const bool question = side == CardSide::Question;
    QString own;
    if (const std::optional<CardText> texts = Cards(m_store).cardText(cardId))
        own = (question ? texts->question : texts->answer).trimmed();
    const auto take = [&](const QString &text) {
        const QString t = text.trimmed();
        if (t.isEmpty() || t == own || std::find(found.begin(), found.end(), t) != found.end())
            return;
        found.push_back(t);
    };
    QRandomGenerator random(seed);

    // A small subject is read whole, in random order.
    constexpr int kSmall = 64;
    {
        sql::Statement q(m_db, question ? "SELECT f.Frage FROM tblPosition AS p JOIN tblFrageAntwort AS f "
                                          "ON f.idFrageAntwort = p.idFrageAntwort WHERE p.idGebiet = ?1 "
                                          "AND p.idFrageAntwort <> ?2 LIMIT ?3"
                                        : "SELECT f.Antwort FROM tblPosition AS p JOIN tblFrageAntwort AS f "
                                          "ON f.idFrageAntwort = p.idFrageAntwort WHERE p.idGebiet = ?1 "
                                          "AND p.idFrageAntwort <> ?2 LIMIT ?3");
        q.bind(1, subjectId).bind(2, cardId).bind(3, qint64(kSmall) + 1);
        std::vector<QString> texts;
        while (q.step())
            texts.push_back(q.text(0));
        if (texts.size() <= std::size_t(kSmall)) {
            std::shuffle(texts.begin(), texts.end(), random);
            for (const QString &t : texts) {
                if (int(found.size()) < count)
                    take(t);
            }
            return found;
        }
    }

    // A large one by probes: a compartment weighed by its cards, then the first
    // place at or after a random queue place within it, each found through the
    // queue index.
    std::vector<std::pair<qint32, qint64>> weights;
    qint64 total = 0;
    {
        sql::Statement q(m_db, "SELECT Fach, SUM(Anzahl) FROM tblFaellig WHERE idGebiet = ?1 AND Richtung = 0 "
                               "GROUP BY Fach");
        q.bind(1, subjectId);
        while (q.step()) {
            if (q.int64(1) > 0) {
                weights.emplace_back(qint32(q.int64(0)), q.int64(1));
                total += q.int64(1);
            }
        }
    }
    if (total == 0)
        return found;
    const char *probeSql = question ? "SELECT f.Frage, p.idFrageAntwort FROM tblPosition AS p "
                                      "JOIN tblFrageAntwort AS f ON f.idFrageAntwort = p.idFrageAntwort "
                                      "WHERE p.idGebiet = ?1 AND p.Fach = ?2 AND p.Stelle >= ?3 "
                                      "ORDER BY p.Stelle LIMIT 1"
                                    : "SELECT f.Antwort, p.idFrageAntwort FROM tblPosition AS p "
                                      "JOIN tblFrageAntwort AS f ON f.idFrageAntwort = p.idFrageAntwort "
                                      "WHERE p.idGebiet = ?1 AND p.Fach = ?2 AND p.Stelle >= ?3 "
                                      "ORDER BY p.Stelle LIMIT 1";
    // Each alone, so that SQLite reads one end of the index for it.
    const auto end = [&](const char *sqlText, qint32 compartment) -> std::optional<qint64> {
        sql::Statement q(m_db, sqlText);
        if (!q.bind(1, subjectId).bind(2, compartment).step() || q.isNull(0))
            return std::nullopt;
        return q.int64(0);
    };
    std::map<qint32, std::pair<qint64, qint64>> ranges;
    for (int attempt = 0; attempt < 8 * count && int(found.size()) < count; ++attempt) {
        qint64 pick = qint64(random.bounded(quint64(total)));
        qint32 compartment = weights.back().first;
        for (const auto &[f, n] : weights) {
            if (pick < n) {
                compartment = f;
                break;
            }
            pick -= n;
        }
        auto range = ranges.find(compartment);
        if (range == ranges.end()) {
            const std::optional<qint64> low =
                end("SELECT MIN(Stelle) FROM tblPosition WHERE idGebiet = ?1 AND Fach = ?2", compartment);
            const std::optional<qint64> high =
                end("SELECT MAX(Stelle) FROM tblPosition WHERE idGebiet = ?1 AND Fach = ?2", compartment);
            if (!low || !high)
                continue;
            range = ranges.emplace(compartment, std::pair{*low, *high}).first;
        }
        const auto [low, high] = range->second;
        const qint64 queuePlace = low + qint64(random.bounded(quint64(high - low + 1)));
        sql::Statement probe(m_db, probeSql);
        if (probe.bind(1, subjectId).bind(2, compartment).bind(3, queuePlace).step() && probe.int64(1) != cardId)
            take(probe.text(0));
    }
    return found;
}

void StepRows<ToleranceRow>::check(Step &step, const RowChange<ToleranceRow> &c)
{
    const qint32 id = Step::key(c).subjectId;
    if (!(Answers(step.store()).toleranceRow(id) == step.from(c)))
        step.conflict(QStringLiteral("tolerances of subject %1").arg(id));
}

void StepRows<ToleranceRow>::arrive(Step &step, const RowChange<ToleranceRow> &c)
{
    const ToleranceRow &row = *step.to(c);
    if (!Cards(step.store()).subjectRow(row.subjectId))
        step.conflict(QStringLiteral("subject %1 of tolerances").arg(row.subjectId));
    Answers(step.store()).writeTolerance(row.subjectId, row);
}

void StepRows<ToleranceRow>::leave(Step &step, const RowChange<ToleranceRow> &c)
{
    Answers(step.store()).writeTolerance(step.from(c)->subjectId, std::nullopt);
}

// The store's answers, as its callers know them.
AnswerTolerances Store::answerTolerances(qint32 subjectId) { return Answers(*this).answerTolerances(subjectId); }
Change Store::setAnswerTolerances(qint32 subjectId, const AnswerTolerances &tolerances)
{
    return Answers(*this).setAnswerTolerances(subjectId, tolerances);
}
std::vector<QString> Store::otherAnswers(qint32 subjectId, qint32 cardId, CardSide side, int count, quint32 seed)
{
    return Answers(*this).otherAnswers(subjectId, cardId, side, count, seed);
}

} // namespace tarlivo::store
