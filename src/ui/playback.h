#pragma once

#include "media/output.h"

#include <QObject>
#include <QSet>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class QWidget;

namespace tarlivo::store {
class Store;
}

namespace tarlivo::ui {

class Dialogs;

// A sound file of a card's side, as the data file holds it.
struct SideSound {
    QByteArray bytes;
    QString name;
};

// Where a card side's sound comes from: the card, and whether the answer is meant.
using SoundSource = std::function<std::optional<SideSound>(store::Store &store, qint32 cardId, bool answer)>;

// A side of a card as practice shows it: its text, the language its subject reads
// that side in (empty: none) and its own sound.
struct ShownSide {
    QString text;
    QString language;
    std::optional<SideSound> sound;
};

// What practice plays and reads: the sound player and the voice, each made on its
// first use (by default from its plugin), the two settings, and the messages, each
// told once a run, when something is missing.
class Playback : public QObject {
    Q_OBJECT
public:
    using PlayerMaker = std::function<std::unique_ptr<media::SoundPlayer>(QString *error)>;
    using VoiceMaker = std::function<std::unique_ptr<media::Voice>(QString *error)>;
    // Empty makers load the plugins.
    Playback(Dialogs &dialogs, PlayerMaker player = {}, VoiceMaker voice = {});
    ~Playback() override;

    // Plays a side's sound when it is shown; on by default.
    bool playsOnShow() const { return m_playOnShow; }
    // Reads a side aloud when it is shown and has no sound; off by default.
    bool readsOnShow() const { return m_readOnShow; }
    void setPlaysOnShow(bool on);
    void setReadsOnShow(bool on);
    // The settings as the data file keeps them; null: the defaults, kept nowhere.
    void useStore(store::Store *store);

    // A side came on display: what plays stops; its sound plays, or it is read aloud.
    void shown(const ShownSide &side, QWidget *parent);
    // Its sound again (key T); nothing for a side without one.
    void playSound(const ShownSide &side, QWidget *parent);
    // Reads the side aloud (key V); tells the user when its subject names no language.
    void readAloud(const ShownSide &side, QWidget *parent);
    // The card left the display.
    void stop();

    // "Vorlesen" in the menu bar: the practice window reads the side it shows.
    void requestReading() { emit readingRequested(); }

signals:
    void readingRequested();
    void settingsChanged();

private:
    bool play(const ShownSide &side, QWidget *parent);
    void say(const ShownSide &side, QWidget *parent);
    // Tells text once a run, keyed by what it is about.
    void tellOnce(const QString &key, const QString &text, QWidget *parent);
    media::SoundPlayer *player(QWidget *parent);
    media::Voice *voice(QWidget *parent);

    Dialogs &m_dialogs;
    PlayerMaker m_makePlayer;
    VoiceMaker m_makeVoice;
    std::unique_ptr<media::SoundPlayer> m_player;
    std::unique_ptr<media::Voice> m_voice;
    bool m_playerTried = false;
    bool m_voiceTried = false;
    bool m_playOnShow = true;
    bool m_readOnShow = false;
    store::Store *m_store = nullptr;
    QSet<QString> m_told;
};

} // namespace tarlivo::ui
