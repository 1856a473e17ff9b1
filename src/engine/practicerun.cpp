#include "engine/practicerun.h"

#include "store/store.h"

using namespace tarlivo::store;

namespace tarlivo::engine {
namespace {

// Whether the change touched a card of the subject, before or after, or the subject.
bool touchesSubject(const Change &change, qint32 subject)
{
    for (const RowChange<CardRow> &row : change.cards)
        if ((row.before && row.before->subjectId == subject) || (row.after && row.after->subjectId == subject))
            return true;
    for (const RowChange<SubjectRow> &row : change.subjects)
        if ((row.before && row.before->id == subject) || (row.after && row.after->id == subject))
            return true;
    return false;
}

const RowChange<CardRow> *rowOf(const Change &change, qint32 card)
{
    for (const RowChange<CardRow> &row : change.cards)
        if ((row.before && row.before->id == card) || (row.after && row.after->id == card))
            return &row;
    return nullptr;
}

qint32 compartmentOf(const CardRow &row, Direction direction)
{
    return direction == Direction::Reverse && row.reverse ? row.reverse->compartment : row.compartment;
}

} // namespace

PracticeRun::PracticeRun(std::function<Store &()> store) : m_store(std::move(store)) {}

void PracticeRun::fail(Step &step, const StoreError &error)
{
    step.notices.push_back({Notice::Kind::StoreFailed, 0, error});
}

void PracticeRun::clear(Step &step)
{
    m_place.reset();
    step.display = Step::Display::Clear;
}

Step PracticeRun::start(const QString &subject, Mode mode)
{
    Step step;
    m_mode = mode;
    m_subjectName = subject;
    m_subject.reset();
    m_dueOnly = false;
    m_queue.clear();
    m_next = 0;
    DirectionSetting ways = DirectionSetting::Forward;
    try {
        m_subject = db().subjectId(subject);
        if (m_subject)
            ways = db().direction(*m_subject);
    } catch (const StoreError &error) {
        step.list = Step::List::Clear;
        clear(step);
        fail(step, error);
        return step;
    }
    m_reverseToCome = ways == DirectionSetting::Both;
    setDirection(ways == DirectionSetting::Reverse ? Direction::Reverse : Direction::Forward);
    if (mode == Mode::All) {
        step.list = Step::List::Clear;
        try {
            for (const Direction way : {Direction::Forward, Direction::Reverse})
                if (m_subject && Store::practises(ways, way))
                    for (const qint32 card : db().placesInOrder(*m_subject, way))
                        m_queue.push_back({card, way});
        } catch (const StoreError &error) {
            clear(step);
            fail(step, error);
            return step;
        }
        askQueued(step);
        return step;
    }
    if (m_subject)
        turnToReverse();
    std::optional<qint32> compartment;
    if (mode == Mode::Due) {
        try {
            if (m_subject)
                compartment = db().highestDueCompartment(*m_subject, m_direction);
        } catch (const StoreError &) {
            // The fill below reads the file again and tells the user.
        }
        m_dueOnly = compartment.has_value();
        if (!compartment)
            step.notices.push_back({Notice::Kind::AllDuePractised});
    }
    fill(step, compartment.value_or(0), false);
    return step;
}

bool PracticeRun::turnToReverse()
{
    if (!m_reverseToCome || m_direction == Direction::Reverse || !m_subject)
        return false;
    try {
        if (db().highestDueCompartment(*m_subject, Direction::Forward)
            || !db().highestDueCompartment(*m_subject, Direction::Reverse))
            return false;
    } catch (const StoreError &) {
        return false;
    }
    m_reverseToCome = false;
    setDirection(Direction::Reverse);
    return true;
}

void PracticeRun::fill(Step &step, qint32 preferred, bool firstIfGone)
{
    step.list = Step::List::Clear;
    step.compartments.clear();
    if (!m_subject) {
        step.notices.push_back({Notice::Kind::UnknownSubject});
        clear(step);
        return;
    }
    std::vector<qint32> compartments;
    bool exists = true;
    try {
        compartments = db().compartments(*m_subject, m_direction);
        // Looked up by key: a subject deleted meanwhile merely holds no cards.
        if (compartments.empty())
            exists = db().subjectId(m_subjectName) == m_subject;
    } catch (const StoreError &error) {
        fail(step, error);
        return;
    }
    if (compartments.empty()) {
        step.notices.push_back({exists ? Notice::Kind::SubjectWithoutCards : Notice::Kind::UnknownSubject});
        clear(step);
        return;
    }
    step.list = Step::List::Fill;
    step.selected = 0;
    bool found = false;
    for (std::size_t i = 0; i < compartments.size(); ++i)
        if (compartments[i] == preferred) {
            found = true;
            step.selected = int(i);
        }
    step.compartments = std::move(compartments);
    if (preferred == 0 || found || firstIfGone)
        ask(step, step.compartments[std::size_t(step.selected)]);
    else
        step.notices.push_back({Notice::Kind::CompartmentEmpty, preferred});
}

std::optional<Place> PracticeRun::placeOf(qint32 card, Direction direction, qint32 compartment)
{
    const std::optional<CardText> texts = db().cardText(card);
    if (!texts)
        return std::nullopt;
    const bool reverse = direction == Direction::Reverse;
    Place place{card,
                direction,
                compartment,
                reverse ? texts->answer : texts->question,
                reverse ? texts->question : texts->answer,
                {},
                {}};
    loadPictures(place);
    return place;
}

void PracticeRun::loadPictures(Place &place)
{
    const bool reverse = place.direction == Direction::Reverse;
    for (const auto &[picture, side] : {std::pair{&place.askedPicture, reverse ? CardSide::Answer : CardSide::Question},
                                        {&place.answerPicture, reverse ? CardSide::Question : CardSide::Answer}}) {
        picture->clear();
        try {
            for (const MediaFile &file : db().cardMedia(place.card, side))
                if (file.kind == MediaKind::Picture)
                    *picture = db().mediaBytes(file.id);
        } catch (const StoreError &) {
            // The texts are on display; a picture the file cannot give is left out.
        }
    }
}

void PracticeRun::ask(Step &step, qint32 compartment)
{
    // Every check comes before the display changes: on failure the place on display stays.
    try {
        const std::optional<qint32> head = db().headCard(*m_subject, compartment, m_direction);
        if (!head) {
            step.notices.push_back({Notice::Kind::CompartmentEmpty, compartment});
            return;
        }
        std::optional<Place> place = placeOf(*head, m_direction, compartment);
        if (!place) {
            step.notices.push_back({Notice::Kind::CardMissing, *head});
            return;
        }
        m_place = std::move(place);
        step.display = Step::Display::Ask;
    } catch (const StoreError &error) {
        fail(step, error);
    }
}

bool PracticeRun::askQueued(Step &step)
{
    if (!m_subject) {
        clear(step);
        step.notices.push_back({Notice::Kind::UnknownSubject});
        return false;
    }
    try {
        while (m_next < m_queue.size()) {
            const Queued next = m_queue[m_next++];
            // Deleted or moved to another subject since the run began: passed over.
            const std::optional<CardRow> row = db().cardRow(next.card);
            if (!row || row->subjectId != *m_subject || (next.direction == Direction::Reverse && !row->reverse))
                continue;
            if (std::optional<Place> place = placeOf(next.card, next.direction, compartmentOf(*row, next.direction))) {
                setDirection(next.direction);
                m_place = std::move(place);
                step.display = Step::Display::Ask;
                return true;
            }
        }
    } catch (const StoreError &error) {
        fail(step, error);
        return false;
    }
    clear(step);
    step.notices.push_back({Notice::Kind::AllPractised});
    return false;
}

Step PracticeRun::show(std::optional<qint32> compartment)
{
    Step step;
    if (!m_subject)
        step.notices.push_back({Notice::Kind::UnknownSubject});
    else if (!compartment)
        step.notices.push_back({Notice::Kind::NotACompartment});
    else
        ask(step, *compartment);
    return step;
}

Step PracticeRun::judge(Verdict verdict, std::optional<qint32> listed)
{
    Step step;
    if (!m_place) {
        step.notices.push_back({Notice::Kind::NoCardOnDisplay});
        return step;
    }
    const qint32 card = m_place->card;
    try {
        // The verdict and its row in the practice log are one write.
        step.judged = db().judgeCard(card, verdict, m_direction);
    } catch (const StoreError &error) {
        if (error.kind() == StoreErrorKind::NotFound) {
            bool gone = true;
            try {
                gone = !db().cardRow(card);
            } catch (const StoreError &again) {
                fail(step, again);
                return step;
            }
            step.notices.push_back({gone ? Notice::Kind::CardGone : Notice::Kind::CardMissing, card});
            if (gone) {
                Step next = resume(listed);
                next.notices.insert(next.notices.begin(), step.notices.front());
                return next;
            }
        } else if (error.kind() == StoreErrorKind::Limit) {
            step.notices.push_back({error.detail() == QLatin1String(Store::kTopCompartment)
                                        ? Notice::Kind::CompartmentLimit
                                        : Notice::Kind::QueueLimit});
        } else {
            fail(step, error);
        }
        return step;
    }
    if (m_mode == Mode::All) {
        askQueued(step);
        return step;
    }
    const CardRow &judged = *step.judged.cards.front().before;
    const qint32 judgedCompartment = compartmentOf(judged, m_direction);
    const bool wasDue = m_dueOnly;
    if (m_dueOnly && goOnDue(step, judgedCompartment))
        return step;
    // Both ways: the reverse places once the forward ones are done for now.
    if (!m_dueOnly && turnToReverse()) {
        fill(step, 0, false);
        return step;
    }
    fill(step, listed.value_or(judgedCompartment), false);
    // Due practice is over: the list as the designed practice fills it, and nothing
    // on display that could be judged a second time.
    if (wasDue)
        clear(step);
    return step;
}

bool PracticeRun::goOnDue(Step &step, qint32 compartment)
{
    std::optional<qint32> next;
    try {
        Store &store = db();
        const qint32 subject = *m_subject;
        const Direction way = m_direction;
        const auto headDue = [&store, subject, way](qint32 f) {
            const std::optional<qint32> head = store.headCard(subject, f, way);
            return head && store.isDue(*head, way);
        };
        // The due places of a compartment are a prefix of its queue: its head tells.
        if (headDue(compartment)) {
            next = compartment;
        } else {
            const std::vector<qint32> compartments = store.compartments(subject, way);
            for (auto it = compartments.rbegin(); it != compartments.rend() && !next; ++it)
                if (*it < compartment && headDue(*it))
                    next = *it;
            // A place above may have fallen due meanwhile (a day change, an interval of 0).
            if (!next)
                next = store.highestDueCompartment(subject, way);
            // Then the reverse places, when the subject is practised both ways.
            if (!next && turnToReverse())
                next = store.highestDueCompartment(subject, Direction::Reverse);
        }
    } catch (const StoreError &error) {
        m_dueOnly = false;
        fail(step, error);
        return false;
    }
    if (next) {
        fill(step, *next, false);
        return true;
    }
    m_dueOnly = false;
    step.notices.push_back({Notice::Kind::AllDuePractised});
    return false;
}

Step PracticeRun::resume(std::optional<qint32> listed)
{
    Step step;
    goOnCleared(step, listed);
    return step;
}

void PracticeRun::goOnCleared(Step &step, std::optional<qint32> listed)
{
    m_place.reset();
    step.display = Step::Display::Clear;
    if (m_mode == Mode::All)
        askQueued(step);
    else
        fill(step, listed.value_or(0), true);
}

Step PracticeRun::follow(const Change &change, bool undone, bool onScreen, std::optional<qint32> listed)
{
    Step step;
    if (!m_subject)
        return step;
    bool gone = false;
    for (const RowChange<SubjectRow> &row : change.subjects)
        if (row.before && row.before->id == *m_subject) {
            gone = !row.after;
            if (row.after)
                m_subjectName = row.after->name;
        }
    if (change.isEmpty()) {
        try {
            gone = db().subjectId(m_subjectName) != m_subject;
        } catch (const StoreError &) {
            return step;
        }
    }
    // The subject was deleted, or practice waits off screen: nothing of it stays on
    // display, and the next start fills the window afresh.
    const bool shownTouched = m_place && rowOf(change, m_place->card);
    if (gone || (!onScreen && (shownTouched || change.isEmpty() || touchesSubject(change, *m_subject)))) {
        clear(step);
        step.list = Step::List::Clear;
        return step;
    }
    // The subject's direction changed, or its change was undone: a reverse place on
    // display that is gone now is never judged; practice goes on the way the subject
    // is practised now.
    bool turned = false;
    for (const RowChange<DirectionRow> &row : change.directions)
        turned = turned || (row.before ? row.before->subjectId : row.after->subjectId) == *m_subject;
    for (const ReverseFill &fill : change.fills)
        turned = turned || fill.subjectId == *m_subject;
    if (turned && m_place && m_place->direction == Direction::Reverse) {
        DirectionSetting ways = DirectionSetting::Forward;
        bool placeGone = true;
        try {
            const std::optional<CardRow> row = db().cardRow(m_place->card);
            placeGone = !row || !row->reverse;
            ways = db().direction(*m_subject);
        } catch (const StoreError &) {
            // Taken as gone: the next verdict or choice tells what is wrong.
        }
        if (placeGone) {
            m_reverseToCome = false;
            setDirection(ways == DirectionSetting::Reverse ? Direction::Reverse : Direction::Forward);
            goOnCleared(step, listed);
            return step;
        }
    }
    // An undone verdict: the place is back where it was judged, asked again as if it
    // had never been judged; due practice goes on while it is due.
    if (undone) {
        for (const RowChange<LogRow> &log : change.log) {
            const RowChange<CardRow> *row = log.before ? rowOf(change, log.before->cardId) : nullptr;
            if (log.after || !row || !row->after || row->after->subjectId != *m_subject)
                continue;
            const bool reverse = log.before->direction == Direction::Reverse && row->after->reverse;
            const Direction way = reverse ? Direction::Reverse : Direction::Forward;
            setDirection(way);
            if (m_mode == Mode::All) {
                for (std::size_t i = 0; i < m_queue.size(); ++i)
                    if (m_queue[i].card == row->after->id && m_queue[i].direction == way && i < m_next)
                        m_next = i;
                askQueued(step);
                return step;
            }
            try {
                m_dueOnly = m_mode == Mode::Due && db().isDue(row->after->id, way);
            } catch (const StoreError &) {
                m_dueOnly = false;
            }
            fill(step, compartmentOf(*row->after, way), false);
            return step;
        }
    }
    if (const RowChange<CardRow> *row = shownTouched ? rowOf(change, m_place->card) : nullptr) {
        const std::optional<CardRow> &now = row->after;
        const bool stays = now && row->before && now->subjectId == *m_subject
                           && now->compartment == row->before->compartment && now->queuePlace == row->before->queuePlace
                           && now->reverse == row->before->reverse;
        if (stays) {
            // Only its texts changed: shown as they now read, the answer as it was.
            edited(now->question, now->answer);
            step.display = Step::Display::Texts;
            return step;
        }
        // Deleted, moved away or put elsewhere: practice goes on with the next place.
        if (m_mode == Mode::All)
            askQueued(step);
        else
            fill(step, listed.value_or(0), false);
        return step;
    }
    for (const RowChange<MediaLinkRow> &link : change.mediaLinks) {
        const MediaLinkRow &row = link.before ? *link.before : *link.after;
        if (m_place && row.cardId == m_place->card) {
            loadPictures(*m_place);
            step.display = Step::Display::Texts;
            return step;
        }
    }
    if (m_mode != Mode::All && (change.isEmpty() || touchesSubject(change, *m_subject))) {
        try {
            step.compartments = db().compartments(*m_subject, m_direction);
            step.list = Step::List::Refresh;
        } catch (const StoreError &) {
            // The list stays; the next verdict or choice tells what is wrong.
        }
    }
    return step;
}

void PracticeRun::edited(const QString &question, const QString &answer)
{
    if (!m_place)
        return;
    const bool reverse = m_place->direction == Direction::Reverse;
    m_place->asked = reverse ? answer : question;
    m_place->answer = reverse ? question : answer;
    loadPictures(*m_place);
}

qint64 PracticeRun::remaining() const
{
    if (m_mode != Mode::All)
        return 0;
    return qint64(m_queue.size() - m_next) + (m_place ? 1 : 0);
}

std::optional<Place> PracticeRun::peek()
{
    if (m_mode != Mode::All || !m_subject)
        return std::nullopt;
    try {
        for (std::size_t i = m_next; i < m_queue.size(); ++i) {
            const std::optional<CardRow> row = db().cardRow(m_queue[i].card);
            if (!row || row->subjectId != *m_subject || (m_queue[i].direction == Direction::Reverse && !row->reverse))
                continue;
            if (std::optional<Place> place =
                    placeOf(m_queue[i].card, m_queue[i].direction, compartmentOf(*row, m_queue[i].direction)))
                return place;
        }
    } catch (const StoreError &) {
        // Nothing to peek at; the verdict that moves on tells what is wrong.
    }
    return std::nullopt;
}

} // namespace tarlivo::engine
