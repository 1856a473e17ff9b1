#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>

namespace tarlivo::media {

// Plays one sound at a time. Implemented by the sound plugin (Qt Multimedia), which
// the program loads only when the first sound is to play, so that a start costs
// nothing of it.
class SoundPlayer {
public:
    virtual ~SoundPlayer() = default;
    // Stops what plays and plays bytes, a whole sound file; fileName tells its
    // format by its ending. A file that cannot be played calls the handler set
    // below, later, from the event loop, and stays silent.
    virtual void play(const QByteArray &bytes, const QString &fileName) = 0;
    virtual void stop() = 0;
    // Told the file name of a sound that could not be played.
    virtual void onFailure(std::function<void(const QString &fileName)> failed) = 0;
};

// Reads text aloud through the desktop's speech service. Implemented by the voice
// plugin (Qt TextToSpeech), loaded on the first reading.
class Voice {
public:
    virtual ~Voice() = default;
    // Whether a speech service answered when the voice was made (it waits a short,
    // fixed time for it, never longer).
    virtual bool ready() const = 0;
    // The languages there is a voice for, as locale names ("de_DE", "en_GB").
    virtual QStringList languages() const = 0;
    // Stops what is read and reads text in language (a locale name, "fr" or "fr_FR").
    virtual void say(const QString &text, const QString &language) = 0;
    virtual void stop() = 0;
};

} // namespace tarlivo::media

// What each plugin library exports: a function making its object, owned by the caller.
extern "C" {
using TarlivoMakeSoundPlayer = tarlivo::media::SoundPlayer *(*)();
using TarlivoMakeVoice = tarlivo::media::Voice *(*)();
}
