#include "quizwindow/quizwindow.h"

#include "practice/notices.h"
#include "practice/sidesound.h"
#include "store/store.h"
#include "ui/dialogs.h"
#include "ui/messages.h"
#include "ui/picture.h"
#include "ui/playback.h"
#include "ui/session.h"
#include "ui/toolwidgets.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTextLayout>
#include <QVBoxLayout>

#include <algorithm>

using namespace tarlivo::store;
using namespace tarlivo::legacy;
using namespace tarlivo::ui;

namespace tarlivo::windows {

// The question's picture, painted scaled down to fit (never up).
class PictureBox : public QWidget {
public:
    explicit PictureBox(QWidget *parent) : QWidget(parent)
    {
        setObjectName(QStringLiteral("picFrage"));
        setAccessibleName(QStringLiteral("Bild der Frage"));
        setMinimumHeight(0);
        hide();
    }
    void setPicture(const QByteArray &bytes)
    {
        m_image = bytes.isEmpty() ? QImage() : decodePicture(bytes, QSize(640, 240));
        setFixedHeight(m_image.isNull() ? 0 : m_image.height());
        setVisible(!m_image.isNull());
        update();
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        if (m_image.isNull())
            return;
        QPainter p(this);
        const QSize size = fittedSize(m_image.size(), this->size());
        p.drawImage(QRect(QPoint((width() - size.width()) / 2, 0), size), m_image);
    }

private:
    QImage m_image;
};

// The result: its text as a screen reader reads it, the last line's answer painted
// with the parts that differ from the typed text marked.
class ResultLabel : public QLabel {
public:
    explicit ResultLabel(QWidget *parent) : QLabel(parent)
    {
        setObjectName(QStringLiteral("lblErgebnis"));
        setTextFormat(Qt::PlainText);
        setAccessibleName(QStringLiteral("Ergebnis"));
        setMinimumHeight(fontMetrics().height() * 2);
        setAlignment(Qt::AlignLeft | Qt::AlignTop);
    }
    // marks count from `from` in text.
    void setResult(const QString &text, int from, const std::vector<quiz::Mark> &marks)
    {
        m_from = from;
        m_marks = marks;
        setText(text);
        // The name is what a screen reader says: the result itself.
        setAccessibleName(text.isEmpty() ? QStringLiteral("Ergebnis") : text);
        update();
    }

protected:
    void paintEvent(QPaintEvent *event) override
    {
        if (m_marks.empty())
            return QLabel::paintEvent(event);
        QPainter p(this);
        p.setPen(palette().color(QPalette::WindowText));
        const QRect area = contentsRect();
        qreal y = area.top();
        int start = 0;
        for (const QString &line : text().split(QLatin1Char('\n'))) {
            QTextLayout layout(line, font(), this);
            QList<QTextLayout::FormatRange> formats;
            for (const quiz::Mark &m : m_marks) {
                const int s = m.start + m_from - start;
                if (s < 0 || s >= line.size())
                    continue;
                QTextLayout::FormatRange range;
                range.start = s;
                range.length = std::min(m.length, int(line.size()) - s);
                range.format.setBackground(palette().color(QPalette::Highlight));
                range.format.setForeground(palette().color(QPalette::HighlightedText));
                range.format.setFontUnderline(true);
                formats << range;
            }
            layout.setFormats(formats);
            layout.beginLayout();
            for (QTextLine l = layout.createLine(); l.isValid(); l = layout.createLine()) {
                l.setLineWidth(area.width());
                l.setPosition(QPointF(0, y - area.top()));
                y += l.height();
            }
            layout.endLayout();
            layout.draw(&p, QPointF(area.left(), area.top()));
            start += int(line.size()) + 1;
        }
    }

private:
    int m_from = 0;
    std::vector<quiz::Mark> m_marks;
};

namespace {

QPushButton *choiceButton(int i, QWidget *parent)
{
    auto *b = toolButton(QStringLiteral("&%1").arg(i + 1), "", QStringLiteral("Antwort %1").arg(i + 1), parent);
    b->setObjectName(QStringLiteral("cmdWahl%1").arg(i + 1));
    b->hide();
    return b;
}

// A button's text shows "&" as it is and keeps to one line.
QString buttonText(const QString &s)
{
    QString t = s;
    t.replace(QLatin1Char('&'), QStringLiteral("&&"));
    return t.simplified();
}

const Verdict kVerdictChoices[] = {Verdict::Right, Verdict::AlmostRight, Verdict::Wrong};

QComboBox *verdictBox(const char *name, const QString &accessible, Verdict current, QWidget *parent)
{
    auto *box = new QComboBox(parent);
    box->setObjectName(QLatin1String(name));
    box->setAccessibleName(accessible);
    box->addItems({QStringLiteral("Richtig"), QStringLiteral("Fast richtig"), QStringLiteral("Falsch")});
    box->setCurrentIndex(
        int(std::find(std::begin(kVerdictChoices), std::end(kVerdictChoices), current) - std::begin(kVerdictChoices)));
    return box;
}

} // namespace

QuizWindow::QuizWindow(Session &session, QWidget *parent)
    : QWidget(parent), m_session(session), m_run([&session]() -> Store & { return session.db(); })
{
    setObjectName(QStringLiteral("QuizWindow"));
    setWindowTitle(QStringLiteral("Abfrage"));

    cmbGebiet = new QComboBox(this);
    cmbGebiet->setObjectName(QStringLiteral("cmbGebiet"));
    cmbGebiet->setAccessibleName(QStringLiteral("Gebiet"));
    cmbArt = new QComboBox(this);
    cmbArt->setObjectName(QStringLiteral("cmbArt"));
    cmbArt->setAccessibleName(QStringLiteral("Art"));
    cmbArt->addItems({QStringLiteral("Eintippen"), QStringLiteral("Auswahl")});
    chkFaellig = new QCheckBox(QStringLiteral("&Nur fällige Karten"), this);
    chkFaellig->setObjectName(QStringLiteral("chkFaellig"));
    chkFaellig->setAccessibleName(QStringLiteral("Nur fällige Karten"));
    chkFaellig->setChecked(true);

    lblFrage = new QLabel(this);
    lblFrage->setObjectName(QStringLiteral("lblFrage"));
    lblFrage->setTextFormat(Qt::PlainText);
    lblFrage->setWordWrap(true);
    lblFrage->setAccessibleName(QStringLiteral("Frage"));
    QFont big = lblFrage->font();
    big.setPointSizeF(big.pointSizeF() * 1.4);
    lblFrage->setFont(big);
    lblFrage->setMinimumHeight(lblFrage->fontMetrics().height() * 2);
    picFrage = new PictureBox(this);

    txtAntwort = new QLineEdit(this);
    txtAntwort->setObjectName(QStringLiteral("txtAntwort"));
    txtAntwort->setAccessibleName(QStringLiteral("Ihre Antwort"));
    lblAntwortTitel = plainLabel(QStringLiteral("&Ihre Antwort:"), txtAntwort, this);
    for (int i = 0; i < 4; ++i)
        cmdWahl[std::size_t(i)] = choiceButton(i, this);

    cmdPruefen = toolButton(QStringLiteral("&Prüfen"), "cmdPruefen", QStringLiteral("Prüfen"), this);
    cmdWeiter = toolButton(QStringLiteral("&Weiter"), "cmdWeiter", QStringLiteral("Weiter"), this);
    cmdRecht = toolButton(QStringLiteral("Ich hatte &recht"), "cmdRecht", QStringLiteral("Ich hatte recht"), this);
    cmdFalsch = toolButton(QStringLiteral("Doch &falsch"), "cmdFalsch", QStringLiteral("Doch falsch"), this);
    cmdToleranz = toolButton(QStringLiteral("&Toleranz …"), "cmdToleranz", QStringLiteral("Toleranz"), this);
    cmdSchliessen = toolButton(QStringLiteral("S&chließen"), "cmdSchliessen", QStringLiteral("Schließen"), this);
    lblErgebnis = new ResultLabel(this);
    lblNoch = figureLabel("lblNoch", QStringLiteral("Noch zu üben"), this);

    auto *top = new QHBoxLayout;
    top->addWidget(plainLabel(QStringLiteral("&Gebiet:"), cmbGebiet, this));
    top->addWidget(cmbGebiet, 1);
    top->addWidget(plainLabel(QStringLiteral("&Art:"), cmbArt, this));
    top->addWidget(cmbArt);
    top->addWidget(chkFaellig);
    auto *answer = new QHBoxLayout;
    answer->addWidget(lblAntwortTitel);
    answer->addWidget(txtAntwort, 1);
    auto *choices = new QGridLayout;
    for (int i = 0; i < 4; ++i)
        choices->addWidget(cmdWahl[std::size_t(i)], i / 2, i % 2);
    auto *judge = new QHBoxLayout;
    judge->addWidget(cmdPruefen);
    judge->addWidget(cmdWeiter);
    judge->addWidget(cmdRecht);
    judge->addWidget(cmdFalsch);
    judge->addStretch(1);
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(lblNoch);
    bottom->addStretch(1);
    bottom->addWidget(cmdToleranz);
    bottom->addWidget(cmdSchliessen);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(lblFrage);
    layout->addWidget(picFrage);
    layout->addLayout(answer);
    layout->addLayout(choices);
    layout->addLayout(judge);
    layout->addWidget(lblErgebnis, 1);
    layout->addLayout(bottom);

    setTabOrder(cmbGebiet, cmbArt);
    setTabOrder(cmbArt, chkFaellig);
    setTabOrder(chkFaellig, txtAntwort);
    setTabOrder(txtAntwort, cmdWahl[0]);
    for (std::size_t i = 0; i + 1 < cmdWahl.size(); ++i)
        setTabOrder(cmdWahl[i], cmdWahl[i + 1]);
    setTabOrder(cmdWahl[3], cmdPruefen);
    setTabOrder(cmdPruefen, cmdWeiter);
    setTabOrder(cmdWeiter, cmdRecht);
    setTabOrder(cmdRecht, cmdFalsch);
    setTabOrder(cmdFalsch, cmdToleranz);
    setTabOrder(cmdToleranz, cmdSchliessen);

    connect(cmbGebiet, qOverload<int>(&QComboBox::activated), this, [this] { restart(); });
    connect(chkFaellig, &QCheckBox::toggled, this, [this] { restart(); });
    connect(cmbArt, qOverload<int>(&QComboBox::activated), this, [this] {
        // A card waiting for its answer is asked again the other way.
        if (m_run.place() && !m_result)
            ask();
    });
    connect(cmdPruefen, &QPushButton::clicked, this, &QuizWindow::check);
    connect(cmdWeiter, &QPushButton::clicked, this, &QuizWindow::goOn);
    connect(cmdRecht, &QPushButton::clicked, this, [this] { overrule(Verdict::Right); });
    connect(cmdFalsch, &QPushButton::clicked, this, [this] { overrule(Verdict::Wrong); });
    connect(cmdToleranz, &QPushButton::clicked, this, &QuizWindow::editTolerances);
    connect(cmdSchliessen, &QPushButton::clicked, this, &QWidget::close);
    for (int i = 0; i < 4; ++i)
        connect(cmdWahl[std::size_t(i)], &QPushButton::clicked, this, [this, i] { choose(i); });
    connect(&session, &Session::changed, this, &QuizWindow::follow);
    connect(&session, &Session::storeOpened, this, [this] {
        m_result.reset();
        m_run.forget();
        if (isVisible())
            refresh();
    });

    resize(640, 420);
    finish(QString());
}

QuizWindow::~QuizWindow() = default;

std::optional<qint32> QuizWindow::shownCard() const
{
    if (!m_run.place())
        return std::nullopt;
    return m_run.place()->card;
}

bool QuizWindow::choosing() const { return cmbArt->currentIndex() == 1; }

void QuizWindow::startOn(const QString &subject)
{
    commitResult();
    refresh();
    const int index = cmbGebiet->findText(subject, Qt::MatchFixedString);
    if (index >= 0)
        cmbGebiet->setCurrentIndex(index);
    {
        const QSignalBlocker quiet(chkFaellig);
        chkFaellig->setChecked(true);
    }
    restart();
}

void QuizWindow::refresh()
{
    QStringList subjects;
    try {
        if (m_session.ensureStore(this))
            subjects = m_session.db().subjectsWithCards();
    } catch (const StoreError &error) {
        m_session.report(this, error);
    }
    const QString current = cmbGebiet->currentText();
    m_filling = true;
    cmbGebiet->clear();
    cmbGebiet->addItems(subjects);
    const int index = cmbGebiet->findText(current, Qt::MatchFixedString);
    cmbGebiet->setCurrentIndex(index >= 0 ? index : 0);
    m_filling = false;
    if (!m_run.place() || cmbGebiet->currentText() != current)
        restart();
}

void QuizWindow::restart()
{
    if (m_filling)
        return;
    commitResult();
    const QString subject = cmbGebiet->currentText();
    if (subject.isEmpty() || !m_session.store()) {
        m_run.forget();
        finish(subject.isEmpty() ? QStringLiteral("Es gibt noch kein Gebiet mit Karten.") : QString());
        return;
    }
    setWindowTitle(QStringLiteral("Abfrage – ") + subject);
    apply(m_run.start(subject, chkFaellig->isChecked() ? engine::Mode::Due : engine::Mode::All));
}

void QuizWindow::apply(const engine::Step &step)
{
    using Kind = engine::Notice::Kind;
    std::optional<QString> ended;
    for (const engine::Notice &notice : step.notices) {
        switch (notice.kind) {
        case Kind::AllDuePractised:
            ended = text::allDuePractised();
            break;
        case Kind::AllPractised:
            ended = QStringLiteral("Alle Karten des Gebiets sind abgefragt.");
            break;
        case Kind::SubjectWithoutCards:
            ended = text::subjectWithoutCards(m_run.subjectName());
            break;
        case Kind::UnknownSubject:
            ended = text::unknownSubject(m_run.subjectName());
            break;
        case Kind::StoreFailed:
            m_session.report(this, *notice.error);
            break;
        case Kind::CardGone:
        case Kind::CardMissing:
        case Kind::CompartmentLimit:
        case Kind::QueueLimit:
            m_session.message(this, noticeText(notice, m_run.subjectName(), QString()));
            break;
        case Kind::CompartmentEmpty:
        case Kind::NoCardOnDisplay:
        case Kind::NotACompartment:
            break;
        }
    }
    // Due practice ends with the due cards: what the engine would ask after them is
    // for the designed practice.
    if (ended) {
        m_run.forget();
        finish(*ended);
        return;
    }
    switch (step.display) {
    case engine::Step::Display::Ask:
        ask();
        break;
    case engine::Step::Display::Texts:
        if (m_run.place()) {
            lblFrage->setText(m_run.place()->asked);
            lblFrage->setAccessibleName(m_run.place()->asked);
            picFrage->setPicture(m_run.place()->askedPicture);
        }
        break;
    case engine::Step::Display::Clear:
        finish(QString());
        break;
    case engine::Step::Display::Keep:
        updateCount();
        break;
    }
}

void QuizWindow::ask()
{
    const std::optional<engine::Place> &place = m_run.place();
    if (!place)
        return finish(QString());
    m_result.reset();
    lblFrage->setText(place->asked);
    lblFrage->setAccessibleName(place->asked.isEmpty() ? QStringLiteral("Frage") : place->asked);
    picFrage->setPicture(place->askedPicture);
    lblErgebnis->setResult(QString(), 0, {});
    txtAntwort->clear();
    txtAntwort->setReadOnly(false);
    cmdWeiter->setEnabled(false);
    cmdRecht->setEnabled(false);
    cmdFalsch->setEnabled(false);
    cmdToleranz->setEnabled(true);
    m_choices.clear();
    if (choosing())
        showChoices();
    const bool typing = m_choices.empty();
    lblAntwortTitel->setVisible(typing);
    txtAntwort->setVisible(typing);
    txtAntwort->setEnabled(typing);
    cmdPruefen->setEnabled(typing);
    for (std::size_t i = 0; i < cmdWahl.size(); ++i) {
        cmdWahl[i]->setVisible(i < m_choices.size());
        cmdWahl[i]->setEnabled(i < m_choices.size());
        if (i < m_choices.size())
            cmdWahl[i]->setText(QStringLiteral("&%1 ").arg(i + 1) + buttonText(m_choices[i]));
    }
    if (typing)
        txtAntwort->setFocus();
    else
        cmdWahl[0]->setFocus();
    updateCount();

    // The question's sound, as practice plays it.
    ShownSide side;
    side.text = place->asked;
    const bool answerSide = place->direction == Direction::Reverse;
    try {
        Store &db = m_session.db();
        if (const std::optional<qint32> subject = m_run.subjectId()) {
            const SubjectLanguages languages = db.subjectLanguages(*subject);
            side.language = answerSide ? languages.answer : languages.question;
        }
        const SoundSource &source = m_session.setup().sideSound;
        side.sound = source ? source(db, place->card, answerSide) : sideSound(db, place->card, answerSide);
    } catch (const StoreError &) {
        // Nothing to play; the verdict tells what is wrong with the file.
    }
    m_session.playback().shown(side, this);
}

void QuizWindow::showChoices()
{
    const engine::Place &place = *m_run.place();
    const QString right = place.answer.trimmed();
    std::vector<QString> texts;
    try {
        texts =
            m_session.db().otherAnswers(*m_run.subjectId(), place.card,
                                        place.direction == Direction::Reverse ? CardSide::Question : CardSide::Answer,
                                        3, QRandomGenerator::global()->generate());
    } catch (const StoreError &error) {
        m_session.report(this, error);
    }
    if (!right.isEmpty())
        texts.push_back(right);
    if (texts.size() < 2 || right.isEmpty()) {
        lblErgebnis->setResult(QStringLiteral("Für eine Auswahl hat dieses Gebiet zu wenige verschiedene Antworten; "
                                              "bitte tippen Sie die Antwort ein."),
                               0, {});
        return;
    }
    std::shuffle(texts.begin(), texts.end(), *QRandomGenerator::global());
    m_choices = std::move(texts);
}

void QuizWindow::check()
{
    if (!m_run.place() || m_result)
        return;
    AnswerTolerances tolerances;
    try {
        tolerances = m_session.db().answerTolerances(*m_run.subjectId());
    } catch (const StoreError &) {
        // Judged by the defaults; the verdict's write tells what is wrong.
    }
    m_result = quiz::judge(m_run.place()->answer, txtAntwort->text(), tolerances);
    showResult();
}

void QuizWindow::choose(int index)
{
    if (!m_run.place() || m_result || index < 0 || std::size_t(index) >= m_choices.size())
        return;
    quiz::Judgement j;
    j.answer = m_run.place()->answer.trimmed();
    j.exact = m_choices[std::size_t(index)] == j.answer;
    j.verdict = j.exact ? Verdict::Right : Verdict::Wrong;
    m_result = j;
    showResult();
}

void QuizWindow::overrule(Verdict verdict)
{
    if (!m_result)
        return;
    m_result->verdict = verdict;
    m_result->slips.clear();
    showResult();
}

void QuizWindow::showResult()
{
    const quiz::Judgement &j = *m_result;
    const QString text = j.text();
    // The marks belong to the answer after "Richtig ist: " on the last line.
    lblErgebnis->setResult(text, int(text.size() - j.answer.size()), j.exact ? std::vector<quiz::Mark>{} : j.marks);
    txtAntwort->setReadOnly(true);
    cmdPruefen->setEnabled(false);
    for (QPushButton *b : cmdWahl)
        b->setEnabled(false);
    cmdWeiter->setEnabled(true);
    cmdRecht->setEnabled(j.verdict != Verdict::Right);
    cmdFalsch->setEnabled(j.verdict != Verdict::Wrong);
    cmdWeiter->setFocus();
}

bool QuizWindow::commitResult()
{
    if (!m_result || !m_run.place())
        return false;
    const Verdict verdict = m_result->verdict;
    const QString label = text::quizLabel(m_run.place()->asked);
    m_result.reset();
    const engine::Step step = m_run.judge(verdict, std::nullopt);
    if (!step.judged.isEmpty())
        m_session.record(label, step.judged, this);
    apply(step);
    return !step.judged.isEmpty();
}

void QuizWindow::goOn()
{
    if (m_result)
        commitResult();
}

void QuizWindow::finish(const QString &text)
{
    m_result.reset();
    m_choices.clear();
    lblFrage->clear();
    lblFrage->setAccessibleName(QStringLiteral("Frage"));
    picFrage->setPicture({});
    txtAntwort->clear();
    txtAntwort->setEnabled(false);
    for (QPushButton *b : cmdWahl)
        b->hide();
    cmdPruefen->setEnabled(false);
    cmdWeiter->setEnabled(false);
    cmdRecht->setEnabled(false);
    cmdFalsch->setEnabled(false);
    cmdToleranz->setEnabled(m_run.subjectId().has_value());
    lblErgebnis->setResult(text, 0, {});
    updateCount();
}

void QuizWindow::updateCount()
{
    qint64 left = 0;
    if (m_run.place()) {
        if (m_run.mode() == engine::Mode::All) {
            left = m_run.remaining();
        } else {
            try {
                left = m_session.db().dueFigures(*m_run.subjectId()).dueNow;
            } catch (const StoreError &) {
                // The count stays as it was; the verdict tells what is wrong.
                return;
            }
        }
    }
    lblNoch->setText(QStringLiteral("Noch ") + text::cardCount(left));
}

void QuizWindow::editTolerances()
{
    const std::optional<qint32> subject = m_run.subjectId();
    if (!subject)
        return;
    AnswerTolerances t;
    try {
        t = m_session.db().answerTolerances(*subject);
    } catch (const StoreError &error) {
        return m_session.report(this, error);
    }
    QDialog dialog(this);
    dialog.setObjectName(QStringLiteral("dlgToleranz"));
    dialog.setWindowTitle(QStringLiteral("Toleranz für „%1“").arg(m_run.subjectName()));
    QComboBox *boxes[] = {
        verdictBox("cmbSchreibung", quiz::slipName(quiz::Slip::Case), t.letterCase, &dialog),
        verdictBox("cmbAkzente", quiz::slipName(quiz::Slip::Accents), t.accents, &dialog),
        verdictBox("cmbSatzzeichen", quiz::slipName(quiz::Slip::Punctuation), t.punctuation, &dialog),
        verdictBox("cmbTippfehler", quiz::slipName(quiz::Slip::Typo), t.typo, &dialog),
    };
    auto *form = new QFormLayout;
    form->addRow(plainLabel(QStringLiteral("Nur &Groß-/Kleinschreibung anders:"), boxes[0], &dialog), boxes[0]);
    form->addRow(plainLabel(QStringLiteral("Nur &Akzente anders:"), boxes[1], &dialog), boxes[1]);
    form->addRow(plainLabel(QStringLiteral("Nur &Satzzeichen anders:"), boxes[2], &dialog), boxes[2]);
    form->addRow(plainLabel(QStringLiteral("Ein &Tippfehler:"), boxes[3], &dialog), boxes[3]);
    auto *layout = new QVBoxLayout(&dialog);
    layout->addLayout(form);
    QDialogButtonBox *buttons = okCancel(&dialog);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    if (!m_session.dialogs().run(dialog))
        return;
    const auto chosen = [](QComboBox *box) { return kVerdictChoices[std::max(0, box->currentIndex()) % 3]; };
    const AnswerTolerances wanted{chosen(boxes[0]), chosen(boxes[1]), chosen(boxes[2]), chosen(boxes[3])};
    try {
        const Change change = m_session.db().setAnswerTolerances(*subject, wanted);
        if (!change.isEmpty())
            m_session.record(QStringLiteral("Toleranz für „%1“").arg(m_run.subjectName()), change, this);
    } catch (const StoreError &error) {
        m_session.report(this, error);
    }
}

void QuizWindow::follow(const Change &change, const QObject *origin)
{
    if (origin == this)
        return;
    // The list holds the subjects with cards: it follows subjects, and cards that came,
    // went or changed subject (the last card of a subject deleted elsewhere).
    const bool cardsMoved = std::any_of(change.cards.begin(), change.cards.end(), [](const auto &c) {
        return !c.before || !c.after || c.before->subjectId != c.after->subjectId;
    });
    if (change.isEmpty() || !change.subjects.empty() || cardsMoved) {
        // The run keeps its subject.
        const QString current = cmbGebiet->currentText();
        QStringList subjects;
        try {
            if (m_session.store())
                subjects = m_session.db().subjectsWithCards();
        } catch (const StoreError &) {
            return;
        }
        m_filling = true;
        cmbGebiet->clear();
        cmbGebiet->addItems(subjects);
        const int index = cmbGebiet->findText(m_run.subjectName(), Qt::MatchFixedString);
        cmbGebiet->setCurrentIndex(index >= 0 ? index : cmbGebiet->findText(current));
        m_filling = false;
    }
    const bool hadResult = m_result.has_value();
    const std::optional<qint32> before = shownCard();
    const engine::Step step = m_run.follow(change, origin == nullptr, isVisible(), std::nullopt);
    // A result waiting to be stored stays while its card stays on display.
    if (hadResult && step.display != engine::Step::Display::Ask && step.display != engine::Step::Display::Clear
        && shownCard() == before && step.notices.empty()) {
        updateCount();
        return;
    }
    apply(step);
}

void QuizWindow::closeEvent(QCloseEvent *event)
{
    // Closing with a result shown is going on: its verdict is stored.
    commitResult();
    QWidget::closeEvent(event);
}

void QuizWindow::keyPressEvent(QKeyEvent *event)
{
    const int key = event->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        const auto chosen = std::find(cmdWahl.begin(), cmdWahl.end(), focusWidget());
        if (m_result)
            goOn();
        else if (chosen != cmdWahl.end())
            choose(int(chosen - cmdWahl.begin()));
        else if (txtAntwort->isVisible())
            check();
        return event->accept();
    }
    if (!m_result && !m_choices.empty() && key >= Qt::Key_1 && key <= Qt::Key_4
        && !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
        choose(key - Qt::Key_1);
        return event->accept();
    }
    QWidget::keyPressEvent(event);
}

void QuizWindow::hideEvent(QHideEvent *event)
{
    m_session.playback().stop();
    QWidget::hideEvent(event);
}

} // namespace tarlivo::windows
