#include "printwindow/printwindow.h"

#include "print/printsupport.h"
#include "store/store.h"
#include "texts/wording.h"
#include "transfer/transfertexts.h"
#include "ui/dialogs.h"
#include "ui/session.h"
#include "ui/toolwidgets.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

using namespace tarlivo::store;
using namespace tarlivo::ui;

namespace tarlivo::windows {
namespace {

// The wait cursor while the cards are read and laid out.
struct Busy {
    Busy() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~Busy() { QApplication::restoreOverrideCursor(); }
    Busy(const Busy &) = delete;
    Busy &operator=(const Busy &) = delete;
};

QComboBox *comboBox(const char *name, const QString &accessible, const QStringList &items, QWidget *parent)
{
    auto *box = new QComboBox(parent);
    box->setObjectName(QLatin1String(name));
    box->setAccessibleName(accessible);
    box->addItems(items);
    return box;
}

} // namespace

PrintWindow::PrintWindow(Session &session, QWidget *parent)
    : QDialog(parent), m_session(session), m_dialogs(session.dialogs())
{
    setObjectName(QStringLiteral("printWindow"));
    setWindowTitle(QStringLiteral("Drucken"));
    setAccessibleName(windowTitle());

    subjectBox = comboBox("subjectBox", QStringLiteral("Gebiet"), {}, this);
    layoutBox = comboBox("layoutBox", QStringLiteral("Anordnung"),
                         {QStringLiteral("Liste"), QStringLiteral("Karteikarten")}, this);
    someCompartments = new QCheckBox(QStringLiteral("Nur &einige Fächer:"), this);
    someCompartments->setObjectName(QStringLiteral("someCompartments"));
    someCompartments->setAccessibleName(QStringLiteral("Nur einige Fächer"));
    compartmentList = new QListWidget(this);
    compartmentList->setObjectName(QStringLiteral("compartmentList"));
    compartmentList->setAccessibleName(QStringLiteral("Fächer"));
    compartmentList->setEnabled(false);
    compartmentList->setMaximumHeight(120);
    paperBox = comboBox("paperBox", QStringLiteral("Papier"), {QStringLiteral("A4"), QStringLiteral("Letter")}, this);

    auto *hint = new QLabel(QStringLiteral("Karteikarten: 8 auf einem Blatt, eine Seite Fragen, dann eine Seite "
                                           "Antworten. Beidseitig drucken, über die lange Kante wenden, dann "
                                           "an den Linien schneiden."),
                            this);
    hint->setTextFormat(Qt::PlainText);
    hint->setWordWrap(true);

    previewButton = toolButton(QStringLiteral("&Vorschau"), "previewButton", QStringLiteral("Vorschau"), this);
    printButton = toolButton(QStringLiteral("&Drucken …"), "printButton", QStringLiteral("Drucken"), this);
    pdfButton =
        toolButton(QStringLiteral("Als &PDF speichern …"), "pdfButton", QStringLiteral("Als PDF speichern"), this);
    closeButton = toolButton(QStringLiteral("&Schließen"), "closeButton", QStringLiteral("Schließen"), this);
    printButton->setDefault(true);

    auto *form = new QFormLayout;
    form->addRow(plainLabel(QStringLiteral("&Gebiet:"), subjectBox, this), subjectBox);
    form->addRow(plainLabel(QStringLiteral("&Anordnung:"), layoutBox, this), layoutBox);
    form->addRow(someCompartments, compartmentList);
    form->addRow(plainLabel(QStringLiteral("Papie&r:"), paperBox, this), paperBox);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(previewButton);
    buttons->addWidget(printButton);
    buttons->addWidget(pdfButton);
    buttons->addStretch();
    buttons->addWidget(closeButton);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(hint);
    layout->addLayout(buttons);
    setMinimumWidth(480);

    connect(subjectBox, &QComboBox::currentIndexChanged, this, &PrintWindow::fillCompartments);
    connect(someCompartments, &QCheckBox::toggled, compartmentList, &QWidget::setEnabled);
    connect(previewButton, &QPushButton::clicked, this, &PrintWindow::preview);
    connect(printButton, &QPushButton::clicked, this, &PrintWindow::printOut);
    connect(pdfButton, &QPushButton::clicked, this, &PrintWindow::savePdf);
    connect(closeButton, &QPushButton::clicked, this, &QDialog::reject);
    refresh();
}

void PrintWindow::refresh()
{
    const QString chosen = subjectBox->currentText();
    {
        const QSignalBlocker blocker(subjectBox);
        subjectBox->clear();
        subjectBox->addItem(QStringLiteral("Alle Gebiete"));
        try {
            subjectBox->addItems(m_session.db().subjectsWithCards());
        } catch (const StoreError &e) {
            m_dialogs.message(this, transfer::text::storeProblem(e));
        }
        subjectBox->setCurrentIndex(std::max(0, subjectBox->findText(chosen)));
    }
    fillCompartments();
}

void PrintWindow::fillCompartments()
{
    std::set<qint32> unchecked;
    for (int i = 0; i < compartmentList->count(); ++i)
        if (compartmentList->item(i)->checkState() == Qt::Unchecked)
            unchecked.insert(compartmentList->item(i)->data(Qt::UserRole).toInt());
    compartmentList->clear();
    try {
        Store &store = m_session.db();
        std::optional<qint32> subject;
        if (subjectBox->currentIndex() > 0)
            subject = store.subjectId(subjectBox->currentText());
        for (const CompartmentCount &c : store.cardsPerCompartment(subject)) {
            auto *item = new QListWidgetItem(QStringLiteral("Fach %1 (%2)")
                                                 .arg(c.compartment)
                                                 .arg(texts::byNumber(c.count, "%1 Karte", "%1 Karten")),
                                             compartmentList);
            item->setData(Qt::UserRole, c.compartment);
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
            item->setCheckState(unchecked.count(c.compartment) ? Qt::Unchecked : Qt::Checked);
        }
    } catch (const StoreError &e) {
        m_dialogs.message(this, transfer::text::storeProblem(e));
    }
}

print::PrintOptions PrintWindow::options() const
{
    print::PrintOptions options;
    if (subjectBox->currentIndex() > 0)
        options.subject = subjectBox->currentText();
    options.layout = layoutBox->currentIndex() == 1 ? print::Layout::Cards : print::Layout::List;
    options.paper = paperBox->currentIndex() == 1 ? print::Paper::Letter : print::Paper::A4;
    if (someCompartments->isChecked()) {
        for (int i = 0; i < compartmentList->count(); ++i)
            if (compartmentList->item(i)->checkState() == Qt::Checked)
                options.compartments.insert(compartmentList->item(i)->data(Qt::UserRole).toInt());
        // None ticked asks for nothing, not for all: 0 is no compartment's number.
        if (options.compartments.empty())
            options.compartments.insert(0);
    }
    return options;
}

std::optional<print::Document> PrintWindow::document()
{
    const print::PrintOptions chosen = options();
    try {
        const Busy busy;
        const std::vector<print::PrintSubject> subjects = print::readCards(m_session.db(), chosen);
        if (!subjects.empty())
            return print::layOut(subjects, chosen);
    } catch (const StoreError &e) {
        m_dialogs.message(this, transfer::text::storeProblem(e));
        return std::nullopt;
    }
    m_dialogs.message(this, QStringLiteral("Es gibt nichts zu drucken: das Gebiet und die Fächer, die gewählt "
                                           "sind, haben keine Karten."));
    return std::nullopt;
}

template <class Run>
void PrintWindow::withPrinter(Run &&run)
{
    QString error;
    print::PrintSupport *support = print::printSupport(&error);
    if (!support) {
        m_dialogs.message(this, QStringLiteral("Das Drucken ist nicht verfügbar (%1). Als PDF speichern geht "
                                               "trotzdem.")
                                    .arg(error));
        return;
    }
    const std::optional<print::Document> laidOut = document();
    if (!laidOut)
        return;
    const print::Document &doc = *laidOut;
    print::PrintPages pages;
    pages.count = int(doc.pages.size());
    pages.letter = doc.paper == print::Paper::Letter;
    pages.paint = [&doc](QPainter &painter, int page) { print::paintPage(painter, doc, page); };
    run(*support, pages);
}

void PrintWindow::preview()
{
    withPrinter([this](print::PrintSupport &support, const print::PrintPages &pages) {
        support.preview(pages, this, [this](QDialog &dialog) { return m_dialogs.run(dialog); });
    });
}

void PrintWindow::printOut()
{
    withPrinter([this](print::PrintSupport &support, const print::PrintPages &pages) {
        QString error;
        if (!support.print(
                pages, this, [this](QDialog &dialog) { return m_dialogs.run(dialog); }, &error)
            && !error.isEmpty())
            m_dialogs.message(this, error);
    });
}

void PrintWindow::savePdf()
{
    QString path = m_dialogs.saveFileName(this, QStringLiteral("Als PDF speichern"), QStringLiteral("PDF (*.pdf)"));
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".pdf");
    const std::optional<print::Document> laidOut = document();
    if (!laidOut)
        return;
    try {
        const Busy busy;
        print::writePdf(*laidOut, path);
    } catch (const print::PrintError &e) {
        m_dialogs.message(this, e.message());
        return;
    }
    const QString pages = texts::byNumber(qint64(laidOut->pages.size()), "%1 Seite", "%1 Seiten");
    m_dialogs.message(this, QStringLiteral("%1 gespeichert, %2.").arg(texts::quoted(path), pages));
}

} // namespace tarlivo::windows
