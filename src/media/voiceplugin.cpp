// The voice plugin: the only code that links Qt TextToSpeech, loaded on the first
// reading aloud.
#include "media/output.h"

#include <QCoreApplication>
#include <QLocale>
#include <QTextToSpeech>
#include <QThread>

#include <memory>

namespace {

// How long the speech service may take to answer before reading counts as unavailable.
constexpr unsigned long kStartWaitMs = 3000;

class SpeechVoice final : public tarlivo::media::Voice {
public:
    SpeechVoice()
    {
        if (!QTextToSpeech::availableEngines().contains(QStringLiteral("speechd")))
            return;
        // The engine connects to the speech service in its constructor, which can
        // wait long for a service that hangs: it is made in a thread of its own and
        // given up after a fixed time (the thread then ends on its own, unused).
        auto made = std::make_shared<QTextToSpeech *>(nullptr);
        QThread *main = QThread::currentThread();
        QThread *thread = QThread::create([made, main] {
            auto *speech = new QTextToSpeech(QStringLiteral("speechd"));
            speech->moveToThread(main);
            *made = speech;
        });
        QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
        thread->start();
        if (!thread->wait(kStartWaitMs))
            return;
        m_speech.reset(*made);
        if (m_speech->state() == QTextToSpeech::Error)
            m_speech.reset();
    }

    bool ready() const override { return m_speech != nullptr; }

    QStringList languages() const override
    {
        QStringList names;
        if (m_speech)
            for (const QLocale &locale : m_speech->availableLocales())
                names << locale.name();
        return names;
    }

    void say(const QString &text, const QString &language) override
    {
        if (!m_speech)
            return;
        m_speech->stop();
        m_speech->setLocale(QLocale(language));
        m_speech->say(text);
    }

    void stop() override
    {
        if (m_speech)
            m_speech->stop();
    }

private:
    std::unique_ptr<QTextToSpeech> m_speech;
};

} // namespace

extern "C" Q_DECL_EXPORT tarlivo::media::Voice *tarlivo_make_voice() { return new SpeechVoice; }
