#include "ui/dialogs.h"

#include "ui/messages.h"

#include <QDialog>

#include <QAbstractButton>
#include <QFileDialog>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QProgressDialog>

using namespace tarlivo::store;
using namespace tarlivo::legacy;

namespace tarlivo::ui {
namespace {

class NoProgress final : public Progress {
public:
    bool update(const QString &, qint64, qint64) override { return true; }
};

class QtProgress final : public Progress {
public:
    explicit QtProgress(QWidget *parent) : m_dialog(parent)
    {
        m_dialog.setWindowTitle(text::programTitle());
        m_dialog.setWindowModality(Qt::ApplicationModal);
        m_dialog.setMinimumDuration(500);
        m_dialog.setAutoClose(false);
        m_dialog.setAutoReset(false);
        auto *label = new QLabel(&m_dialog);
        label->setTextFormat(Qt::PlainText);
        m_dialog.setLabel(label);
        m_dialog.setCancelButtonText(text::cancel());
        m_dialog.setRange(0, 0);
        m_dialog.setValue(0);
    }

    bool update(const QString &label, qint64 done, qint64 total) override
    {
        // The dialog counts in int; the numbers are scaled alike when they outgrow it.
        int scale = 1;
        while (total / scale > 1000000000)
            scale *= 10;
        if (m_dialog.maximum() != int(total / scale))
            m_dialog.setMaximum(int(total / scale));
        m_dialog.setLabelText(label);
        // In a modal dialog this also lets the window paint and take the cancel click.
        m_dialog.setValue(int(std::min(done, total) / scale));
        return !m_dialog.wasCanceled();
    }

private:
    QProgressDialog m_dialog;
};

// A box over a window not shown (yet) would open at that window's unplaced corner;
// without an owner it opens centred on the screen.
QWidget *shownOrNone(QWidget *parent) { return parent && parent->isVisible() ? parent : nullptr; }

} // namespace

std::unique_ptr<Progress> Dialogs::progress(QWidget *) { return std::make_unique<NoProgress>(); }

QString Dialogs::openFileName(QWidget *, const QString &, const QString &) { return QString(); }

QString Dialogs::saveFileName(QWidget *, const QString &, const QString &) { return QString(); }

QString Dialogs::folderName(QWidget *, const QString &, const QString &) { return QString(); }

bool Dialogs::run(QDialog &) { return false; }

bool QtDialogs::run(QDialog &dialog) { return dialog.exec() == QDialog::Accepted; }

// Qt's own chooser, whose buttons the installed translation makes German.
QString QtDialogs::openFileName(QWidget *parent, const QString &title, const QString &filter)
{
    return QFileDialog::getOpenFileName(shownOrNone(parent), title, QString(), filter, nullptr,
                                        QFileDialog::DontUseNativeDialog);
}

QString QtDialogs::saveFileName(QWidget *parent, const QString &title, const QString &filter)
{
    return QFileDialog::getSaveFileName(shownOrNone(parent), title, QString(), filter, nullptr,
                                        QFileDialog::DontUseNativeDialog);
}

QString QtDialogs::folderName(QWidget *parent, const QString &title, const QString &start)
{
    return QFileDialog::getExistingDirectory(shownOrNone(parent), title, start,
                                             QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
}

std::unique_ptr<Progress> QtDialogs::progress(QWidget *parent)
{
    return std::make_unique<QtProgress>(shownOrNone(parent));
}

void QtDialogs::message(QWidget *parent, const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, text::programTitle(), text, QMessageBox::Ok, shownOrNone(parent));
    // Names and card texts are shown as typed, never interpreted as markup.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

bool QtDialogs::confirm(QWidget *parent, const QString &text)
{
    QMessageBox box(QMessageBox::Question, text::programTitle(), text, QMessageBox::Yes | QMessageBox::No,
                    shownOrNone(parent));
    box.setTextFormat(Qt::PlainText);
    box.button(QMessageBox::Yes)->setText(QStringLiteral("&Ja"));
    box.button(QMessageBox::No)->setText(QStringLiteral("&Nein"));
    // Deleting is the usual question here: Enter alone must not delete.
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

QString QtDialogs::input(QWidget *parent, const QString &prompt, const QString &title)
{
    QInputDialog dialog(shownOrNone(parent));
    dialog.setInputMode(QInputDialog::TextInput);
    dialog.setWindowTitle(title);
    dialog.setLabelText(prompt);
    dialog.setTextValue(QString());
    if (dialog.exec() != QDialog::Accepted)
        return QString();
    return dialog.textValue();
}

} // namespace tarlivo::ui
