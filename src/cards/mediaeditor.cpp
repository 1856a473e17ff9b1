#include "cards/mediaeditor.h"

#include "store/store.h"
#include "ui/dialogs.h"
#include "ui/picture.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QVBoxLayout>

using namespace tarlivo::store;
using namespace tarlivo::ui;

namespace tarlivo::windows {
namespace {

// A sound beyond this is refused: the whole file lives in the data file.
constexpr qint64 kMaxSoundBytes = 64 * 1024 * 1024;

QString sideName(CardSide side)
{
    return side == CardSide::Question ? QStringLiteral("Frage") : QStringLiteral("Antwort");
}

} // namespace

MediaEditor::MediaEditor(Store &store, Dialogs &dialogs, qint32 cardId, CardSide side, Play play, QWidget *parent)
    : QWidget(parent), m_store(store), m_dialogs(dialogs), m_side(side), m_play(std::move(play))
{
    setAcceptDrops(true);
    const QString prefix = side == CardSide::Question ? QStringLiteral("Frage") : QStringLiteral("Antwort");
    setObjectName(QStringLiteral("medien") + prefix);
    for (const MediaFile &file : m_store.cardMedia(cardId, side)) {
        Slot &s = slot(file.kind);
        s.stored = file;
        s.present = true;
        s.name = file.name;
    }
    auto *grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    int row = 0;
    for (MediaKind kind : {MediaKind::Picture, MediaKind::Sound}) {
        Slot &s = slot(kind);
        const bool picture = kind == MediaKind::Picture;
        const QString what = picture ? QStringLiteral("Bild") : QStringLiteral("Ton");
        s.label = new QLabel(this);
        s.label->setTextFormat(Qt::PlainText);
        s.label->setObjectName(QStringLiteral("lbl") + what + prefix);
        auto *choose = new QPushButton(what + QStringLiteral(" wählen …"), this);
        choose->setObjectName(QStringLiteral("cmd") + what + QStringLiteral("Waehlen") + prefix);
        choose->setAccessibleName(what + QStringLiteral(" zur ") + sideName(side) + QStringLiteral(" wählen"));
        connect(choose, &QPushButton::clicked, this, [this, kind] { this->choose(kind); });
        s.remove = new QPushButton(QStringLiteral("Entfernen"), this);
        s.remove->setObjectName(QStringLiteral("cmd") + what + QStringLiteral("Entfernen") + prefix);
        s.remove->setAccessibleName(what + QStringLiteral(" der ") + sideName(side) + QStringLiteral(" entfernen"));
        connect(s.remove, &QPushButton::clicked, this, [this, kind] { removeFile(kind); });
        grid->addWidget(s.label, row, 0);
        grid->addWidget(choose, row, 1);
        if (picture) {
            s.show = new QPushButton(QStringLiteral("Zeigen"), this);
            s.show->setObjectName(QStringLiteral("cmdBildZeigen") + prefix);
            s.show->setAccessibleName(QStringLiteral("Bild der ") + sideName(side) + QStringLiteral(" zeigen"));
            connect(s.show, &QPushButton::clicked, this, &MediaEditor::showPicture);
            grid->addWidget(s.show, row, 2);
        } else if (m_play) {
            s.show = new QPushButton(QStringLiteral("Abspielen"), this);
            s.show->setObjectName(QStringLiteral("cmdTonAbspielen") + prefix);
            s.show->setAccessibleName(QStringLiteral("Ton der ") + sideName(side) + QStringLiteral(" abspielen"));
            connect(s.show, &QPushButton::clicked, this, &MediaEditor::playSound);
            grid->addWidget(s.show, row, 2);
        }
        grid->addWidget(s.remove, row, 3);
        ++row;
    }
    grid->setColumnStretch(0, 1);
    update();
}

void MediaEditor::update()
{
    for (MediaKind kind : {MediaKind::Picture, MediaKind::Sound}) {
        Slot &s = slot(kind);
        const QString what = kind == MediaKind::Picture ? QStringLiteral("Bild") : QStringLiteral("Ton");
        s.label->setText(s.present
                             ? what + QStringLiteral(": ") + s.name
                             : (kind == MediaKind::Picture ? QStringLiteral("Kein Bild") : QStringLiteral("Kein Ton")));
        s.remove->setEnabled(s.present);
        if (s.show)
            s.show->setEnabled(s.present);
    }
}

bool MediaEditor::takeFile(const QString &path)
{
    const QString name = QFileInfo(path).fileName();
    MediaKind kind;
    if (!mediaKindOfName(name, &kind)) {
        m_dialogs.message(this, QStringLiteral("„%1“ ist weder ein Bild (PNG, JPEG, GIF, WebP, SVG) noch ein Ton "
                                               "(WAV, MP3, OGG, Opus, FLAC, M4A).")
                                    .arg(name));
        return false;
    }
    const qint64 limit = kind == MediaKind::Picture ? kMaxPictureBytes : kMaxSoundBytes;
    QFile file(path);
    if (file.size() > limit) {
        m_dialogs.message(this, QStringLiteral("„%1“ ist größer als %2 MB.").arg(name).arg(limit / (1024 * 1024)));
        return false;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        m_dialogs.message(this, QStringLiteral("„%1“ lässt sich nicht lesen: %2").arg(name, file.errorString()));
        return false;
    }
    const QByteArray bytes = file.read(limit + 1);
    if (bytes.size() > limit || bytes.isEmpty()) {
        m_dialogs.message(this, QStringLiteral("„%1“ ist leer oder zu groß.").arg(name));
        return false;
    }
    if (kind == MediaKind::Picture && decodePicture(bytes, QSize(64, 64)).isNull()) {
        m_dialogs.message(this, QStringLiteral("„%1“ lässt sich nicht als Bild lesen.").arg(name));
        return false;
    }
    Slot &s = slot(kind);
    s.edited = true;
    s.present = true;
    s.name = name;
    s.bytes = bytes;
    update();
    return true;
}

void MediaEditor::removeFile(MediaKind kind)
{
    Slot &s = slot(kind);
    s.edited = true;
    s.present = false;
    s.name.clear();
    s.bytes.clear();
    update();
}

bool MediaEditor::hasMedia() const { return m_picture.present || m_sound.present; }

std::vector<MediaEdit> MediaEditor::edits() const
{
    std::vector<MediaEdit> edits;
    for (const Slot *s : {&m_picture, &m_sound}) {
        if (!s->edited || (!s->present && !s->stored))
            continue;
        const MediaKind kind = s == &m_picture ? MediaKind::Picture : MediaKind::Sound;
        edits.push_back({m_side, kind, !s->present, s->name, s->bytes});
    }
    return edits;
}

void MediaEditor::choose(MediaKind kind)
{
    const QString path = m_dialogs.openFileName(
        this, kind == MediaKind::Picture ? QStringLiteral("Bild wählen") : QStringLiteral("Ton wählen"),
        kind == MediaKind::Picture ? QStringLiteral("Bilder (*.png *.jpg *.jpeg *.gif *.webp *.svg)")
                                   : QStringLiteral("Töne (*.wav *.mp3 *.ogg *.opus *.flac *.m4a)"));
    if (!path.isEmpty())
        takeFile(path);
}

void MediaEditor::showPicture()
{
    QByteArray bytes = m_picture.bytes;
    if (bytes.isEmpty() && m_picture.stored)
        bytes = m_store.mediaBytes(m_picture.stored->id);
    const QImage image = decodePicture(bytes, QSize(800, 600));
    if (image.isNull()) {
        m_dialogs.message(this, QStringLiteral("Das Bild „%1“ lässt sich nicht zeigen.").arg(m_picture.name));
        return;
    }
    QDialog dialog(this);
    dialog.setObjectName(QStringLiteral("dlgBild"));
    dialog.setWindowTitle(m_picture.name);
    auto *shown = new QLabel(&dialog);
    shown->setPixmap(QPixmap::fromImage(image));
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, &dialog);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto *layout = new QVBoxLayout(&dialog);
    layout->addWidget(shown);
    layout->addWidget(buttons);
    m_dialogs.run(dialog);
}

void MediaEditor::playSound()
{
    QByteArray bytes = m_sound.bytes;
    if (bytes.isEmpty() && m_sound.stored)
        bytes = m_store.mediaBytes(m_sound.stored->id);
    if (!bytes.isEmpty())
        m_play(bytes, m_sound.name);
}

void MediaEditor::dragEnterEvent(QDragEnterEvent *event)
{
    const QMimeData *mime = event->mimeData();
    MediaKind kind;
    if (mime->hasUrls() && mime->urls().size() == 1 && mime->urls().front().isLocalFile()
        && mediaKindOfName(mime->urls().front().toLocalFile(), &kind))
        event->acceptProposedAction();
}

void MediaEditor::dropEvent(QDropEvent *event)
{
    if (takeFile(event->mimeData()->urls().front().toLocalFile()))
        event->acceptProposedAction();
}

} // namespace tarlivo::windows
