// The sound plugin: the only code that links Qt Multimedia, loaded on the first
// sound to play.
#include "media/output.h"

#include <QAudioOutput>
#include <QDir>
#include <QFileInfo>
#include <QMediaPlayer>
#include <QTemporaryFile>
#include <QUrl>

#include <memory>

namespace {

class MultimediaPlayer final : public tarlivo::media::SoundPlayer {
public:
    MultimediaPlayer()
    {
        m_player.setAudioOutput(&m_output);
        QObject::connect(&m_player, &QMediaPlayer::errorOccurred, &m_player, [this](QMediaPlayer::Error error) {
            if (error != QMediaPlayer::NoError && m_failed)
                m_failed(m_name);
        });
    }
    ~MultimediaPlayer() override { m_player.stop(); }

    void play(const QByteArray &bytes, const QString &fileName) override
    {
        stop();
        m_name = fileName;
        // Played from a file of its own: every backend reads files, not all read
        // from memory; the ending tells the format.
        const QString suffix = QFileInfo(fileName).suffix();
        auto file = std::make_unique<QTemporaryFile>(QDir::tempPath() + QStringLiteral("/tarlivo-XXXXXX.")
                                                     + (suffix.isEmpty() ? QStringLiteral("bin") : suffix));
        if (!file->open() || file->write(bytes) != bytes.size() || !file->flush()) {
            if (m_failed)
                m_failed(m_name);
            return;
        }
        m_file = std::move(file);
        m_player.setSource(QUrl::fromLocalFile(m_file->fileName()));
        m_player.play();
    }

    void stop() override
    {
        m_player.stop();
        m_player.setSource(QUrl());
        m_file.reset();
    }

    void onFailure(std::function<void(const QString &)> failed) override { m_failed = std::move(failed); }

private:
    QMediaPlayer m_player;
    QAudioOutput m_output;
    std::unique_ptr<QTemporaryFile> m_file;
    QString m_name;
    std::function<void(const QString &)> m_failed;
};

} // namespace

extern "C" Q_DECL_EXPORT tarlivo::media::SoundPlayer *tarlivo_make_sound_player() { return new MultimediaPlayer; }
