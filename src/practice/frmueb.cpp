#include "practice/frmueb.h"

#include "practice/frmedit.h"
#include "practice/notices.h"
#include "practice/sidesound.h"
#include "store/numbertest.h"
#include "ui/controls.h"
#include "ui/messages.h"

#include <QShortcut>

using namespace tarlivo::store;
using namespace tarlivo::legacy;
using namespace tarlivo::ui;

namespace tarlivo::windows {

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

FrmUeb::FrmUeb(Session &session, Navigator &navigator)
    : Form(layout(), kId, session, navigator), cmdFrage(control<CommandButton>("cmdFrage")),
      cmdZumStart(control<CommandButton>("cmdZumStart")), cmdEdit(control<CommandButton>("cmdEdit")),
      cmdFachOk(control<CommandButton>("cmdFachOk")), cmbFach(control<ComboBox>("cmbFach")),
      cmdNeuGebiet(control<CommandButton>("cmdNeuGebiet")), cmdFalsch(control<CommandButton>("cmdFalsch")),
      cmdFastRichtig(control<CommandButton>("cmdFastRichtig")), cmdRichtig(control<CommandButton>("cmdRichtig")),
      cmdAntwort(control<CommandButton>("cmdAntwort")), lblAntwort(control<Label>("lblAntwort")),
      lblFrage(control<Label>("lblFrage")), m_run([&session]() -> Store & { return session.db(); })
{
    connect(cmdFachOk, &QPushButton::clicked, this, [this] { apply(m_run.show(namedCompartment())); });
    connect(cmdNeuGebiet, &QPushButton::clicked, this, [this] {
        m_run.forget();
        clearDisplay();
        emptyList();
        hide();
        this->navigator().showSubjects(Road::Practice, Upkeep::RenameOnly);
    });
    connect(cmdZumStart, &QPushButton::clicked, this, [this] {
        hide();
        this->navigator().showStart();
    });
    connect(cmdAntwort, &QPushButton::clicked, this, [this] {
        // Heard once when it comes on display, not again at each press.
        const bool coming = lblAntwort->isHidden();
        lblAntwort->setVisible(true);
        if (coming)
            sideShown();
    });
    connect(cmdFrage, &QPushButton::clicked, this, [this] {
        // Back to the question, which was heard already: the answer's sound stops.
        lblAntwort->setVisible(false);
        this->session().playback().stop();
    });
    connect(cmdRichtig, &QPushButton::clicked, this, [this] { judge(Verdict::Right); });
    connect(cmdFastRichtig, &QPushButton::clicked, this, [this] { judge(Verdict::AlmostRight); });
    connect(cmdFalsch, &QPushButton::clicked, this, [this] { judge(Verdict::Wrong); });
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
    };
    key(Qt::Key_Space, [this] { lblAntwort->isHidden() ? cmdAntwort->click() : cmdFrage->click(); });
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
    key(Qt::Key_T, [this] {
        if (m_run.place())
            session().playback().playSound(shownSide(), this);
    });
    const auto readAloud = [this] {
        if (m_run.place())
            session().playback().readAloud(shownSide(), this);
    };
    key(Qt::Key_V, readAloud);
    // "Vorlesen" in the menu bar reads what practice shows, while it is on screen.
    connect(&session().playback(), &Playback::readingRequested, this, [this, readAloud] {
        if (isVisible())
            readAloud();
    });
}

std::optional<qint32> FrmUeb::shownCard() const
{
    return m_run.place() ? std::optional<qint32>(m_run.place()->card) : std::nullopt;
}

ShownSide FrmUeb::shownSide()
{
    ShownSide side;
    if (!m_run.place())
        return side;
    const bool answerShown = !lblAntwort->isHidden();
    side.text = answerShown ? lblAntwort->text() : lblFrage->text();
    // The card's side on display: reverse practice asks with the answer.
    const bool answer = answerShown != (m_run.direction() == Direction::Reverse);
    try {
        Store &db = session().db();
        if (const std::optional<qint32> subject = m_run.subjectId()) {
            const SubjectLanguages languages = db.subjectLanguages(*subject);
            side.language = answer ? languages.answer : languages.question;
        }
        const SoundSource &source = session().setup().sideSound;
        const qint32 card = m_run.place()->card;
        side.sound = source ? source(db, card, answer) : sideSound(db, card, answer);
    } catch (const StoreError &) {
        // Nothing to play or read; the next verdict or edit tells what is wrong.
    }
    return side;
}

void FrmUeb::sideShown() { session().playback().shown(shownSide(), this); }

void FrmUeb::hideEvent(QHideEvent *event)
{
    session().playback().stop();
    Form::hideEvent(event);
}

void FrmUeb::cardsChanged(const Change &change, const QObject *origin)
{
    // The edit window hands its texts back itself (showEditedCard).
    if (origin == this || qobject_cast<const FrmEdit *>(origin) || subject().isEmpty() || cmbFach->count() == 0)
        return;
    apply(m_run.follow(change, !origin, isVisible(), namedCompartment()));
}

void FrmUeb::begin(const QString &subject, engine::Mode mode)
{
    const engine::Step step = m_run.start(subject, mode);
    setWindowTitle(m_run.direction() == Direction::Reverse ? text::reverseCaption(subject) : subject);
    showForm();
    apply(step);
}

void FrmUeb::startPractice(const QString &subject) { begin(subject, engine::Mode::Compartments); }

void FrmUeb::startDuePractice(const QString &subject) { begin(subject, engine::Mode::Due); }

void FrmUeb::apply(const engine::Step &step)
{
    using List = engine::Step::List;
    const QString chosen = cmbFach->text();
    if (step.list != List::Keep)
        emptyList();
    for (qint32 compartment : step.compartments)
        cmbFach->addItem(QString::number(compartment));
    if (step.list == List::Fill) {
        cmbFach->setCurrentIndex(step.selected);
    } else if (step.list == List::Refresh) {
        // The entries anew; the card on display and the chosen compartment stay.
        const int index = cmbFach->findText(chosen);
        if (index >= 0)
            cmbFach->setCurrentIndex(index);
        else
            cmbFach->setEditText(chosen);
    }
    switch (step.display) {
    case engine::Step::Display::Keep:
        break;
    case engine::Step::Display::Ask:
        // Hidden before it takes the new answer, so that it never shows unasked.
        lblAntwort->setVisible(false);
        showPlace();
        sideShown();
        break;
    case engine::Step::Display::Texts:
        showPlace();
        break;
    case engine::Step::Display::Clear:
        clearDisplay();
        break;
    }
    const QString &name = m_run.subjectName();
    setWindowTitle(m_run.direction() == Direction::Reverse ? text::reverseCaption(name) : name);
    for (const engine::Notice &notice : step.notices)
        tell(notice);
}

void FrmUeb::tell(const engine::Notice &notice)
{
    if (notice.error)
        session().report(this, *notice.error);
    else
        session().message(this, noticeText(notice, m_run.subjectName(), cmbFach->text()));
}

void FrmUeb::showPlace()
{
    const engine::Place &place = *m_run.place();
    lblFrage->setText(place.asked);
    lblAntwort->setText(place.answer);
    lblFrage->setPicture(place.askedPicture);
    lblAntwort->setPicture(place.answerPicture);
}

void FrmUeb::clearDisplay()
{
    // Nothing of the subject is shown: no verdict or edit may reach a card the user no
    // longer sees.
    lblFrage->setText(QString());
    lblAntwort->setText(QString());
    lblFrage->setPicture({});
    lblAntwort->setPicture({});
    session().playback().stop();
}

std::optional<qint32> FrmUeb::namedCompartment() const { return parseCompartment(cmbFach->text()); }

void FrmUeb::formUnload() { emptyList(); }

void FrmUeb::emptyList()
{
    cmbFach->clear();
    // clear() keeps typed text when the list had no entries.
    cmbFach->clearEditText();
}

void FrmUeb::judge(Verdict verdict)
{
    // The card moves from where the file holds it; the list only names where
    // practice goes on, and text there that names no compartment blocks nothing.
    const engine::Step step = m_run.judge(verdict, namedCompartment());
    if (!step.judged.isEmpty())
        session().record(text::verdictLabel(verdict, lblFrage->text()), step.judged, this);
    apply(step);
}

void FrmUeb::cmdEdit_Click()
{
    const std::optional<qint32> card = shownCard();
    if (!card)
        return session().message(this, text::noCardOnDisplay());
    // The card's texts as shown, the answer also while it is hidden; the edit window
    // edits Frage and Antwort whichever side is asked.
    const bool reverse = m_run.direction() == Direction::Reverse;
    navigator().editCard(*card, subject(), reverse ? lblAntwort->text() : lblFrage->text(),
                         reverse ? lblFrage->text() : lblAntwort->text());
    hide();
}

void FrmUeb::goOnAfterEdit()
{
    showForm();
    apply(m_run.resume(namedCompartment()));
}

void FrmUeb::showEditedCard(const QString &question, const QString &answer)
{
    m_run.edited(question, answer);
    if (m_run.place())
        showPlace();
    showForm();
}

} // namespace tarlivo::windows
