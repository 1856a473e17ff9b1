#include "transferwindows/exportdialog.h"

#include "store/store.h"
#include "transfer/exporter.h"
#include "transfer/transfererror.h"
#include "transfer/transfertexts.h"
#include "ui/dialogs.h"
#include "ui/session.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

using namespace tarlivo::store;
using namespace tarlivo::ui;

namespace tarlivo::transferwindows {

ExportDialog::ExportDialog(Session &session, QWidget *parent)
    : QDialog(parent), m_session(session), m_dialogs(session.dialogs())
{
    setWindowTitle(QStringLiteral("Fragen exportieren"));
    setAccessibleName(windowTitle());
    subjectBox = new QComboBox(this);
    subjectBox->setObjectName(QStringLiteral("subjectBox"));
    subjectBox->setAccessibleName(QStringLiteral("Gebiet"));
    subjectBox->addItem(QStringLiteral("Alle Gebiete"));
    try {
        subjectBox->addItems(store().subjectsWithCards());
    } catch (const StoreError &e) {
        m_dialogs.message(this, transfer::text::storeProblem(e));
    }
    auto *label = new QLabel(QStringLiteral("&Gebiet:"), this);
    label->setTextFormat(Qt::PlainText);
    label->setBuddy(subjectBox);
    auto *hint =
        new QLabel(QStringLiteral("Die Datei ist UTF-8 und durch Tabulatoren getrennt; "
                                  "mit der Endung .csv durch Semikolons, für Tabellenkalkulationen.\n"
                                  "Tarlivo und Anki lesen sie wieder ein. Mit der Endung .kvtml "
                                  "entsteht eine Datei für KWordQuiz und Parley, mit dem Fach jeder Frage; mit der "
                                  "Endung .apkg ein Anki-Paket mit Bildern und Tönen."),
                   this);
    hint->setTextFormat(Qt::PlainText);
    hint->setWordWrap(true);

    auto *buttons = new QDialogButtonBox(this);
    exportButton = buttons->addButton(QStringLiteral("&Exportieren …"), QDialogButtonBox::AcceptRole);
    exportButton->setObjectName(QStringLiteral("exportButton"));
    exportButton->setAccessibleName(QStringLiteral("Exportieren"));
    exportButton->setDefault(true);
    cancelButton = buttons->addButton(QStringLiteral("Abbrechen"), QDialogButtonBox::RejectRole);
    cancelButton->setObjectName(QStringLiteral("cancelButton"));
    cancelButton->setAccessibleName(QStringLiteral("Abbrechen"));

    auto *form = new QFormLayout;
    form->addRow(label, subjectBox);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(hint);
    layout->addWidget(buttons);
    setMinimumWidth(440);

    connect(exportButton, &QPushButton::clicked, this, &ExportDialog::chooseAndExport);
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

void ExportDialog::chooseAndExport()
{
    const QString path = m_dialogs.saveFileName(
        this, QStringLiteral("Exportieren nach"),
        QStringLiteral("Tabulator-getrennt (*.txt *.tsv);;CSV für Tabellenkalkulationen (*.csv);;"
                       "KWordQuiz und Parley (*.kvtml);;Anki-Paket mit Bildern und Tönen (*.apkg)"));
    if (!path.isEmpty() && exportTo(path))
        accept();
}

bool ExportDialog::exportTo(const QString &path)
{
    const QString subject = subjectBox->currentIndex() <= 0 ? QString() : subjectBox->currentText();
    try {
        std::unique_ptr<Progress> progress = m_dialogs.progress(this);
        const transfer::ExportResult result =
            transfer::exportCards(store(), path, subject, [&](qint64 done, qint64 total) {
                return progress->update(QStringLiteral("Fragen werden exportiert …"), done, total);
            });
        if (result.cancelled) {
            m_dialogs.message(this, QStringLiteral("Der Export wurde abgebrochen; es wurde keine Datei geschrieben."));
            return false;
        }
        m_dialogs.message(this, transfer::text::exportSummary(result.cards, result.subjects, path, result.leftOut));
        return true;
    } catch (const transfer::TransferError &e) {
        m_dialogs.message(this, e.message());
    } catch (const StoreError &e) {
        m_dialogs.message(this, transfer::text::storeProblem(e));
    }
    return false;
}

Store &ExportDialog::store() const { return m_session.db(); }

} // namespace tarlivo::transferwindows
