#include "syncwindow/syncwindow.h"

#include "store/store.h"
#include "sync/runwording.h"
#include "sync/scheduler.h"
#include "sync/sync.h"
#include "ui/dialogs.h"
#include "ui/session.h"
#include "ui/toolwidgets.h"

#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

using namespace tarlivo::store;
using namespace tarlivo::ui;

namespace tarlivo::windows {
namespace {

QString absoluteFolder(const QString &typed)
{
    const QString trimmed = typed.trimmed();
    if (trimmed.isEmpty())
        return {};
    return QDir::cleanPath(QFileInfo(QDir::fromNativeSeparators(trimmed)).absoluteFilePath());
}

} // namespace

SyncWindow::SyncWindow(Session &session, sync::Scheduler &scheduler, QWidget *parent)
    : QWidget(parent, Qt::Window), m_session(session), m_scheduler(scheduler)
{
    setObjectName(QStringLiteral("syncWindow"));
    setWindowTitle(QStringLiteral("Abgleich"));
    setAccessibleName(windowTitle());

    folderEdit = new QLineEdit(this);
    folderEdit->setObjectName(QStringLiteral("folderEdit"));
    folderEdit->setAccessibleName(QStringLiteral("Abgleichordner"));
    folderEdit->setPlaceholderText(QDir::toNativeSeparators(QDir::home().filePath(QStringLiteral("Sync/Tarlivo"))));
    chooseButton = toolButton(QStringLiteral("&Wählen …"), "chooseButton", QStringLiteral("Ordner wählen"), this);
    auto *hint = new QLabel(QStringLiteral("Ein Ordner, den ein Programm wie Syncthing oder Nextcloud zwischen Ihren "
                                           "Rechnern abgleicht. Tarlivo legt dort nur eigene Dateien ab, nie die "
                                           "Datendatei selbst."),
                            this);
    hint->setTextFormat(Qt::PlainText);
    hint->setWordWrap(true);
    machineList = new QTreeWidget(this);
    machineList->setObjectName(QStringLiteral("machineList"));
    machineList->setAccessibleName(QStringLiteral("Rechner im Abgleichordner"));
    machineList->setHeaderLabels({QStringLiteral("Rechner"), QStringLiteral("Zuletzt abgeglichen")});
    machineList->setRootIsDecorated(false);
    machineList->setSelectionMode(QAbstractItemView::SingleSelection);
    machineList->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    syncButton =
        toolButton(QStringLiteral("&Jetzt abgleichen"), "syncButton", QStringLiteral("Jetzt abgleichen"), this);
    resultLabel = figureLabel("resultLabel", QStringLiteral("Letzter Abgleich"), this);
    resultLabel->setWordWrap(true);
    closeButton = toolButton(QStringLiteral("S&chließen"), "closeButton", QStringLiteral("Schließen"), this);

    auto *folderRow = new QHBoxLayout;
    folderRow->addWidget(plainLabel(QStringLiteral("&Ordner:"), folderEdit, this));
    folderRow->addWidget(folderEdit, 1);
    folderRow->addWidget(chooseButton);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(syncButton);
    buttons->addStretch();
    buttons->addWidget(closeButton);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(folderRow);
    layout->addWidget(hint);
    layout->addWidget(plainLabel(QStringLiteral("&Rechner:"), machineList, this));
    layout->addWidget(machineList, 1);
    layout->addWidget(resultLabel);
    layout->addLayout(buttons);
    setMinimumWidth(520);

    connect(chooseButton, &QPushButton::clicked, this, &SyncWindow::choose);
    connect(folderEdit, &QLineEdit::returnPressed, this, &SyncWindow::apply);
    connect(syncButton, &QPushButton::clicked, this, &SyncWindow::syncNow);
    connect(closeButton, &QPushButton::clicked, this, &QWidget::close);
    connect(&m_scheduler, &sync::Scheduler::started, this, &SyncWindow::showOutcome);
    connect(&m_scheduler, &sync::Scheduler::finished, this, [this] {
        showMachines();
        showOutcome();
    });
    refresh();
}

void SyncWindow::refresh()
{
    QString folder;
    try {
        folder = sync::folder(m_session.db()).value_or(QString());
    } catch (const StoreError &error) {
        m_session.report(this, error);
    }
    folderEdit->setText(QDir::toNativeSeparators(folder));
    // The file says which folder it syncs through.
    if (m_scheduler.folder() != folder)
        m_scheduler.setFolder(folder);
    showMachines();
    showOutcome();
}

void SyncWindow::choose()
{
    const QString current = absoluteFolder(folderEdit->text());
    const QString chosen = m_session.dialogs().folderName(this, QStringLiteral("Abgleichordner wählen"),
                                                          current.isEmpty() ? QDir::homePath() : current);
    if (chosen.isEmpty())
        return;
    folderEdit->setText(QDir::toNativeSeparators(chosen));
    apply();
}

bool SyncWindow::apply()
{
    const QString folder = absoluteFolder(folderEdit->text());
    bool changed = false;
    try {
        Store &store = m_session.db();
        changed = sync::folder(store).value_or(QString()) != folder;
        // A new one must be there; the one set may be away for now (a drive not
        // mounted), which the sync then tells.
        if (changed && !folder.isEmpty() && !QFileInfo(folder).isDir()) {
            m_session.message(this, sync::text::folderMissing(folder));
            return false;
        }
        if (changed)
            sync::setFolder(store, folder);
    } catch (const StoreError &error) {
        m_session.report(this, error);
        return false;
    }
    folderEdit->setText(QDir::toNativeSeparators(folder));
    m_scheduler.setFolder(folder);
    // A new folder: the data file joins what lies there at once.
    if (changed)
        m_scheduler.syncNow();
    showMachines();
    showOutcome();
    return true;
}

void SyncWindow::syncNow()
{
    if (!apply())
        return;
    if (m_scheduler.folder().isEmpty()) {
        m_session.message(this, QStringLiteral("Bitte wählen Sie zuerst einen Abgleichordner."));
        folderEdit->setFocus();
        return;
    }
    m_scheduler.syncNow();
}

void SyncWindow::showMachines()
{
    machineList->clear();
    m_folderProblem.clear();
    const QString folder = m_scheduler.folder().isEmpty() ? absoluteFolder(folderEdit->text()) : m_scheduler.folder();
    if (folder.isEmpty())
        return;
    std::vector<sync::Machine> machines;
    try {
        machines = sync::machines(m_session.db(), folder);
    } catch (const sync::SyncError &error) {
        m_folderProblem = error.message;
        return;
    } catch (const StoreError &error) {
        m_folderProblem = sync::text::storeProblem(error);
        return;
    }
    // This machine first, the others by name.
    std::stable_sort(machines.begin(), machines.end(), [](const sync::Machine &a, const sync::Machine &b) {
        return a.self != b.self ? a.self : a.name.localeAwareCompare(b.name) < 0;
    });
    for (const sync::Machine &machine : machines) {
        const QString name = machine.name.isEmpty() ? machine.id : machine.name;
        const QString seen = machine.lastSeen.isValid()
                                 ? machine.lastSeen.toLocalTime().toString(QStringLiteral("dd.MM.yyyy HH:mm"))
                                 : QStringLiteral("noch nie");
        new QTreeWidgetItem(machineList, {machine.self ? name + QStringLiteral(" (dieser Rechner)") : name, seen});
    }
    if (machineList->topLevelItemCount() > 0)
        machineList->setCurrentItem(machineList->topLevelItem(0));
}

void SyncWindow::showOutcome()
{
    QStringList lines;
    if (m_scheduler.busy())
        lines << QStringLiteral("Abgleich läuft …");
    if (const std::optional<sync::Outcome> &last = m_scheduler.lastOutcome()) {
        lines << sync::text::syncedAt(last->at) + QStringLiteral(": ") + sync::text::outcomeSummary(*last)
                     + QStringLiteral(".");
        lines << last->notes;
    } else if (!m_scheduler.busy()) {
        try {
            if (const QDateTime at = sync::lastSync(m_session.db()); at.isValid())
                lines << sync::text::syncedAt(at) + QStringLiteral(".");
        } catch (const StoreError &) {
            // Told when the folder is set or a sync runs.
        }
    }
    if (!m_scheduler.problem().isEmpty())
        lines << QStringLiteral("Der Abgleich ist fehlgeschlagen: ") + m_scheduler.problem();
    if (!m_folderProblem.isEmpty())
        lines << m_folderProblem;
    if (lines.isEmpty())
        lines << (m_scheduler.folder().isEmpty() ? QStringLiteral("Noch kein Abgleichordner gewählt.")
                                                 : QStringLiteral("Noch nicht abgeglichen."));
    const QString text = lines.join(QLatin1Char('\n'));
    resultLabel->setText(text);
    // A screen reader reads the name, so it carries the outcome.
    resultLabel->setAccessibleName(text);
}

} // namespace tarlivo::windows
