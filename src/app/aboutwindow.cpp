#include "app/aboutwindow.h"

#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include <sqlite3.h>
#include <unicode/uvernum.h>

#ifndef TARLIVO_VERSION
#define TARLIVO_VERSION "0"
#endif

namespace tarlivo::app {

namespace {

QLabel *plainLabel(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    return label;
}

// A path and the button that opens its folder, in one row.
QWidget *pathRow(const QString &path, const QString &what, QPushButton *&button, QWidget *parent)
{
    auto *row = new QWidget(parent);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    QLabel *label = plainLabel(QDir::toNativeSeparators(path), row);
    label->setAccessibleName(what);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    label->setFocusPolicy(Qt::StrongFocus);
    layout->addWidget(label, 1);
    button = new QPushButton(QStringLiteral("Ordner öffnen"), row);
    button->setAccessibleName(what + QStringLiteral(": Ordner öffnen"));
    button->setAutoDefault(false);
    layout->addWidget(button);
    return row;
}

struct Library {
    const char *name;
    QString version;
    const char *licence;
    const char *use;
};

} // namespace

AboutWindow::AboutWindow(const QString &dataFile, QWidget *parent)
    : QDialog(parent), m_dataFolder(QFileInfo(dataFile).absolutePath())
{
    setObjectName(QStringLiteral("aboutWindow"));
    setWindowTitle(QStringLiteral("Über Tarlivo"));
    setAccessibleName(windowTitle());

    auto *layout = new QVBoxLayout(this);
    QLabel *title = plainLabel(QStringLiteral("Tarlivo " TARLIVO_VERSION), this);
    QFont big = title->font();
    big.setPointSize(big.pointSize() * 3 / 2);
    big.setBold(true);
    title->setFont(big);
    title->setAccessibleName(QStringLiteral("Programm und Version"));
    layout->addWidget(title);
    QLabel *blurb = plainLabel(QStringLiteral("Karteikasten zum Lernen mit Fragen und Antworten."), this);
    blurb->setAccessibleName(QStringLiteral("Beschreibung"));
    layout->addWidget(blurb);

    auto *files = new QGroupBox(QStringLiteral("Daten"), this);
    auto *form = new QFormLayout(files);
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    QWidget *dataRow = pathRow(dataFile, QStringLiteral("Datendatei"), openDataFolder, files);
    QWidget *backupRow =
        pathRow(backupFolder(), QStringLiteral("Ordner der Sicherungskopien"), openBackupFolder, files);
    form->addRow(plainLabel(QStringLiteral("Datendatei:"), files), dataRow);
    form->addRow(plainLabel(QStringLiteral("Sicherungskopien:"), files), backupRow);
    layout->addWidget(files);

    auto *libraries = new QGroupBox(QStringLiteral("Verwendete Bibliotheken"), this);
    auto *libraryLayout = new QVBoxLayout(libraries);
    auto *list = new QTreeWidget(libraries);
    list->setObjectName(QStringLiteral("libraries"));
    list->setAccessibleName(QStringLiteral("Verwendete Bibliotheken und ihre Lizenzen"));
    list->setHeaderLabels(
        {QStringLiteral("Bibliothek"), QStringLiteral("Version"), QStringLiteral("Lizenz"), QStringLiteral("Wofür")});
    list->setRootIsDecorated(false);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    const Library entries[] = {
        {"Qt", QString::fromLatin1(qVersion()), "LGPL-3.0", "Fenster und Grundfunktionen"},
        {"SQLite", QString::fromLatin1(sqlite3_libversion()), "Public Domain", "die Datendatei"},
        {"ICU", QStringLiteral(U_ICU_VERSION), "Unicode-Lizenz (ICU)", "Sortieren deutscher Namen"},
        {"mdbtools", QString(), "LGPL-2.0-or-later", "Lesen alter Access-Dateien"},
        {"libzip", QString(), "BSD-3-Clause", "Austauschdateien"},
        {"zstd", QString(), "BSD-3-Clause", "Austauschdateien"},
    };
    for (const Library &entry : entries)
        new QTreeWidgetItem(list, {QString::fromUtf8(entry.name), entry.version, QString::fromUtf8(entry.licence),
                                   QString::fromUtf8(entry.use)});
    for (int column = 0; column < list->columnCount(); ++column)
        list->resizeColumnToContents(column);
    libraryLayout->addWidget(list);
    layout->addWidget(libraries, 1);

    auto *buttons = new QDialogButtonBox(this);
    closeButton = buttons->addButton(QStringLiteral("&Schließen"), QDialogButtonBox::RejectRole);
    openDataFolder->setObjectName(QStringLiteral("openDataFolder"));
    openBackupFolder->setObjectName(QStringLiteral("openBackupFolder"));
    closeButton->setAccessibleName(QStringLiteral("Schließen"));
    closeButton->setDefault(true);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    const auto open = [](const QString &folder) { QDesktopServices::openUrl(QUrl::fromLocalFile(folder)); };
    connect(openDataFolder, &QPushButton::clicked, this, [this, open] { open(dataFolder()); });
    connect(openBackupFolder, &QPushButton::clicked, this, [this, open] { open(backupFolder()); });
    const QList<QWidget *> order{dataRow->findChild<QLabel *>(),
                                 openDataFolder,
                                 backupRow->findChild<QLabel *>(),
                                 openBackupFolder,
                                 list,
                                 closeButton};
    for (int i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);
    closeButton->setFocus();
    resize(sizeHint().expandedTo(QSize(560, 420)));
}

} // namespace tarlivo::app
