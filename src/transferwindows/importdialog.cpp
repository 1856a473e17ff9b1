#include "transferwindows/importdialog.h"

#include "store/numbertest.h"
#include "store/store.h"
#include "texts/wording.h"
#include "transfer/transfererror.h"
#include "transfer/transfertexts.h"
#include "ui/dialogs.h"
#include "ui/session.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

using namespace tarlivo::store;
using namespace tarlivo::ui;

namespace tarlivo::transferwindows {
namespace {

QLabel *plainLabel(const QString &text, QWidget *buddy, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    if (buddy)
        label->setBuddy(buddy);
    return label;
}

QString fileFilter()
{
    return QStringLiteral("Karteikarten (*.txt *.tsv *.csv *.apkg *.colpkg *.kvtml *.pau.gz *.pau *.xml);;"
                          "Textdateien (*.txt *.tsv *.csv);;Anki-Pakete (*.apkg *.colpkg);;"
                          "KWordQuiz und Parley (*.kvtml);;Pauker-Lektionen (*.pau.gz *.pau *.xml);;"
                          "Alle Dateien (*)");
}

} // namespace

ImportDialog::ImportDialog(Session &session, QWidget *parent)
    : QDialog(parent), m_session(session), m_dialogs(session.dialogs())
{
    setWindowTitle(QStringLiteral("Fragen importieren"));
    setAccessibleName(windowTitle());

    fileEdit = new QLineEdit(this);
    fileEdit->setObjectName(QStringLiteral("fileEdit"));
    // A path typed and confirmed with Enter is read as one chosen.
    fileEdit->setAccessibleName(QStringLiteral("Datei"));
    fileEdit->installEventFilter(this);
    chooseButton = new QPushButton(QStringLiteral("&Durchsuchen …"), this);
    chooseButton->setObjectName(QStringLiteral("chooseButton"));
    chooseButton->setAccessibleName(QStringLiteral("Datei wählen"));
    chooseButton->setAutoDefault(false);
    auto *fileRow = new QHBoxLayout;
    fileRow->addWidget(fileEdit, 1);
    fileRow->addWidget(chooseButton);

    separatorBox = new QComboBox(this);
    separatorBox->setObjectName(QStringLiteral("separatorBox"));
    separatorBox->setAccessibleName(QStringLiteral("Trennzeichen"));
    for (const QChar c : {QLatin1Char('\t'), QLatin1Char(';'), QLatin1Char(',')})
        separatorBox->addItem(transfer::text::separatorName(c), QVariant(c));
    encodingLabel = plainLabel(QString(), nullptr, this);
    encodingLabel->setObjectName(QStringLiteral("encodingLabel"));
    encodingLabel->setAccessibleName(QStringLiteral("Art der Datei"));
    subjectBox = new QComboBox(this);
    subjectBox->setObjectName(QStringLiteral("subjectBox"));
    subjectBox->setEditable(true);
    subjectBox->setInsertPolicy(QComboBox::NoInsert);
    subjectBox->setAccessibleName(QStringLiteral("Ziel-Gebiet"));
    skipDuplicatesBox = new QCheckBox(QStringLiteral("Doppelte Fragen ü&berspringen (schon im Gebiet oder weiter "
                                                     "oben in der Datei)"),
                                      this);
    skipDuplicatesBox->setObjectName(QStringLiteral("skipDuplicatesBox"));
    skipDuplicatesBox->setChecked(true);
    skipDuplicatesBox->setAccessibleName(QStringLiteral("Doppelte Fragen überspringen"));

    auto *form = new QFormLayout;
    form->addRow(plainLabel(QStringLiteral("Dat&ei:"), fileEdit, this), fileRow);
    form->addRow(plainLabel(QStringLiteral("&Trennzeichen:"), separatorBox, this), separatorBox);
    form->addRow(plainLabel(QStringLiteral("Art:"), nullptr, this), encodingLabel);
    form->addRow(plainLabel(QStringLiteral("&Gebiet:"), subjectBox, this), subjectBox);
    form->addRow(skipDuplicatesBox);

    previewTable = new QTableWidget(0, 4, this);
    previewTable->setObjectName(QStringLiteral("previewTable"));
    previewTable->setHorizontalHeaderLabels(
        {QStringLiteral("Frage"), QStringLiteral("Antwort"), QStringLiteral("Fach"), QStringLiteral("Gebiet")});
    previewTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    previewTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    previewTable->setTabKeyNavigation(false);
    previewTable->horizontalHeader()->setStretchLastSection(true);
    previewTable->setAccessibleName(QStringLiteral("Vorschau der ersten Fragen"));
    notesView = new QPlainTextEdit(this);
    notesView->setObjectName(QStringLiteral("notesView"));
    notesView->setReadOnly(true);
    notesView->setTabChangesFocus(true);
    notesView->setMaximumBlockCount(1000);
    notesView->setAccessibleName(QStringLiteral("Hinweise zur Datei"));

    auto *buttons = new QDialogButtonBox(this);
    importButton = buttons->addButton(QStringLiteral("&Importieren"), QDialogButtonBox::AcceptRole);
    importButton->setObjectName(QStringLiteral("importButton"));
    importButton->setAccessibleName(QStringLiteral("Importieren"));
    importButton->setEnabled(false);
    importButton->setDefault(true);
    cancelButton = buttons->addButton(QStringLiteral("Abbrechen"), QDialogButtonBox::RejectRole);
    cancelButton->setObjectName(QStringLiteral("cancelButton"));
    cancelButton->setAccessibleName(QStringLiteral("Abbrechen"));

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(plainLabel(QStringLiteral("&Vorschau:"), previewTable, this));
    layout->addWidget(previewTable, 3);
    layout->addWidget(plainLabel(QStringLiteral("&Hinweise:"), notesView, this));
    layout->addWidget(notesView, 1);
    layout->addWidget(buttons);
    resize(720, 560);

    connect(chooseButton, &QPushButton::clicked, this, [this] { chooseFile(); });
    connect(separatorBox, QOverload<int>::of(&QComboBox::activated), this, &ImportDialog::separatorChosen);
    m_subjectTyped = new QTimer(this);
    m_subjectTyped->setSingleShot(true);
    m_subjectTyped->setInterval(250);
    connect(m_subjectTyped, &QTimer::timeout, this, &ImportDialog::refreshPreview);
    connect(subjectBox, &QComboBox::editTextChanged, this, [this] {
        showPreview();
        // Which cards are there already depends on the subject.
        if (choosesSubject() && skipDuplicatesBox->isChecked())
            m_subjectTyped->start();
    });
    connect(skipDuplicatesBox, &QCheckBox::toggled, this, [this] {
        if (m_file)
            refreshPreview();
    });
    connect(importButton, &QPushButton::clicked, this, &ImportDialog::importCards);
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);

    try {
        subjectBox->addItems(store().allSubjects());
    } catch (const StoreError &e) {
        m_dialogs.message(this, transfer::text::storeProblem(e));
    }
    subjectBox->setCurrentIndex(-1);
    subjectBox->setEditText(QString());
}

ImportDialog::~ImportDialog() = default;

bool ImportDialog::chooseFile(bool *picked)
{
    const QString path = m_dialogs.openFileName(this, QStringLiteral("Datei zum Importieren wählen"), fileFilter());
    if (picked)
        *picked = !path.isEmpty();
    return !path.isEmpty() && loadFile(path);
}

bool ImportDialog::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == fileEdit && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        // Enter reads the typed file instead of importing the one read before.
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            loadTypedFile();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

bool ImportDialog::loadTypedFile()
{
    const QString typed = fileEdit->text().trimmed();
    if (m_file && typed == m_file->path())
        return false;
    if (typed.isEmpty())
        return false;
    loadFile(typed);
    return true;
}

bool ImportDialog::loadFile(const QString &path)
{
    try {
        std::unique_ptr<transfer::ImportFile> file = transfer::ImportFile::open(path);
        m_file = std::move(file);
    } catch (const transfer::TransferError &e) {
        m_dialogs.message(this, e.message());
        m_file.reset();
        m_preview = transfer::ImportPreview();
        showPreview();
        fileEdit->setFocus();
        return false;
    }
    fileEdit->setText(path);
    const bool text = m_file->kind() == transfer::ImportFile::Kind::Text;
    separatorBox->setEnabled(text);
    if (text) {
        int index = separatorBox->findData(QVariant(m_file->separator()));
        if (index < 0) {
            separatorBox->addItem(transfer::text::separatorName(m_file->separator()), QVariant(m_file->separator()));
            index = separatorBox->count() - 1;
        }
        separatorBox->setCurrentIndex(index);
        encodingLabel->setText(QStringLiteral("Textdatei, ") + transfer::text::encodingName(m_file->encoding()));
    } else if (m_file->kind() == transfer::ImportFile::Kind::Anki) {
        encodingLabel->setText(QStringLiteral("Anki-Paket (%1)").arg(m_file->collectionName()));
    } else {
        encodingLabel->setText(m_file->kind() == transfer::ImportFile::Kind::Kvtml
                                   ? QStringLiteral("KWordQuiz oder Parley (kvtml)")
                                   : QStringLiteral("Pauker-Lektion"));
    }
    // Without a Gebiet column the cards need a subject; the file's name is a start.
    if (text && !m_file->hasSubjectColumn() && subjectBox->currentText().isEmpty()) {
        const QString base = QFileInfo(path).completeBaseName();
        if (!readsAsNumber(base))
            subjectBox->setEditText(base);
    }
    refreshPreview();
    return m_file != nullptr;
}

void ImportDialog::separatorChosen()
{
    if (!m_file)
        return;
    m_file->setSeparator(separatorBox->currentData().toChar());
    refreshPreview();
}

transfer::ImportSettings ImportDialog::settings() const
{
    transfer::ImportSettings s;
    s.targetSubject = subjectBox->currentText();
    s.skipDuplicates = skipDuplicatesBox->isChecked();
    return s;
}

void ImportDialog::refreshPreview()
{
    m_subjectTyped->stop();
    if (!m_file)
        return;
    try {
        m_preview = transfer::previewImport(*m_file, store(), settings());
    } catch (const transfer::TransferError &e) {
        m_dialogs.message(this, e.message());
        m_file.reset();
        m_preview = transfer::ImportPreview();
        fileEdit->setFocus();
    } catch (const StoreError &e) {
        m_dialogs.message(this, transfer::text::storeProblem(e));
        m_preview = transfer::ImportPreview();
    }
    showPreview();
}

void ImportDialog::showPreview()
{
    // Anki, kvtml and Pauker bring their decks or lessons; a subject chosen takes all cards instead.
    const bool foreign = m_file && m_file->foreign();
    const bool ownSubjects = m_file && m_file->hasSubjectColumn();
    subjectBox->setEnabled(choosesSubject());
    const QString target = subjectBox->currentText();
    previewTable->setRowCount(int(m_preview.cards.size()));
    for (int row = 0; row < m_preview.cards.size(); ++row) {
        const BulkCard &card = m_preview.cards[row];
        const QString cells[] = {card.question, card.answer, QString::number(card.compartment),
                                 ownSubjects ? card.subject : target};
        for (int column = 0; column < 4; ++column)
            previewTable->setItem(row, column, new QTableWidgetItem(cells[column]));
    }

    QStringList notes;
    if (m_file) {
        notes << transfer::text::previewCount(m_preview.cardCount, m_preview.duplicateCount,
                                              m_preview.whole ? 0 : transfer::ImportPreview::kHeadLines);
        if (m_file->kind() == transfer::ImportFile::Kind::Text) {
            notes << QStringLiteral("Trennzeichen: %1%2")
                         .arg(transfer::text::separatorName(m_file->separator()),
                              m_file->separatorFromHeader() ? QStringLiteral(" (laut Kopfzeile)")
                                                            : QStringLiteral(" (erkannt)"));
            if (ownSubjects)
                notes << QStringLiteral("Die Gebiete stehen in der Datei.");
        } else if (foreign) {
            notes << (target.isEmpty() ? QStringLiteral("Jede Lektion wird ein Gebiet gleichen Namens; "
                                                        "ein gewähltes Gebiet nimmt alle Fragen auf.")
                                       : QStringLiteral("Alle Fragen kommen in das gewählte Gebiet."));
            notes << QStringLiteral("Fach und Zeitpunkt jeder Frage werden übernommen.");
        } else if (!target.isEmpty()) {
            notes << QStringLiteral("Alle Fragen kommen in das gewählte Gebiet.");
        } else {
            notes << QStringLiteral("Jeder Stapel wird ein Gebiet gleichen Namens; "
                                    "ein gewähltes Gebiet nimmt alle Fragen auf.");
            for (const auto &[deck, subject] : m_preview.decks.renamed)
                notes << QStringLiteral("Den Stapel „%1“ gibt es hier schon (oder er ist kein gültiger Name); "
                                        "er kommt in das neue Gebiet „%2“.")
                             .arg(deck, subject);
        }
        if (m_preview.unusedColumns > 0)
            notes << QStringLiteral("Weitere Spalten werden nicht übernommen (bis zu %1 je Zeile).")
                         .arg(m_preview.unusedColumns);
        if (m_preview.mediaDropped > 0)
            notes << (m_preview.mediaDropped == 1 ? QStringLiteral("1 Verweis auf Ton oder Bild wird weggelassen.")
                                                  : QStringLiteral("%1 Verweise auf Ton oder Bild werden weggelassen.")
                                                        .arg(m_preview.mediaDropped));
        if (m_preview.refusedCount > 0) {
            // kvtml and Pauker files hold entries, not lines.
            notes << (foreign
                          ? texts::byNumber(m_preview.refusedCount,
                                            "%1 Eintrag wird nicht übernommen:", "%1 Einträge werden nicht übernommen:")
                          : texts::byNumber(m_preview.refusedCount,
                                            "%1 Zeile wird nicht übernommen:", "%1 Zeilen werden nicht übernommen:"));
            for (const transfer::RefusedLine &r : m_preview.refused)
                notes << QStringLiteral("  ") + transfer::text::problem(r);
            if (m_preview.refusedCount > m_preview.refused.size())
                notes << QStringLiteral("  …");
        }
    }
    notesView->setPlainText(notes.join(QLatin1Char('\n')));
    importButton->setEnabled(m_file && (m_preview.cardCount > m_preview.duplicateCount || !m_preview.whole));
}

void ImportDialog::importCards()
{
    // A path typed but not confirmed is read first: its preview comes before its import.
    if (loadTypedFile() || !m_file)
        return;
    if (m_subjectTyped->isActive()) {
        refreshPreview();
        if (!importButton->isEnabled())
            return;
    }
    const transfer::ImportSettings s = settings();
    const bool subjectNeeded = !m_file->hasSubjectColumn() || (choosesSubject() && !s.targetSubject.isEmpty());
    if (subjectNeeded && (s.targetSubject.isEmpty() || readsAsNumber(s.targetSubject))) {
        m_dialogs.message(this, transfer::text::invalidSubjectName(s.targetSubject));
        subjectBox->setFocus();
        return;
    }
    transfer::ImportSummary summary;
    try {
        std::unique_ptr<Progress> progress = m_dialogs.progress(this);
        // Of a file previewed by its head the length is not known: the bar then only moves.
        const qint64 total = m_preview.whole ? m_preview.cardCount + m_preview.refusedCount : 0;
        summary = transfer::runImport(*m_file, store(), s, [&](qint64 done) {
            return progress->update(QStringLiteral("Fragen werden importiert …"), done, total);
        });
    } catch (const transfer::TransferError &e) {
        m_dialogs.message(this, e.message());
        return;
    } catch (const StoreError &e) {
        m_dialogs.message(this, transfer::text::storeProblem(e));
        return;
    }
    if (summary.cancelled) {
        m_dialogs.message(this, transfer::text::importCancelled());
        return;
    }
    m_dialogs.message(this, transfer::text::importSummary(summary, m_file->path()));
    if (summary.cardsStored > 0 || !summary.subjectsCreated.isEmpty())
        emit cardsChanged();
    accept();
}

bool ImportDialog::choosesSubject() const
{
    return m_file && (!m_file->hasSubjectColumn() || m_file->kind() != transfer::ImportFile::Kind::Text);
}

Store &ImportDialog::store() const { return m_session.db(); }

} // namespace tarlivo::transferwindows
