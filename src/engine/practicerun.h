#pragma once

#include "store/change.h"
#include "store/storeerror.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

namespace tarlivo::store {
class Store;
}

namespace tarlivo::engine {

// What a practice run asks.
enum class Mode {
    // Compartment by compartment as the user chooses them; both ways the forward
    // places first, the reverse ones once no forward place is due.
    Compartments,
    // The due places: the highest compartment holding one first, each compartment in
    // queue order, forward then reverse; when none is left, on as Compartments.
    Due,
    // Every place of the subject once, in the order of Due (highest compartment first,
    // queue order, forward then reverse), due or not.
    All,
};

// One place on display: a card asked in one direction.
struct Place {
    qint32 card = 0;
    store::Direction direction = store::Direction::Forward;
    qint32 compartment = 0; // the place's compartment when it came on display
    QString asked;          // Frage forward, Antwort reverse
    QString answer;
    // Each side's picture as asked and answered; empty: none, or unreadable.
    QByteArray askedPicture;
    QByteArray answerPicture;
};

// Something the window tells the user, in the order given.
struct Notice {
    enum class Kind {
        AllDuePractised,     // "Alle fälligen Karten sind geübt."
        CompartmentEmpty,    // number: the compartment
        SubjectWithoutCards, // of subjectName()
        UnknownSubject,      // of subjectName()
        CardMissing,         // number: the card, whose rows are incomplete
        CardGone,            // the card was deleted meanwhile
        NoCardOnDisplay,
        NotACompartment, // the list's text names no compartment
        AllPractised,    // All: every place was asked
        CompartmentLimit,
        QueueLimit,
        StoreFailed, // error holds it
    };
    Kind kind;
    qint64 number = 0;
    std::optional<store::StoreError> error = {};
};

// What the window does next. Applied in order: the list, the display, the notices.
struct Step {
    enum class List {
        Keep,    // unchanged
        Fill,    // the entries anew, entry `selected` chosen
        Refresh, // the entries anew, the user's choice or typed text kept
        Clear,   // no entries, nothing typed
    };
    enum class Display {
        Keep,  // unchanged
        Ask,   // place() anew, its answer hidden
        Texts, // place()'s texts and pictures changed; the answer stays as it was
        Clear, // nothing on display: no verdict or edit reaches a card
    };
    List list = List::Keep;
    std::vector<qint32> compartments;
    int selected = 0;
    Display display = Display::Keep;
    std::vector<Notice> notices;
    // The rows a verdict wrote, for the window to record as one undo step.
    store::Change judged;
};

// A practice run of one subject: which places are asked and in what order, the
// place on display, and the verdicts on it. Knows no widgets; every store failure
// comes back as a notice.
class PracticeRun {
public:
    // The store is asked for each time: the session may open another file.
    explicit PracticeRun(std::function<store::Store &()> store);

    // Practice of the subject (named as typed or picked) begins.
    Step start(const QString &subject, Mode mode);
    // A verdict on the place on display; `listed` is the compartment the list names
    // (empty: none), where Compartments practice goes on.
    Step judge(store::Verdict verdict, std::optional<qint32> listed);
    // The head place of the compartment chosen in the list ("Übernehmen"); empty: the
    // list's text names none.
    Step show(std::optional<qint32> compartment);
    // The place on display vanished (an edit found it deleted): on where the list
    // points, else at its start.
    Step resume(std::optional<qint32> listed);
    // Another window, another running copy or an undo (undone) changed the file.
    // Off screen, a change touching the run leaves nothing on display.
    Step follow(const store::Change &change, bool undone, bool onScreen, std::optional<qint32> listed);
    // The edit window saved the texts of the place on display.
    void edited(const QString &question, const QString &answer);
    // Nothing on display any more (the user left for another subject).
    void forget() { m_place.reset(); }

    const std::optional<Place> &place() const { return m_place; }
    const QString &subjectName() const { return m_subjectName; }
    std::optional<qint32> subjectId() const { return m_subject; }
    Mode mode() const { return m_mode; }
    store::Direction direction() const { return m_direction; }
    // Whether the run still keeps to the due places.
    bool dueOnly() const { return m_dueOnly; }
    // All: the places left, the one on display included; and the one after it.
    qint64 remaining() const;
    std::optional<Place> peek();

private:
    struct Queued {
        qint32 card;
        store::Direction direction;
    };
    store::Store &db() { return m_store(); }
    void fill(Step &step, qint32 preferred, bool firstIfGone);
    void ask(Step &step, qint32 compartment);
    bool askQueued(Step &step);
    // Nothing stays on display: the next place where the list points, or at its start.
    void goOnCleared(Step &step, std::optional<qint32> listed);
    bool goOnDue(Step &step, qint32 compartment);
    bool turnToReverse();
    std::optional<Place> placeOf(qint32 card, store::Direction direction, qint32 compartment);
    void loadPictures(Place &place);
    void setDirection(store::Direction direction) { m_direction = direction; }
    void clear(Step &step);
    static void fail(Step &step, const store::StoreError &error);

    std::function<store::Store &()> m_store;
    QString m_subjectName;
    std::optional<qint32> m_subject;
    Mode m_mode = Mode::Compartments;
    store::Direction m_direction = store::Direction::Forward;
    bool m_dueOnly = false;
    bool m_reverseToCome = false;
    std::optional<Place> m_place;
    // All: the places in asking order, and the next one's index.
    std::vector<Queued> m_queue;
    std::size_t m_next = 0;
};

} // namespace tarlivo::engine
