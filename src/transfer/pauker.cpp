#include "transfer/pauker.h"

#include "transfer/transfererror.h"
#include "transfer/transfertexts.h"

#include <utility>

using namespace tarlivo::store;

namespace tarlivo::transfer {
namespace {

using foreign::ForeignReader;
using foreign::XmlAttributes;
using foreign::XmlHandler;

// <Lesson> holds an optional <Description> and the <Batch>es in order, each with its
// <Card>s. A card's sides are <FrontSide> and <ReverseSide>, each with its <Text>;
// the front side's LearnedTimestamp (milliseconds since 1970) says when the card
// came into its long-term batch. Lessons of Pauker 1.4 and before (Pauker-Version
// on the root) hold each side's text in <FrontSide> and <BackSide> themselves, and
// the time a card was learned in <Learned_Date>, local time as dd.MM.yyyy HH:mm:ss;
// a card without one is not learned, wherever it stands.
class PaukerReader : public ForeignReader {
public:
    PaukerReader(const QString &path, bool old) : m_path(path), m_old(old) {}

    bool start(int depth, std::string_view name, const XmlAttributes &attributes) override
    {
        if (depth == 1 && name == "Description")
            return want(Text::Description);
        if (depth == 1 && name == "Batch") {
            ++batch;
        } else if (depth == 2 && batch >= 0 && name == "Card") {
            card = ForeignCard();
            card.number = ++number;
            // The not-learned batch and the two short-term ones are due at once.
            card.compartment = batch >= 3 ? batch - 1 : 1;
            inCard = true;
        } else if (depth == 3 && inCard && m_old) {
            if (name == "FrontSide")
                return want(Text::Front);
            if (name == "BackSide")
                return want(Text::Back);
            if (name == "Learned_Date")
                return want(Text::Learned);
        } else if (depth == 3 && inCard) {
            if (name == "FrontSide") {
                side = 0;
                bool ok = false;
                const qint64 stamp = foreign::toNumber(attributes.value("LearnedTimestamp"), &ok);
                if (ok && batch >= 3 && stamp > 0)
                    card.enteredAt = stamp / 1000;
            } else if (name == "ReverseSide" || name == "BackSide") {
                side = 1;
            }
        } else if (depth == 4 && side >= 0 && name == "Text") {
            return want(side == 0 ? Text::Front : Text::Back);
        }
        return false;
    }

    void text(int, std::string_view utf8) override
    {
        const QString text = foreign::textOf(utf8, m_path, m_wanted == Text::Description ? 0 : card.number);
        if (m_wanted == Text::Description) {
            if (!described) {
                subject = foreign::defaultSubject(text.trimmed().section(QLatin1Char('\n'), 0, 0).trimmed(), m_path);
                described = true;
                for (ForeignCard &c : waiting)
                    passOn(std::move(c));
                waiting.clear();
            }
        } else if (m_wanted == Text::Learned) {
            // Java's lenient reading takes one digit where two are written.
            const QString t = text.simplified();
            const qsizetype blank = t.indexOf(u' ');
            learned = clock.seconds(QDate::fromString(t.left(blank), QStringLiteral("d.M.yyyy")),
                                    QTime::fromString(t.mid(blank + 1), QStringLiteral("H:m:s")));
        } else {
            QString &written = m_wanted == Text::Front ? card.question : card.answer;
            if (written.isEmpty())
                written = text;
        }
    }

    void end(int depth) override
    {
        if (depth == 3)
            side = -1;
        if (depth != 2 || !inCard)
            return;
        inCard = false;
        if (m_old) {
            card.compartment = learned && batch >= 3 ? batch - 1 : 1;
            card.enteredAt = card.compartment > 1 ? learned : std::nullopt;
            learned.reset();
        }
        if (foreign::isBlank(card.question)) {
            settled.refused.push_back(RefusedLine{card.number, LineProblem::EmptyQuestion, QString(), true});
        } else if (foreign::isBlank(card.answer)) {
            settled.refused.push_back(RefusedLine{card.number, LineProblem::EmptyAnswer, QString(), true});
        } else if (described) {
            // The store takes it while the rest is read.
            passOn(std::exchange(card, ForeignCard()));
        } else {
            // The description, which names the subject, comes first in a lesson
            // Pauker writes; in another, the cards wait for it.
            waiting.push_back(std::exchange(card, ForeignCard()));
        }
    }

    ForeignCards finish() override
    {
        if (!described)
            subject = foreign::defaultSubject(QString(), m_path);
        for (ForeignCard &c : waiting)
            c.subject = subject;
        ForeignCards rest;
        rest.cards = std::move(waiting);
        return rest;
    }

private:
    enum class Text { Description, Front, Back, Learned };

    bool want(Text what)
    {
        m_wanted = what;
        return true;
    }

    void passOn(ForeignCard &&c)
    {
        c.subject = subject;
        settled.cards.push_back(std::move(c));
    }

    const QString &m_path;
    const bool m_old;
    Text m_wanted = Text::Description;
    std::vector<ForeignCard> waiting; // read before the description
    bool described = false;
    QString subject;
    qint64 number = 0;
    int batch = -1;
    bool inCard = false;
    int side = -1; // within a card of the newer kind: 0 front, 1 reverse, -1 none
    ForeignCard card;
    std::optional<qint64> learned; // of the older kind's card being read
    foreign::LocalTimes clock;
};

} // namespace

std::unique_ptr<foreign::ForeignReader> paukerReader(const foreign::XmlAttributes &root, const QString &path)
{
    return std::make_unique<PaukerReader>(path, root.has("Pauker-Version"));
}

} // namespace tarlivo::transfer
