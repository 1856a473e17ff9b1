#include "ui/playback.h"

#include "media/plugins.h"
#include "store/store.h"
#include "ui/dialogs.h"
#include "ui/messages.h"

#include <QApplication>
#include <QLocale>
#include <QRegularExpression>

using namespace tarlivo::store;
using namespace tarlivo::legacy;

namespace tarlivo::ui {
namespace {

const QString kPlayOnShow = QStringLiteral("TonBeimZeigen");
const QString kReadOnShow = QStringLiteral("VorlesenBeimZeigen");

// The language part of a locale name: "en_GB" and "en-GB" read "en".
QString languageOf(const QString &name) { return name.section(QRegularExpression(QStringLiteral("[_-]")), 0, 0); }

// The voice for language: one of that very name, else one of the same language.
std::optional<QString> voiceFor(const QStringList &available, const QString &language)
{
    const QString wanted = QString(language).replace('-', '_');
    for (const QString &name : available)
        if (name.compare(wanted, Qt::CaseInsensitive) == 0)
            return name;
    for (const QString &name : available)
        if (languageOf(name).compare(languageOf(wanted), Qt::CaseInsensitive) == 0)
            return name;
    return std::nullopt;
}

} // namespace

Playback::Playback(Dialogs &dialogs, PlayerMaker player, VoiceMaker voice)
    : m_dialogs(dialogs), m_makePlayer(std::move(player)), m_makeVoice(std::move(voice))
{
    if (!m_makePlayer)
        m_makePlayer = [](QString *error) -> std::unique_ptr<media::SoundPlayer> {
            const TarlivoMakeSoundPlayer make = media::soundPlayerMaker(error);
            return std::unique_ptr<media::SoundPlayer>(make ? make() : nullptr);
        };
    if (!m_makeVoice)
        m_makeVoice = [](QString *error) -> std::unique_ptr<media::Voice> {
            const TarlivoMakeVoice make = media::voiceMaker(error);
            return std::unique_ptr<media::Voice>(make ? make() : nullptr);
        };
}

Playback::~Playback() = default;

void Playback::useStore(Store *store)
{
    m_store = store;
    m_playOnShow = true;
    m_readOnShow = false;
    if (m_store) {
        try {
            m_playOnShow = m_store->setting(kPlayOnShow, true);
            m_readOnShow = m_store->setting(kReadOnShow, false);
        } catch (const StoreError &) {
            // The defaults serve; the file's own trouble shows at its next use.
        }
    }
    emit settingsChanged();
}

void Playback::setPlaysOnShow(bool on)
{
    m_playOnShow = on;
    if (m_store) {
        try {
            m_store->setSetting(kPlayOnShow, on);
        } catch (const StoreError &error) {
            m_dialogs.message(QApplication::activeWindow(), text::storeError(error));
        }
    }
    emit settingsChanged();
}

void Playback::setReadsOnShow(bool on)
{
    m_readOnShow = on;
    if (m_store) {
        try {
            m_store->setSetting(kReadOnShow, on);
        } catch (const StoreError &error) {
            m_dialogs.message(QApplication::activeWindow(), text::storeError(error));
        }
    }
    emit settingsChanged();
}

void Playback::shown(const ShownSide &side, QWidget *parent)
{
    stop();
    if (m_playOnShow && play(side, parent))
        return;
    if (m_readOnShow && !side.sound && !side.language.isEmpty() && !side.text.trimmed().isEmpty())
        say(side, parent);
}

void Playback::playSound(const ShownSide &side, QWidget *parent)
{
    stop();
    play(side, parent);
}

void Playback::readAloud(const ShownSide &side, QWidget *parent)
{
    stop();
    if (side.text.trimmed().isEmpty())
        return;
    if (side.language.isEmpty()) {
        m_dialogs.message(parent, text::noReadingLanguage());
        return;
    }
    say(side, parent);
}

void Playback::stop()
{
    if (m_player)
        m_player->stop();
    if (m_voice)
        m_voice->stop();
}

bool Playback::play(const ShownSide &side, QWidget *parent)
{
    if (!side.sound)
        return false;
    if (media::SoundPlayer *p = player(parent))
        p->play(side.sound->bytes, side.sound->name);
    return true;
}

void Playback::say(const ShownSide &side, QWidget *parent)
{
    media::Voice *v = voice(parent);
    if (!v)
        return;
    if (!v->ready()) {
        tellOnce(QStringLiteral("Sprachausgabe"), text::noSpeechService(), parent);
        return;
    }
    const std::optional<QString> name = voiceFor(v->languages(), side.language);
    if (!name) {
        tellOnce(QStringLiteral("Stimme ") + languageOf(side.language),
                 text::noVoiceFor(QLocale(side.language).nativeLanguageName(), side.language), parent);
        return;
    }
    v->say(side.text, *name);
}

void Playback::tellOnce(const QString &key, const QString &text, QWidget *parent)
{
    if (m_told.contains(key))
        return;
    m_told.insert(key);
    m_dialogs.message(parent, text);
}

media::SoundPlayer *Playback::player(QWidget *parent)
{
    if (!m_playerTried) {
        m_playerTried = true;
        QString error;
        m_player = m_makePlayer(&error);
        if (m_player) {
            // Told later, from the event loop, over whatever window is in front then.
            m_player->onFailure([this](const QString &name) {
                tellOnce(QStringLiteral("Ton ") + name, text::soundUnplayable(name), QApplication::activeWindow());
            });
        }
    }
    if (!m_player)
        tellOnce(QStringLiteral("Tonausgabe"), text::noSoundOutput(), parent);
    return m_player.get();
}

media::Voice *Playback::voice(QWidget *parent)
{
    if (!m_voiceTried) {
        m_voiceTried = true;
        QString error;
        m_voice = m_makeVoice(&error);
    }
    if (!m_voice)
        tellOnce(QStringLiteral("Sprachausgabe"), text::noSpeechService(), parent);
    return m_voice.get();
}

} // namespace tarlivo::ui
