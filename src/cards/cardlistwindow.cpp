#include "cards/cardlistwindow.h"

#include "cards/cardlistmodel.h"
#include "cards/mediaeditor.h"
#include "store/numbertest.h"
#include "store/store.h"
#include "ui/dialogs.h"
#include "ui/messages.h"
#include "ui/playback.h"
#include "ui/session.h"
#include "ui/subjectchooser.h"
#include "ui/toolwidgets.h"

#include <QAction>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QShowEvent>
#include <QTableView>
#include <QVBoxLayout>

#include <utility>

using namespace tarlivo::store;
using namespace tarlivo::legacy;
using namespace tarlivo::ui;

namespace tarlivo::windows {
CardListWindow::CardListWindow(Session &session, QWidget *parent)
    : QWidget(parent), m_session(session), m_dialogs(session.dialogs()),
      m_model(new CardListModel([&session]() -> Store & { return session.db(); }, this))
{
    setWindowTitle(QStringLiteral("Kartenliste"));
    setObjectName(QStringLiteral("CardListWindow"));

    cboGebiet = new QComboBox(this);
    cboGebiet->setObjectName(QStringLiteral("cboGebiet"));
    cboGebiet->setAccessibleName(QStringLiteral("Gebiet"));
    txtSuche = new QLineEdit(this);
    txtSuche->setObjectName(QStringLiteral("txtSuche"));
    txtSuche->setAccessibleName(QStringLiteral("Suchen in Frage und Antwort"));
    txtSuche->setClearButtonEnabled(true);
    lblTreffer = new QLabel(this);
    lblTreffer->setObjectName(QStringLiteral("lblTreffer"));
    lblTreffer->setTextFormat(Qt::PlainText);
    lblTreffer->setAccessibleName(QStringLiteral("Anzahl der Karten"));

    tblKarten = new QTableView(this);
    tblKarten->setObjectName(QStringLiteral("tblKarten"));
    tblKarten->setAccessibleName(QStringLiteral("Karten"));
    tblKarten->setModel(m_model);
    tblKarten->setSelectionBehavior(QAbstractItemView::SelectRows);
    tblKarten->setSelectionMode(QAbstractItemView::ExtendedSelection);
    tblKarten->setWordWrap(false);
    tblKarten->setTabKeyNavigation(false);
    tblKarten->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Every row one line high: the view then never measures a million rows.
    tblKarten->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    tblKarten->verticalHeader()->hide();
    tblKarten->horizontalHeader()->setStretchLastSection(true);
    tblKarten->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    tblKarten->setSortingEnabled(true);
    tblKarten->setColumnWidth(CardListModel::Question, 280);
    tblKarten->setColumnWidth(CardListModel::Answer, 280);
    // Room for the highest compartment, ten digits, beside the sort arrow.
    tblKarten->setColumnWidth(CardListModel::Compartment,
                              tblKarten->fontMetrics().horizontalAdvance(QStringLiteral("2147483647")) + 32);

    cmdBearbeiten = toolButton(QStringLiteral("&Bearbeiten…"), "cmdBearbeiten", QStringLiteral("Bearbeiten"), this);
    cmdVerschieben = toolButton(QStringLiteral("In &Gebiet verschieben…"), "cmdVerschieben",
                                QStringLiteral("In Gebiet verschieben"), this);
    cmdFach = toolButton(QStringLiteral("In &Fach setzen…"), "cmdFach", QStringLiteral("In Fach setzen"), this);
    cmdFachUmgekehrt = toolButton(QStringLiteral("Fach &umgekehrt setzen…"), "cmdFachUmgekehrt",
                                  QStringLiteral("Fach umgekehrt setzen"), this);
    cmdLoeschen = toolButton(QStringLiteral("&Löschen"), "cmdLoeschen", QStringLiteral("Löschen"), this);
    cmdGebietLoeschen =
        toolButton(QStringLiteral("G&ebiet löschen…"), "cmdGebietLoeschen", QStringLiteral("Gebiet löschen"), this);

    auto *top = new QHBoxLayout;
    top->addWidget(plainLabel(QStringLiteral("Gebie&t:"), cboGebiet, this));
    top->addWidget(cboGebiet, 1);
    top->addSpacing(12);
    top->addWidget(plainLabel(QStringLiteral("&Suchen:"), txtSuche, this));
    top->addWidget(txtSuche, 2);
    top->addWidget(lblTreffer);
    auto *actions = new QHBoxLayout;
    for (QPushButton *b : {cmdBearbeiten, cmdVerschieben, cmdFach, cmdFachUmgekehrt, cmdLoeschen})
        actions->addWidget(b);
    actions->addStretch(1);
    actions->addWidget(cmdGebietLoeschen);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(tblKarten, 1);
    layout->addLayout(actions);
    setTabOrder(cboGebiet, txtSuche);
    setTabOrder(txtSuche, tblKarten);
    setTabOrder(tblKarten, cmdBearbeiten);
    setTabOrder(cmdBearbeiten, cmdVerschieben);
    setTabOrder(cmdVerschieben, cmdFach);
    setTabOrder(cmdFach, cmdFachUmgekehrt);
    setTabOrder(cmdFachUmgekehrt, cmdLoeschen);
    setTabOrder(cmdLoeschen, cmdGebietLoeschen);

    // Entf deletes the selected cards, Enter edits the current one.
    auto *del = new QAction(QStringLiteral("Löschen"), tblKarten);
    del->setShortcut(QKeySequence::Delete);
    del->setShortcutContext(Qt::WidgetShortcut);
    tblKarten->addAction(del);
    connect(del, &QAction::triggered, this, &CardListWindow::deleteSelected);
    connect(tblKarten, &QTableView::activated, this, [this] { editSelected(); });

    connect(cmdBearbeiten, &QPushButton::clicked, this, &CardListWindow::editSelected);
    connect(cmdVerschieben, &QPushButton::clicked, this, &CardListWindow::moveSelected);
    connect(cmdFach, &QPushButton::clicked, this, &CardListWindow::setSelectedCompartment);
    connect(cmdFachUmgekehrt, &QPushButton::clicked, this, &CardListWindow::setSelectedReverseCompartment);
    connect(cmdLoeschen, &QPushButton::clicked, this, &CardListWindow::deleteSelected);
    connect(cmdGebietLoeschen, &QPushButton::clicked, this, &CardListWindow::deleteSubject);
    connect(cboGebiet, qOverload<int>(&QComboBox::currentIndexChanged), this, [this] { reloadCards(); });
    connect(txtSuche, &QLineEdit::textChanged, this, [this] { reloadCards(); });
    connect(m_model, &QAbstractItemModel::modelReset, this, &CardListWindow::updateCount);
    connect(m_model, &CardListModel::hitsCounted, this, &CardListWindow::updateCount);
    connect(tblKarten->selectionModel(), &QItemSelectionModel::selectionChanged, this, &CardListWindow::updateButtons);
    connect(m_model, &QAbstractItemModel::modelReset, this, &CardListWindow::updateButtons);

    resize(900, 560);
    fillSubjects(std::nullopt);
    reloadCards();

    // Another window's change, an undo or the file opened afresh: read again now
    // while on screen, else when next shown; search, subject, sort and selection stay.
    connect(&session, &Session::changed, this, [this](const Change &, const QObject *origin) {
        if (origin != this)
            refreshWhenShown();
    });
    connect(&session, &Session::storeOpened, this, &CardListWindow::refreshWhenShown);
}

void CardListWindow::refreshWhenShown()
{
    if (isVisible())
        refreshKeepingSelection();
    else
        m_stale = true;
}

void CardListWindow::showEvent(QShowEvent *event)
{
    if (std::exchange(m_stale, false))
        refreshKeepingSelection();
    QWidget::showEvent(event);
}

void CardListWindow::refreshKeepingSelection()
{
    const std::vector<qint32> selected = selectedCardIds();
    const CardListRow *current = m_model->rowAt(tblKarten->currentIndex().row());
    const qint32 currentId = current ? current->card.id : 0; // keys start at 1
    const QModelIndexList rows = tblKarten->selectionModel()->selectedRows();
    refresh();
    // The cards selected before stay selected where the list still shows them (the
    // pages they were on are read again first).
    for (const QModelIndex &row : rows)
        m_model->rowAt(row.row());
    QItemSelection selection;
    for (qint32 id : selected)
        if (const int row = m_model->rowOf(id); row >= 0)
            selection.select(m_model->index(row, 0), m_model->index(row, CardListModel::ColumnCount - 1));
    tblKarten->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    if (const int row = currentId > 0 ? m_model->rowOf(currentId) : -1; row >= 0)
        tblKarten->selectionModel()->setCurrentIndex(m_model->index(row, 0), QItemSelectionModel::NoUpdate);
}

CardListWindow::~CardListWindow() = default;

Store &CardListWindow::store() const { return m_session.db(); }

std::optional<qint32> CardListWindow::currentSubject() const
{
    const QVariant key = cboGebiet->currentData();
    return key.isValid() ? std::optional<qint32>(key.toInt()) : std::nullopt;
}

std::vector<qint32> CardListWindow::selectedCardIds() const
{
    return m_model->cardIds(tblKarten->selectionModel()->selection());
}

void CardListWindow::fillSubjects(std::optional<qint32> keep)
{
    try {
        fillSubjectChooser(*cboGebiet, store(), keep);
    } catch (const StoreError &e) {
        showError(e);
    }
}

void CardListWindow::reloadCards()
{
    const int scrolled = tblKarten->verticalScrollBar()->value();
    try {
        m_model->setFilter(currentSubject(), txtSuche->text());
        showReverse();
    } catch (const StoreError &e) {
        showError(e);
    }
    tblKarten->verticalScrollBar()->setValue(scrolled);
}

void CardListWindow::updateCount()
{
    const qint64 rows = m_model->rowCount();
    if (m_model->counting())
        lblTreffer->setText(text::searchHitsCounting(rows));
    else if (m_model->searching())
        lblTreffer->setText(text::searchHits(rows));
    else if (!txtSuche->text().isEmpty())
        lblTreffer->setText(text::searchTooShort());
    else
        lblTreffer->setText(text::cardCount(rows));
}

void CardListWindow::updateButtons()
{
    const bool any = tblKarten->selectionModel()->hasSelection();
    for (QPushButton *b : {cmdBearbeiten, cmdVerschieben, cmdFach, cmdFachUmgekehrt, cmdLoeschen})
        b->setEnabled(any);
    cmdGebietLoeschen->setEnabled(cboGebiet->count() > 1);
}

void CardListWindow::refresh()
{
    fillSubjects(currentSubject());
    reloadCards();
}

void CardListWindow::showSubject(std::optional<qint32> subjectId)
{
    const int at = subjectId ? cboGebiet->findData(*subjectId) : 0;
    if (at < 0) {
        refresh();
        const int again = cboGebiet->findData(*subjectId);
        cboGebiet->setCurrentIndex(again < 0 ? 0 : again);
    } else {
        cboGebiet->setCurrentIndex(at);
    }
}

void CardListWindow::showError(const StoreError &error)
{
    m_dialogs.message(this,
                      error.kind() == StoreErrorKind::NotFound ? text::cardOrSubjectGone() : text::storeError(error));
}

template <class Write>
void CardListWindow::write(const QString &label, Write &&run)
{
    try {
        const Change change = run();
        if (!change.isEmpty())
            emit changed(label, change);
    } catch (const StoreError &e) {
        showError(e);
    }
    refresh();
}

std::optional<qint32> CardListWindow::chooseSubject(const QString &title, const QString &prompt,
                                                    std::optional<qint32> preset)
{
    QDialog dialog(this);
    dialog.setObjectName(QStringLiteral("dlgGebiet"));
    dialog.setWindowTitle(title);
    auto *box = new QComboBox(&dialog);
    box->setObjectName(QStringLiteral("cboZiel"));
    box->setAccessibleName(QStringLiteral("Gebiet"));
    for (int i = 1; i < cboGebiet->count(); ++i) {
        box->addItem(cboGebiet->itemText(i), cboGebiet->itemData(i));
        if (preset && cboGebiet->itemData(i).toInt() == *preset)
            box->setCurrentIndex(box->count() - 1);
    }
    auto *buttons = okCancel(&dialog);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    auto *layout = new QVBoxLayout(&dialog);
    layout->addWidget(plainLabel(prompt, box, &dialog));
    layout->addWidget(box);
    layout->addWidget(buttons);
    if (!m_dialogs.run(dialog) || box->currentIndex() < 0)
        return std::nullopt;
    return box->currentData().toInt();
}

void CardListWindow::editSelected()
{
    const QModelIndex current = tblKarten->currentIndex();
    const CardListRow *row = current.isValid() ? m_model->rowAt(current.row()) : nullptr;
    if (!row) {
        m_dialogs.message(this, text::noCardSelected());
        return;
    }
    const qint32 cardId = row->card.id;
    QDialog dialog(this);
    dialog.setObjectName(QStringLiteral("dlgBearbeiten"));
    dialog.setWindowTitle(text::editTitle());
    auto *question = new QPlainTextEdit(row->card.question, &dialog);
    question->setObjectName(QStringLiteral("txtFrage"));
    question->setAccessibleName(QStringLiteral("Frage"));
    question->setTabChangesFocus(true);
    auto *answer = new QPlainTextEdit(row->card.answer, &dialog);
    answer->setObjectName(QStringLiteral("txtAntwort"));
    answer->setAccessibleName(QStringLiteral("Antwort"));
    answer->setTabChangesFocus(true);
    MediaEditor *questionMedia = nullptr;
    MediaEditor *answerMedia = nullptr;
    try {
        // The practice player: the same plugin, loaded on first use, and the same messages.
        const MediaEditor::Play play = [this, &dialog](const QByteArray &bytes, const QString &name) {
            m_session.playback().playSound(ShownSide{{}, {}, SideSound{bytes, name}}, &dialog);
        };
        questionMedia = new MediaEditor(store(), m_dialogs, cardId, CardSide::Question, play, &dialog);
        answerMedia = new MediaEditor(store(), m_dialogs, cardId, CardSide::Answer, play, &dialog);
    } catch (const StoreError &error) {
        showError(error);
        return;
    }
    auto *buttons = okCancel(&dialog);
    // A side showing a picture or playing a sound needs no text.
    connect(buttons, &QDialogButtonBox::accepted, &dialog, [&] {
        if ((question->toPlainText().isEmpty() && !questionMedia->hasMedia())
            || (answer->toPlainText().isEmpty() && !answerMedia->hasMedia()))
            m_dialogs.message(&dialog, text::missingInput());
        else
            dialog.accept();
    });
    auto *layout = new QVBoxLayout(&dialog);
    layout->addWidget(plainLabel(QStringLiteral("&Frage:"), question, &dialog));
    layout->addWidget(question);
    layout->addWidget(questionMedia);
    layout->addWidget(plainLabel(QStringLiteral("&Antwort:"), answer, &dialog));
    layout->addWidget(answer);
    layout->addWidget(answerMedia);
    layout->addWidget(buttons);
    dialog.resize(520, 420);
    if (!m_dialogs.run(dialog))
        return;
    std::vector<MediaEdit> media = questionMedia->edits();
    for (MediaEdit &edit : answerMedia->edits())
        media.push_back(std::move(edit));
    write(text::editCardLabel(question->toPlainText()),
          [&] { return store().editCard(cardId, question->toPlainText(), answer->toPlainText(), media); });
}

void CardListWindow::moveSelected()
{
    const std::vector<qint32> ids = selectedCardIds();
    if (ids.empty()) {
        m_dialogs.message(this, text::noCardSelected());
        return;
    }
    if (cboGebiet->count() < 2) {
        m_dialogs.message(this, text::noOtherSubject());
        return;
    }
    const std::optional<qint32> target =
        chooseSubject(text::chooseSubjectTitle(), text::chooseSubjectPrompt(qint64(ids.size())), std::nullopt);
    if (!target)
        return;
    const QString name = cboGebiet->itemText(cboGebiet->findData(*target));
    write(text::moveCardsLabel(name), [&] { return store().moveCardsToSubject(ids, *target); });
}

void CardListWindow::showReverse()
{
    const std::optional<qint32> subject = currentSubject();
    const bool shown =
        subject ? Store::practises(store().direction(*subject), Direction::Reverse) : store().hasReverseSubjects();
    tblKarten->setColumnHidden(CardListModel::ReverseCompartment, !shown);
    cmdFachUmgekehrt->setVisible(shown);
}

void CardListWindow::setSelectedCompartment() { askCompartment(Direction::Forward); }

void CardListWindow::setSelectedReverseCompartment() { askCompartment(Direction::Reverse); }

void CardListWindow::askCompartment(Direction direction)
{
    const std::vector<qint32> ids = selectedCardIds();
    if (ids.empty()) {
        m_dialogs.message(this, text::noCardSelected());
        return;
    }
    const QString typed = m_dialogs.input(this, text::compartmentPrompt(), text::compartmentTitle());
    if (typed.isEmpty())
        return; // cancelled
    const std::optional<qint32> compartment = parseCompartment(typed);
    if (!compartment) {
        m_dialogs.message(this, text::notAWholeCompartment(typed));
        return;
    }
    write(text::setCompartmentLabel(*compartment, qint64(ids.size())),
          [&] { return store().setCompartment(ids, *compartment, direction); });
}

void CardListWindow::deleteSelected()
{
    const std::vector<qint32> ids = selectedCardIds();
    if (ids.empty()) {
        m_dialogs.message(this, text::noCardSelected());
        return;
    }
    if (!m_dialogs.confirm(this, text::deleteCardsQuestion(qint64(ids.size()))))
        return;
    write(text::deleteCardsLabel(qint64(ids.size())), [&] { return store().deleteCards(ids); });
}

void CardListWindow::deleteSubject()
{
    std::optional<qint32> subject = currentSubject();
    if (!subject) {
        if (cboGebiet->count() < 2)
            return;
        subject = chooseSubject(QStringLiteral("Gebiet löschen"), text::chooseSubjectToDelete(), std::nullopt);
        if (!subject)
            return;
    }
    const QString name = cboGebiet->itemText(cboGebiet->findData(*subject));
    qint64 cards = 0;
    try {
        cards = store().cardCount(subject);
    } catch (const StoreError &e) {
        showError(e);
        return;
    }
    if (!m_dialogs.confirm(this, text::deleteSubjectQuestion(name, cards)))
        return;
    write(text::deleteSubjectLabel(name), [&] { return store().deleteSubject(*subject); });
}

} // namespace tarlivo::windows
