#include "plan/planwindow.h"

#include "ui/dialogs.h"
#include "ui/messages.h"
#include "ui/navigator.h"
#include "ui/session.h"
#include "ui/toolwidgets.h"

#include <QAction>
#include <QComboBox>
#include <QDate>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableWidget>
#include <QVBoxLayout>

#include <unordered_map>

using namespace tarlivo::store;
using namespace tarlivo::legacy;
using namespace tarlivo::ui;

namespace tarlivo::windows {
namespace {

QTableWidget *table(const char *name, const QString &accessible, const QStringList &headers, QWidget *parent)
{
    auto *t = new QTableWidget(0, int(headers.size()), parent);
    t->setObjectName(QLatin1String(name));
    t->setAccessibleName(accessible);
    t->setHorizontalHeaderLabels(headers);
    t->setSelectionBehavior(QAbstractItemView::SelectRows);
    t->setSelectionMode(QAbstractItemView::SingleSelection);
    t->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Tab leaves the table, the arrows move within it.
    t->setTabKeyNavigation(false);
    t->verticalHeader()->hide();
    t->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    t->horizontalHeader()->setStretchLastSection(true);
    return t;
}

void setRow(QTableWidget &t, int row, const QStringList &cells)
{
    for (int column = 0; column < cells.size(); ++column) {
        auto *item = new QTableWidgetItem(cells[column]);
        if (column > 0)
            item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        t.setItem(row, column, item);
    }
}

QString number(qint64 n) { return QLocale(QLocale::German, QLocale::Germany).toString(n); }

// The languages offered for reading aloud, by the name the voices know them by.
struct ReadingLanguage {
    const char *code;
    const char *name;
};
// clang-format off: one language a line
constexpr ReadingLanguage kReadingLanguages[] = {
    {"", "(keine)"},          {"ar", "Arabisch"},    {"zh", "Chinesisch"}, {"da", "Dänisch"},
    {"de", "Deutsch"},        {"en", "Englisch"},    {"fi", "Finnisch"},   {"fr", "Französisch"},
    {"el", "Griechisch"},     {"it", "Italienisch"}, {"ja", "Japanisch"},  {"la", "Latein"},
    {"nl", "Niederländisch"}, {"nb", "Norwegisch"},  {"pl", "Polnisch"},   {"pt", "Portugiesisch"},
    {"ru", "Russisch"},       {"sv", "Schwedisch"},  {"es", "Spanisch"},   {"cs", "Tschechisch"},
    {"tr", "Türkisch"},       {"uk", "Ukrainisch"},
};
// clang-format on

QComboBox *languageBox(const char *name, const QString &accessible, QWidget *parent)
{
    auto *box = new QComboBox(parent);
    box->setObjectName(QLatin1String(name));
    box->setAccessibleName(accessible);
    for (const ReadingLanguage &language : kReadingLanguages)
        box->addItem(QString::fromUtf8(language.name), QString::fromLatin1(language.code));
    return box;
}

// Chooses code, adding it when the file names one the list lacks.
void chooseLanguage(QComboBox &box, const QString &code)
{
    int index = box.findData(code);
    if (index < 0) {
        box.addItem(code, code);
        index = box.count() - 1;
    }
    box.setCurrentIndex(index);
}

} // namespace

PlanWindow::PlanWindow(Session &session, Navigator &navigator, QWidget *parent)
    : QWidget(parent), m_session(session), m_navigator(navigator), m_dialogs(session.dialogs())
{
    setWindowTitle(QStringLiteral("Lernplan"));
    setObjectName(QStringLiteral("PlanWindow"));

    const QStringList figures{QStringLiteral("Fällig"), QStringLiteral("In 7 Tagen"), QStringLiteral("Karten"),
                              QStringLiteral("Nächste fällig")};
    tblGebiete = table("tblGebiete", QStringLiteral("Gebiete"), QStringList{QStringLiteral("Gebiet")} + figures, this);
    tblFaecher = table("tblFaecher", QStringLiteral("Fächer des Gebiets"),
                       QStringList{QStringLiteral("Fach"), QStringLiteral("Abstand (Tage)")} + figures, this);
    tblGebiete->horizontalHeaderItem(SubjectCards)->setToolTip(text::placesCountedTip());
    tblFaecher->horizontalHeaderItem(CompartmentCards)->setToolTip(text::placesCountedTip());
    txtAbstand = new QLineEdit(this);
    txtAbstand->setObjectName(QStringLiteral("txtAbstand"));
    txtAbstand->setAccessibleName(QStringLiteral("Abstand des Fachs in Tagen"));
    lblHinweis = new QLabel(text::planChooseSubject(), this);
    lblHinweis->setObjectName(QStringLiteral("lblHinweis"));
    lblHinweis->setTextFormat(Qt::PlainText);
    lblHinweis->setAccessibleName(QStringLiteral("Hinweis"));
    cmdAbstand =
        toolButton(QStringLiteral("Abstand &speichern"), "cmdAbstand", QStringLiteral("Abstand speichern"), this);
    cmdUeben = toolButton(QStringLiteral("&Fällige üben"), "cmdUeben", QStringLiteral("Fällige üben"), this);
    cmdAbfragen =
        toolButton(QStringLiteral("Fällige &abfragen"), "cmdAbfragen", QStringLiteral("Fällige abfragen"), this);
    cmdSchliessen = toolButton(QStringLiteral("S&chließen"), "cmdSchliessen", QStringLiteral("Schließen"), this);
    cmbRichtung = new QComboBox(this);
    cmbRichtung->setObjectName(QStringLiteral("cmbRichtung"));
    cmbRichtung->setAccessibleName(QStringLiteral("Richtung des Gebiets"));
    cmbRichtung->addItems(text::directionChoices());

    auto *interval = new QHBoxLayout;
    interval->addWidget(plainLabel(QStringLiteral("A&bstand in Tagen:"), txtAbstand, this));
    interval->addWidget(txtAbstand);
    interval->addWidget(cmdAbstand);
    interval->addStretch(1);
    auto *direction = new QHBoxLayout;
    direction->addWidget(plainLabel(QStringLiteral("&Richtung:"), cmbRichtung, this));
    direction->addWidget(cmbRichtung);
    direction->addStretch(1);
    auto *actions = new QHBoxLayout;
    actions->addWidget(cmdUeben);
    actions->addWidget(cmdAbfragen);
    actions->addStretch(1);
    actions->addWidget(cmdSchliessen);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(plainLabel(QStringLiteral("&Gebiete:"), tblGebiete, this));
    layout->addWidget(tblGebiete, 1);
    layout->addLayout(direction);
    layout->addWidget(plainLabel(QStringLiteral("Fäc&her:"), tblFaecher, this));
    layout->addWidget(lblHinweis);
    layout->addWidget(tblFaecher, 2);
    layout->addLayout(interval);
    layout->addLayout(makeLanguageRow());
    layout->addLayout(actions);
    setTabOrder(tblGebiete, cmbRichtung);
    setTabOrder(cmbRichtung, tblFaecher);
    setTabOrder(tblFaecher, txtAbstand);
    setTabOrder(txtAbstand, cmdAbstand);
    setTabOrder(cmdAbstand, cmbSpracheFrage);
    setTabOrder(cmbSpracheFrage, cmbSpracheAntwort);
    setTabOrder(cmbSpracheAntwort, cmdUeben);
    setTabOrder(cmdUeben, cmdAbfragen);
    setTabOrder(cmdAbfragen, cmdSchliessen);

    auto *close = new QAction(this);
    close->setShortcut(QKeySequence::Cancel);
    addAction(close);
    connect(close, &QAction::triggered, this, &QWidget::close);
    connect(cmdSchliessen, &QPushButton::clicked, this, &QWidget::close);
    connect(cmdAbstand, &QPushButton::clicked, this, &PlanWindow::saveInterval);
    connect(txtAbstand, &QLineEdit::returnPressed, this, &PlanWindow::saveInterval);
    connect(cmdUeben, &QPushButton::clicked, this, &PlanWindow::practiseDue);
    connect(cmdAbfragen, &QPushButton::clicked, this, [this] {
        if (currentSubject())
            m_navigator.startQuiz(m_subjects[std::size_t(tblGebiete->currentRow())].name);
    });
    connect(cmbRichtung, qOverload<int>(&QComboBox::activated), this,
            [this](int index) { chooseDirection(DirectionSetting(index)); });
    connect(tblGebiete, &QTableWidget::itemSelectionChanged, this, [this] { fillCompartments(std::nullopt); });
    connect(tblFaecher, &QTableWidget::itemSelectionChanged, this, &PlanWindow::compartmentChosen);
    // Enter on a subject goes on to its compartments.
    connect(tblGebiete, &QTableWidget::activated, this, [this] { tblFaecher->setFocus(); });

    resize(720, 600);
    // Another window's change, an undo or the file opened afresh: read again now
    // while on screen, else when next shown.
    const auto follow = [this] {
        if (isVisible())
            refresh();
        else
            m_stale = true;
    };
    connect(&session, &Session::changed, this, follow);
    connect(&session, &Session::storeOpened, this, follow);
}

PlanWindow::~PlanWindow() = default;

std::optional<qint32> PlanWindow::currentSubject() const
{
    const int row = tblGebiete->currentRow();
    if (row < 0 || std::size_t(row) >= m_subjects.size() || tblGebiete->selectedItems().isEmpty())
        return std::nullopt;
    return m_subjects[std::size_t(row)].id;
}

std::optional<qint32> PlanWindow::currentCompartment() const
{
    const int row = tblFaecher->currentRow();
    if (row < 0 || std::size_t(row) >= m_compartments.size() || tblFaecher->selectedItems().isEmpty())
        return std::nullopt;
    return m_compartments[std::size_t(row)].compartment;
}

void PlanWindow::showEvent(QShowEvent *event)
{
    if (m_stale)
        refresh();
    QWidget::showEvent(event);
}

void PlanWindow::refresh()
{
    const std::optional<qint32> compartment = currentCompartment();
    fillSubjects(currentSubject());
    fillCompartments(compartment);
}

void PlanWindow::showSubject(qint32 subjectId)
{
    if (m_stale)
        refresh();
    for (std::size_t i = 0; i < m_subjects.size(); ++i)
        if (m_subjects[i].id == subjectId)
            tblGebiete->selectRow(int(i));
}

void PlanWindow::showCompartment(qint32 compartment)
{
    for (std::size_t i = 0; i < m_compartments.size(); ++i)
        if (m_compartments[i].compartment == compartment)
            tblFaecher->selectRow(int(i));
}

QString PlanWindow::dayText(const std::optional<qint64> &day) const
{
    if (!day)
        return text::noDueCard();
    const QString date = QDate::fromJulianDay(*day).toString(QStringLiteral("dd.MM.yyyy"));
    // Left over from an earlier day: said so, not shown as falling due today.
    return *day < m_today ? text::overdueSince(date) : date;
}

void PlanWindow::fillSubjects(std::optional<qint32> keep)
{
    m_stale = false;
    std::vector<SubjectDue> due;
    try {
        Store &store = m_session.db();
        m_today = store.learningToday();
        m_subjects = store.subjectRows();
        due = store.dueBySubject();
    } catch (const StoreError &e) {
        m_subjects.clear();
        m_dialogs.message(this, text::storeError(e));
    }
    std::unordered_map<qint32, const DueFigures *> figures;
    for (const SubjectDue &d : due)
        figures[d.subjectId] = &d.figures;
    const QSignalBlocker blocker(tblGebiete);
    tblGebiete->clearContents();
    tblGebiete->setRowCount(int(m_subjects.size()));
    int chosen = -1;
    static const DueFigures none;
    for (std::size_t i = 0; i < m_subjects.size(); ++i) {
        const auto it = figures.find(m_subjects[i].id);
        const DueFigures &f = it == figures.end() ? none : *it->second;
        setRow(*tblGebiete, int(i),
               {m_subjects[i].name, number(f.dueNow), number(f.dueWithinWeek), number(f.cards), dayText(f.nextDueDay)});
        if (keep && m_subjects[i].id == *keep)
            chosen = int(i);
    }
    if (chosen >= 0)
        tblGebiete->selectRow(chosen);
    else
        tblGebiete->clearSelection();
}

void PlanWindow::fillCompartments(std::optional<qint32> keepCompartment)
{
    const std::optional<qint32> subject = currentSubject();
    m_compartments.clear();
    if (subject) {
        try {
            m_compartments = m_session.db().dueByCompartment(*subject);
        } catch (const StoreError &e) {
            m_dialogs.message(this, text::storeError(e));
        }
    }
    const QSignalBlocker blocker(tblFaecher);
    tblFaecher->clearContents();
    tblFaecher->setRowCount(int(m_compartments.size()));
    int chosen = -1;
    for (std::size_t i = 0; i < m_compartments.size(); ++i) {
        const CompartmentDue &c = m_compartments[i];
        const DueFigures &f = c.figures;
        setRow(*tblFaecher, int(i),
               {QString::number(c.compartment), QString::number(c.days), number(f.dueNow), number(f.dueWithinWeek),
                number(f.cards), dayText(f.nextDueDay)});
        if (keepCompartment && c.compartment == *keepCompartment)
            chosen = int(i);
    }
    lblHinweis->setVisible(!subject);
    showLanguages();
    cmdUeben->setEnabled(subject.has_value());
    cmdAbfragen->setEnabled(subject.has_value());
    {
        const QSignalBlocker quiet(cmbRichtung);
        DirectionSetting setting = DirectionSetting::Forward;
        try {
            if (subject)
                setting = m_session.db().direction(*subject);
        } catch (const StoreError &) {
            // Told above when the file cannot be read; the list shows the default.
        }
        cmbRichtung->setCurrentIndex(int(setting));
        cmbRichtung->setEnabled(subject.has_value());
    }
    if (chosen >= 0)
        tblFaecher->selectRow(chosen);
    else
        tblFaecher->clearSelection();
    compartmentChosen();
}

void PlanWindow::compartmentChosen()
{
    const std::optional<qint32> compartment = currentCompartment();
    txtAbstand->setEnabled(compartment.has_value());
    cmdAbstand->setEnabled(compartment.has_value());
    txtAbstand->setText(compartment ? QString::number(m_compartments[std::size_t(tblFaecher->currentRow())].days)
                                    : QString());
}

void PlanWindow::saveInterval()
{
    const std::optional<qint32> subject = currentSubject();
    const std::optional<qint32> compartment = currentCompartment();
    if (!subject || !compartment)
        return;
    const QString typed = txtAbstand->text();
    static const QRegularExpression wholeDays(QStringLiteral("^\\s*\\d{1,4}\\s*$"));
    const int days = typed.trimmed().toInt();
    if (!wholeDays.match(typed).hasMatch() || days > Store::kMaxInterval) {
        m_dialogs.message(this, text::intervalInvalid(typed, Store::kMaxInterval));
        txtAbstand->setFocus();
        txtAbstand->selectAll();
        return;
    }
    const QString name = m_subjects[std::size_t(tblGebiete->currentRow())].name;
    Change change;
    try {
        change = m_session.db().setInterval(*subject, *compartment, days);
    } catch (const StoreError &e) {
        m_dialogs.message(this, text::storeError(e));
        refresh();
        return;
    }
    // Recording tells every window, this one too, which reads its figures again.
    if (!change.isEmpty())
        emit changed(text::intervalLabel(*compartment, name), change);
}

QLayout *PlanWindow::makeLanguageRow()
{
    cmbSpracheFrage = languageBox("cmbSpracheFrage", QStringLiteral("Sprache der Fragen beim Vorlesen"), this);
    cmbSpracheAntwort = languageBox("cmbSpracheAntwort", QStringLiteral("Sprache der Antworten beim Vorlesen"), this);
    for (QComboBox *box : {cmbSpracheFrage, cmbSpracheAntwort})
        connect(box, &QComboBox::activated, this, &PlanWindow::saveLanguages);
    auto *row = new QHBoxLayout;
    row->addWidget(plainLabel(QStringLiteral("Vorlesen – S&prache der Fragen:"), cmbSpracheFrage, this));
    row->addWidget(cmbSpracheFrage);
    row->addWidget(plainLabel(QStringLiteral("der Ant&worten:"), cmbSpracheAntwort, this));
    row->addWidget(cmbSpracheAntwort);
    row->addStretch(1);
    return row;
}

void PlanWindow::showLanguages()
{
    const std::optional<qint32> subject = currentSubject();
    SubjectLanguages languages;
    if (subject) {
        try {
            languages = m_session.db().subjectLanguages(*subject);
        } catch (const StoreError &e) {
            m_dialogs.message(this, text::storeError(e));
        }
    }
    chooseLanguage(*cmbSpracheFrage, languages.question);
    chooseLanguage(*cmbSpracheAntwort, languages.answer);
    cmbSpracheFrage->setEnabled(subject.has_value());
    cmbSpracheAntwort->setEnabled(subject.has_value());
}

void PlanWindow::saveLanguages()
{
    const std::optional<qint32> subject = currentSubject();
    if (!subject)
        return;
    try {
        // A setting, like a window's size: kept at once, not a step to take back.
        m_session.db().setSubjectLanguages(
            *subject, {cmbSpracheFrage->currentData().toString(), cmbSpracheAntwort->currentData().toString()});
    } catch (const StoreError &e) {
        m_dialogs.message(this, text::storeError(e));
        showLanguages();
    }
}

void PlanWindow::chooseDirection(DirectionSetting setting)
{
    const std::optional<qint32> subject = currentSubject();
    if (!subject)
        return;
    const QString name = m_subjects[std::size_t(tblGebiete->currentRow())].name;
    std::optional<Change> change;
    try {
        // Half a million cards take a moment to get their reverse places.
        std::unique_ptr<Progress> progress = m_dialogs.progress(this);
        const QString label = text::directionProgress(name);
        change = m_session.db().setDirection(*subject, setting, [&] { return progress->update(label, 0, 0); });
    } catch (const StoreError &e) {
        m_dialogs.message(this, text::storeError(e));
    }
    if (change && !change->isEmpty()) {
        emit changed(text::directionLabel(name), *change);
        return;
    }
    // Cancelled or refused: the list shows what the file holds.
    refresh();
}

void PlanWindow::practiseDue()
{
    if (!currentSubject())
        return;
    const QString name = m_subjects[std::size_t(tblGebiete->currentRow())].name;
    m_navigator.startDuePractice(name);
}

} // namespace tarlivo::windows
