#pragma once

#include "store/media.h"

#include <QWidget>

#include <functional>
#include <optional>
#include <vector>

class QLabel;
class QPushButton;

namespace tarlivo::store {
class Store;
}

namespace tarlivo::ui {
class Dialogs;
} // namespace tarlivo::ui

namespace tarlivo::windows {
// One side's picture and sound in the card list's edit dialog: added or replaced
// from a file chooser or by dropping a file onto it, shown, removed. Nothing is
// written until the dialog is accepted; edits() then says what changed.
class MediaEditor : public QWidget {
    Q_OBJECT
public:
    // play: how a sound is heard (the practice player); none: the sound row has no "Abspielen".
    using Play = std::function<void(const QByteArray &bytes, const QString &name)>;
    MediaEditor(store::Store &store, ui::Dialogs &dialogs, qint32 cardId, store::CardSide side, Play play = {},
                QWidget *parent = nullptr);

    // Takes the file as the side's picture or sound, by its name; false after telling
    // the user why not (no known kind, unreadable, too large, no picture).
    bool takeFile(const QString &path);
    void removeFile(store::MediaKind kind);
    // Whether the side holds a picture or a sound after the edits.
    bool hasMedia() const;
    std::vector<store::MediaEdit> edits() const;

protected:
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    struct Slot {
        std::optional<store::MediaFile> stored; // as the card holds it
        bool edited = false;
        bool present = false;
        QString name;
        QByteArray bytes; // a new file's, or the stored one's once read
        QLabel *label = nullptr;
        QPushButton *remove = nullptr;
        QPushButton *show = nullptr;
    };
    Slot &slot(store::MediaKind kind) { return kind == store::MediaKind::Picture ? m_picture : m_sound; }
    void choose(store::MediaKind kind);
    void showPicture();
    void playSound();
    void update();

    store::Store &m_store;
    ui::Dialogs &m_dialogs;
    store::CardSide m_side;
    Play m_play;
    Slot m_picture;
    Slot m_sound;
};

} // namespace tarlivo::windows
