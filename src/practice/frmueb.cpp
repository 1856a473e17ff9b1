#include "practice/frmueb.h"

#include "practice/frmedit.h"
#include "practice/sidesound.h"
#include "store/numbertest.h"
#include "ui/controls.h"
#include "ui/messages.h"

#include <QRegularExpression>
#include <QShortcut>

#include <limits>

namespace tarlivo::ui {

const FormDesign &FrmUeb::layout()
{
    // clang-format off: one row per control, as the design table reads
    static const FormDesign design{
        "frmUeb",
        "Übung",
        10110,
        6390,
        Placement::Centred,
        0,
        {
            {"cmdFrage", Kind::CommandButton, "<<<<<", 4560, 2280, 915, 615, 12, true},
            {"cmdZumStart", Kind::CommandButton, "Zum &Start", 7080, 5520, 2775, 375, 11, true},
            {"cmdEdit", Kind::CommandButton, "&Edit", 7080, 4560, 2775, 375, 10, true},
            {"cmdFachOk", Kind::CommandButton, "&Übernehmen", 240, 5520, 2535, 375, 9, true},
            {"cmbFach", Kind::ComboBox, "", 240, 5160, 2535, 315, 7, true, NoFlags, "Fach-Auswahl"},
            {"cmdNeuGebiet", Kind::CommandButton, "&Gebietsauswahl", 7080, 5040, 2775, 375, 6, true},
            {"cmdFalsch", Kind::CommandButton, "Falsch", 5520, 4440, 1000, 495, 5, true},
            {"cmdFastRichtig", Kind::CommandButton, "Fast Richtig", 3600, 4440, 1000, 495, 4, true},
            {"cmdRichtig", Kind::CommandButton, "Richtig", 4560, 3720, 1000, 495, 3, true},
            {"cmdAntwort", Kind::CommandButton, ">>>>>", 4560, 1080, 915, 615, 2, true},
            {"Label1", Kind::Label, "Fach-Auswahl", 240, 4920, 2535, 255, 8, true, CentredText},
            {"lblAntwort", Kind::Label, "", 6000, 480, 3735, 3015, 1, true, WordWrap},
            {"lblFrage", Kind::Label, "", 360, 480, 3735, 3015, 0, true, WordWrap},
        }};
    // clang-format on
    return design;
}

namespace {

// Whether the change touched a card of the subject, before or after.
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

} // namespace

FrmUeb::FrmUeb(Session &session, Navigator &navigator)
    : Form(layout(), kId, session, navigator), cmdFrage(control<CommandButton>("cmdFrage")),
      cmdZumStart(control<CommandButton>("cmdZumStart")), cmdEdit(control<CommandButton>("cmdEdit")),
      cmdFachOk(control<CommandButton>("cmdFachOk")), cmbFach(control<ComboBox>("cmbFach")),
      cmdNeuGebiet(control<CommandButton>("cmdNeuGebiet")), cmdFalsch(control<CommandButton>("cmdFalsch")),
      cmdFastRichtig(control<CommandButton>("cmdFastRichtig")), cmdRichtig(control<CommandButton>("cmdRichtig")),
      cmdAntwort(control<CommandButton>("cmdAntwort")), lblAntwort(control<Label>("lblAntwort")),
      lblFrage(control<Label>("lblFrage"))
{
    connect(cmdFachOk, &QPushButton::clicked, this, &FrmUeb::cmdFachOk_Click);
    connect(cmdNeuGebiet, &QPushButton::clicked, this, &FrmUeb::cmdNeuGebiet_Click);
    connect(cmdZumStart, &QPushButton::clicked, this, &FrmUeb::cmdZumStart_Click);
    connect(cmdAntwort, &QPushButton::clicked, this, &FrmUeb::cmdAntwort_Click);
    connect(cmdFrage, &QPushButton::clicked, this, &FrmUeb::cmdFrage_Click);
    connect(cmdRichtig, &QPushButton::clicked, this, &FrmUeb::cmdRichtig_Click);
    connect(cmdFastRichtig, &QPushButton::clicked, this, &FrmUeb::cmdFastRichtig_Click);
    connect(cmdFalsch, &QPushButton::clicked, this, &FrmUeb::cmdFalsch_Click);
    connect(cmdEdit, &QPushButton::clicked, this, &FrmUeb::cmdEdit_Click);
    connect(&session, &Session::changed, this, &FrmUeb::cardsChanged);
    setUpKeys();
}

void FrmUeb::setUpKeys()
{
    // Window shortcuts: the compartment list's text field takes typed digits and
    // blanks first, so they never judge a card while the user types a number.
    const auto key = [this](const QKeySequence &sequence, auto handler) {
        auto *shortcut = new QShortcut(sequence, this);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this, handler);
        return shortcut;
    };
    key(Qt::Key_Space, [this] { lblAntwort->isHidden() ? cmdAntwort_Click() : cmdFrage_Click(); });
    for (const Qt::KeyboardModifier pad : {Qt::NoModifier, Qt::KeypadModifier}) {
        key(QKeySequence(pad | Qt::Key_1), [this] { cmdFalsch->click(); });
        key(QKeySequence(pad | Qt::Key_2), [this] { cmdFastRichtig->click(); });
        key(QKeySequence(pad | Qt::Key_3), [this] { cmdRichtig->click(); });
    }
    cmdAntwort->setToolTip(QStringLiteral("Antwort zeigen (Leertaste)"));
    cmdFrage->setToolTip(QStringLiteral("Antwort verbergen (Leertaste)"));
    cmdFalsch->setToolTip(QStringLiteral("Falsch (Taste 1)"));
    cmdFastRichtig->setToolTip(QStringLiteral("Fast Richtig (Taste 2)"));
    cmdRichtig->setToolTip(QStringLiteral("Richtig (Taste 3)"));

    // Sound and reading aloud: the same window shortcuts, so that typing a "t" or "v"
    // into the compartment list's text field neither plays nor reads.
    key(Qt::Key_T, [this] { playSideSound(); });
    key(Qt::Key_V, [this] { readSideAloud(); });
    // "Vorlesen" in the menu bar reads what practice shows, while it is on screen.
    connect(&session().playback(), &Playback::readingRequested, this, [this] {
        if (isVisible())
            readSideAloud();
    });
}

ShownSide FrmUeb::shownSide()
{
    ShownSide side;
    if (!m_card)
        return side;
    const bool answerShown = !lblAntwort->isHidden();
    side.text = answerShown ? lblAntwort->text() : lblFrage->text();
    // The card's side on display: reverse practice asks with the answer.
    const bool answer = answerShown != (m_direction == Direction::Reverse);
    try {
        Store &db = session().db();
        if (const std::optional<qint32> subject = getIDgebiet(db, m_subject)) {
            const SubjectLanguages languages = db.subjectLanguages(*subject);
            side.language = answer ? languages.antwort : languages.frage;
        }
        const SoundSource &source = session().setup().sideSound;
        side.sound = source ? source(db, *m_card, answer) : sideSound(db, *m_card, answer);
    } catch (const StoreError &) {
        // Nothing to play or read; the next verdict or edit tells what is wrong.
    }
    return side;
}

void FrmUeb::sideShown() { session().playback().shown(shownSide(), this); }

void FrmUeb::playSideSound()
{
    if (m_card)
        session().playback().playSound(shownSide(), this);
}

void FrmUeb::readSideAloud()
{
    if (m_card)
        session().playback().readAloud(shownSide(), this);
}

void FrmUeb::hideEvent(QHideEvent *event)
{
    session().playback().stop();
    Form::hideEvent(event);
}

void FrmUeb::cardsChanged(const Change &change, const QObject *origin)
{
    // The edit window hands its texts back itself (showEditedCard).
    if (origin == this || qobject_cast<const FrmEdit *>(origin) || m_subject.isEmpty() || cmbFach->count() == 0)
        return;
    std::optional<qint32> subject;
    try {
        subject = getIDgebiet(session().db(), m_subject);
    } catch (const StoreError &) {
        return;
    }
    // The subject was deleted, or practice waits hidden: nothing of it stays on
    // display, and no message comes from a window the user is not working in. The
    // next start of practice fills the window afresh.
    const bool shownTouched = m_card && rowOf(change, *m_card);
    if (!subject || (!isVisible() && (shownTouched || change.isEmpty() || touchesSubject(change, *subject)))) {
        forgetCard();
        emptyList();
        return;
    }
    // An undone verdict: the card is back where it was judged, shown again as if
    // it had never been judged.
    if (!origin) {
        for (const RowChange<LogRow> &log : change.log) {
            const RowChange<CardRow> *row = log.before ? rowOf(change, log.before->cardId) : nullptr;
            if (!log.after && row && row->after && subject && row->after->subjectId == *subject) {
                const bool reverse = log.before->direction == Direction::Reverse && row->after->reverse;
                setDirection(reverse ? Direction::Reverse : Direction::Forward);
                FillFach(reverse ? row->after->reverse->fach : row->after->fach);
                return;
            }
        }
    }
    if (const RowChange<CardRow> *row = m_card ? rowOf(change, *m_card) : nullptr) {
        const std::optional<CardRow> &now = row->after;
        const bool stays = now && row->before && subject && now->subjectId == *subject && now->fach == row->before->fach
                           && now->stelle == row->before->stelle && now->reverse == row->before->reverse;
        if (stays) {
            // Only its texts changed: shown as they now read, the answer as it was.
            showTexts(now->frage, now->antwort);
            showPictures(m_card);
            return;
        }
        // Deleted, moved away or put elsewhere: practice goes on with the next card.
        FillFach(namedFach().value_or(0));
        return;
    }
    for (const RowChange<MediaLinkRow> &link : change.mediaLinks) {
        const MediaLinkRow &row = link.before ? *link.before : *link.after;
        if (m_card && row.cardId == *m_card) {
            showPictures(m_card);
            return;
        }
    }
    if (change.isEmpty() || (subject && touchesSubject(change, *subject)))
        refreshList();
}

void FrmUeb::refreshList()
{
    // The entries anew; the card on display and the chosen compartment stay.
    std::vector<qint32> faecher;
    try {
        const std::optional<qint32> key = getIDgebiet(session().db(), m_subject);
        if (!key)
            return;
        faecher = session().db().compartments(*key, m_direction);
    } catch (const StoreError &) {
        return;
    }
    const QString chosen = cmbFach->text();
    cmbFach->clear();
    for (qint32 fach : faecher)
        cmbFach->addItem(QString::number(fach));
    const int index = cmbFach->findText(chosen);
    if (index >= 0)
        cmbFach->setCurrentIndex(index);
    else
        cmbFach->setEditText(chosen);
}

DirectionSetting FrmUeb::setting()
{
    try {
        if (const std::optional<qint32> key = getIDgebiet(session().db(), m_subject))
            return session().db().direction(*key);
    } catch (const StoreError &) {
        // Read again by the practice that follows, which tells the user.
    }
    return DirectionSetting::Forward;
}

void FrmUeb::setDirection(Direction direction)
{
    m_direction = direction;
    setWindowTitle(direction == Direction::Reverse ? text::reverseCaption(m_subject) : m_subject);
}

bool FrmUeb::turnToReverse(qint32 subject)
{
    if (!m_reverseToCome || m_direction == Direction::Reverse)
        return false;
    try {
        Store &db = session().db();
        if (db.highestDueCompartment(subject, Direction::Forward)
            || !db.highestDueCompartment(subject, Direction::Reverse))
            return false;
    } catch (const StoreError &) {
        return false;
    }
    m_reverseToCome = false;
    setDirection(Direction::Reverse);
    return true;
}

void FrmUeb::showTexts(const QString &frage, const QString &antwort)
{
    const bool reverse = m_direction == Direction::Reverse;
    lblFrage->setText(reverse ? antwort : frage);
    lblAntwort->setText(reverse ? frage : antwort);
}

void FrmUeb::startPractice(const QString &subject)
{
    m_dueOnly = false;
    m_subject = subject;
    const DirectionSetting ways = setting();
    m_reverseToCome = ways == DirectionSetting::Both;
    setDirection(ways == DirectionSetting::Reverse ? Direction::Reverse : Direction::Forward);
    showForm();
    std::optional<qint32> key;
    try {
        key = getIDgebiet(session().db(), subject);
    } catch (const StoreError &) {
        // FillFach below reads the file again and tells the user.
    }
    if (key)
        turnToReverse(*key);
    FillFach(0);
}

void FrmUeb::startDuePractice(const QString &subject)
{
    m_subject = subject;
    const DirectionSetting ways = setting();
    m_reverseToCome = ways == DirectionSetting::Both;
    setDirection(ways == DirectionSetting::Reverse ? Direction::Reverse : Direction::Forward);
    showForm();
    std::optional<qint32> fach;
    try {
        if (const std::optional<qint32> key = getIDgebiet(session().db(), subject)) {
            turnToReverse(*key);
            fach = session().db().highestDueCompartment(*key, m_direction);
        }
    } catch (const StoreError &) {
        // FillFach below reads the file again and tells the user.
    }
    m_dueOnly = fach.has_value();
    if (!fach)
        session().message(this, text::allDuePractised());
    FillFach(fach.value_or(0));
}

bool FrmUeb::goOnDue(qint32 subject, qint32 fach)
{
    std::optional<qint32> next;
    try {
        Store &db = session().db();
        const Direction way = m_direction;
        const auto headDue = [&db, subject, way](qint32 f) {
            const std::optional<qint32> head = db.headCard(subject, f, way);
            return head && db.isDue(*head, way);
        };
        // The due cards of a compartment are a prefix of its queue: its head tells.
        if (headDue(fach)) {
            next = fach;
        } else {
            const std::vector<qint32> faecher = db.compartments(subject, way);
            for (auto it = faecher.rbegin(); it != faecher.rend() && !next; ++it)
                if (*it < fach && headDue(*it))
                    next = *it;
            // A card above may have fallen due meanwhile (a day change, an interval of 0).
            if (!next)
                next = db.highestDueCompartment(subject, way);
            // Then the reverse places, when the subject is practised both ways.
            if (!next && turnToReverse(subject))
                next = db.highestDueCompartment(subject, Direction::Reverse);
        }
    } catch (const StoreError &error) {
        m_dueOnly = false;
        session().report(this, error);
        return false;
    }
    if (next) {
        FillFach(*next);
        return true;
    }
    m_dueOnly = false;
    session().message(this, text::allDuePractised());
    return false;
}

std::optional<qint32> FrmUeb::subjectKey()
{
    const std::optional<qint32> key = getIDgebiet(session().db(), m_subject);
    if (!key)
        session().message(this, text::unknownSubject(m_subject));
    return key;
}

std::optional<qint32> FrmUeb::namedFach() const { return parseCompartment(cmbFach->text()); }

std::optional<qint32> FrmUeb::listedFach()
{
    const std::optional<qint32> fach = namedFach();
    if (!fach)
        session().message(this, text::notACompartment(cmbFach->text()));
    return fach;
}

void FrmUeb::FillFach(qint32 preferred) { fillList(preferred, false); }

void FrmUeb::fillList(qint32 preferred, bool firstIfGone)
{
    emptyList();
    std::vector<qint32> faecher;
    try {
        const std::optional<qint32> key = subjectKey();
        if (!key) {
            forgetCard();
            return;
        }
        faecher = session().db().compartments(*key, m_direction);
    } catch (const StoreError &error) {
        session().report(this, error);
        return;
    }
    if (faecher.empty()) {
        session().message(this, text::subjectWithoutCards(m_subject));
        forgetCard();
        return;
    }
    int matchIndex = 0;
    bool matchFound = false;
    for (std::size_t i = 0; i < faecher.size(); ++i) {
        if (faecher[i] == preferred) {
            matchFound = true;
            matchIndex = int(i);
        }
        cmbFach->addItem(QString::number(faecher[i]));
    }
    cmbFach->setCurrentIndex(matchIndex);
    if (preferred == 0 || matchFound || firstIfGone)
        FrageDisplay();
    else
        session().message(this, text::compartmentEmpty(preferred));
}

void FrmUeb::FrageDisplay()
{
    // Every check comes before the display changes: on failure the card on
    // display and its texts stay as they were.
    qint32 card = 0;
    std::optional<CardText> texts;
    try {
        const std::optional<qint32> key = subjectKey();
        if (!key)
            return;
        const std::optional<qint32> fach = listedFach();
        if (!fach)
            return;
        const std::optional<qint32> head = session().db().headCard(*key, *fach, m_direction);
        if (!head) {
            session().message(this, text::compartmentEmpty(*fach));
            return;
        }
        card = *head;
        texts = session().db().cardText(card);
        if (!texts) {
            session().message(this, text::cardMissing(card));
            return;
        }
    } catch (const StoreError &error) {
        session().report(this, error);
        return;
    }
    m_card = card;
    // Hidden before it takes the new answer, so that it never shows unasked.
    lblAntwort->setVisible(false);
    showTexts(texts->frage, texts->antwort);
    sideShown();
    showPictures(card);
}

void FrmUeb::showPictures(std::optional<qint32> card)
{
    // Reverse practice shows the answer's side in the question's label.
    const bool reverse = m_direction == Direction::Reverse;
    const CardSide top = reverse ? CardSide::Answer : CardSide::Question;
    const CardSide bottom = reverse ? CardSide::Question : CardSide::Answer;
    for (const auto &[label, side] : {std::pair{lblFrage, top}, {lblAntwort, bottom}}) {
        QByteArray bytes;
        try {
            for (const MediaFile &file : card ? session().db().cardMedia(*card, side) : std::vector<MediaFile>())
                if (file.kind == MediaKind::Picture)
                    bytes = session().db().mediaBytes(file.id);
        } catch (const StoreError &) {
            // The texts are on display; a picture the file cannot give is left out.
        }
        label->setPicture(bytes);
    }
}

void FrmUeb::forgetCard()
{
    lblFrage->setText(QString());
    lblAntwort->setText(QString());
    showPictures(std::nullopt);
    m_card.reset();
    session().playback().stop();
}

void FrmUeb::cmdFachOk_Click() { FrageDisplay(); }

void FrmUeb::cmdNeuGebiet_Click()
{
    forgetCard();
    emptyList();
    hide();
    navigator().showSubjects(Road::Practice, Upkeep::RenameOnly);
}

void FrmUeb::cmdZumStart_Click()
{
    hide();
    navigator().showStart();
}

void FrmUeb::formUnload() { emptyList(); }

void FrmUeb::emptyList()
{
    cmbFach->clear();
    // clear() keeps typed text when the list had no entries.
    cmbFach->clearEditText();
}

void FrmUeb::cmdAntwort_Click()
{
    // Heard once when it comes on display, not again at each press.
    const bool coming = lblAntwort->isHidden();
    lblAntwort->setVisible(true);
    if (coming)
        sideShown();
}

void FrmUeb::cmdFrage_Click()
{
    // Back to the question, which was heard already: the answer's sound stops.
    lblAntwort->setVisible(false);
    session().playback().stop();
}

std::optional<qint32> FrmUeb::requireCard()
{
    if (!m_card)
        session().message(this, text::noCardOnDisplay());
    return m_card;
}

void FrmUeb::cmdRichtig_Click() { MoveToFach(Verdict::Richtig); }

void FrmUeb::cmdFastRichtig_Click() { MoveToFach(Verdict::FastRichtig); }

void FrmUeb::cmdFalsch_Click() { MoveToFach(Verdict::Falsch); }

void FrmUeb::MoveToFach(Verdict verdict)
{
    const std::optional<qint32> card = requireCard();
    if (!card)
        return;
    // The card moves from where the file holds it; the list only names where
    // practice goes on, and text there that names no compartment blocks nothing.
    const std::optional<qint32> listed = namedFach();
    Change change;
    try {
        // The verdict and its row in the practice log are one write.
        change = session().db().judgeCard(*card, verdict, m_direction);
        session().record(text::verdictLabel(verdict, lblFrage->text()), change, this);
    } catch (const StoreError &error) {
        if (error.kind() == StoreErrorKind::NotFound)
            cardLost(*card);
        else if (error.kind() == StoreErrorKind::Limit)
            session().message(this, error.detail() == QLatin1String(Store::kTopCompartment) ? text::compartmentLimit()
                                                                                            : text::queueLimit());
        else
            session().report(this, error);
        return;
    }
    const CardRow &judged = *change.cards.front().before;
    const qint32 judgedFach = m_direction == Direction::Reverse ? judged.reverse->fach : judged.fach;
    if (m_dueOnly && goOnDue(judged.subjectId, judgedFach))
        return;
    // Both ways: the reverse places once the forward ones are done for now.
    if (!m_dueOnly && turnToReverse(judged.subjectId)) {
        FillFach(0);
        return;
    }
    FillFach(listed.value_or(judgedFach));
}

void FrmUeb::cardLost(qint32 card)
{
    if (reportMissingCard(session(), this, card))
        goOnWithoutCard();
}

void FrmUeb::goOnWithoutCard()
{
    // Deleted meanwhile: practice goes on where the list points, or at its start.
    const qint32 listed = namedFach().value_or(0);
    forgetCard();
    fillList(listed, true);
}

void FrmUeb::cmdEdit_Click()
{
    const std::optional<qint32> card = requireCard();
    if (!card)
        return;
    // The card's texts as shown, the answer also while it is hidden; the edit window
    // edits Frage and Antwort whichever side is asked.
    const bool reverse = m_direction == Direction::Reverse;
    navigator().editCard(*card, m_subject, reverse ? lblAntwort->text() : lblFrage->text(),
                         reverse ? lblFrage->text() : lblAntwort->text());
    hide();
}

void FrmUeb::goOnAfterEdit()
{
    showForm();
    goOnWithoutCard();
}

void FrmUeb::showEditedCard(const QString &frage, const QString &antwort)
{
    showTexts(frage, antwort);
    showPictures(m_card);
    showForm();
}

} // namespace tarlivo::ui
