#include "app/frmbackground.h"
#include "media/plugins.h"
#include "plan/planwindow.h"
#include "practice.h"

#include <QAction>
#include <QComboBox>
#include <QLineEdit>

using namespace tarlivo;
using namespace tarlivo::store;
using namespace tarlivo::ui;
using namespace tarlivo::windows;
using namespace tarlivo::app;

namespace {

// What the fake outputs did, in order: "play F0.wav", "stop F0.wav", "say de_DE F1".
// A stop is noted only when something was playing or being read.
struct OutputLog {
    QStringList events;
    QString playing;
    QString reading;
};

class FakePlayer final : public media::SoundPlayer {
public:
    explicit FakePlayer(std::shared_ptr<OutputLog> log) : m_log(std::move(log)) {}
    void play(const QByteArray &bytes, const QString &fileName) override
    {
        stop();
        // A damaged file fails, as the real player reports it.
        if (bytes == "kaputt") {
            m_failed(fileName);
            return;
        }
        m_log->events << "play " + fileName;
        m_log->playing = fileName;
    }
    void stop() override
    {
        if (!m_log->playing.isEmpty())
            m_log->events << "stop " + m_log->playing;
        m_log->playing.clear();
    }
    void onFailure(std::function<void(const QString &)> failed) override { m_failed = std::move(failed); }

private:
    std::shared_ptr<OutputLog> m_log;
    std::function<void(const QString &)> m_failed;
};

class FakeVoice final : public media::Voice {
public:
    FakeVoice(std::shared_ptr<OutputLog> log, QStringList languages) : m_log(std::move(log)), m_languages(languages) {}
    bool ready() const override { return m_languages != QStringList{"down"}; }
    QStringList languages() const override { return ready() ? m_languages : QStringList(); }
    void say(const QString &text, const QString &language) override
    {
        stop();
        m_log->events << "say " + language + " " + text;
        m_log->reading = text;
    }
    void stop() override
    {
        if (!m_log->reading.isEmpty())
            m_log->events << "stop reading";
        m_log->reading.clear();
    }

private:
    std::shared_ptr<OutputLog> m_log;
    QStringList m_languages;
};

// A run whose outputs are the fakes: voice "none" is a missing plugin, "down" a
// speech service that does not answer, else the voices' languages. The first card,
// F0/A0, has a sound on both sides, the second none, the third a damaged one.
struct SoundApp {
    std::shared_ptr<OutputLog> log = std::make_shared<OutputLog>();
    TestApp app;

    explicit SoundApp(const QString &voice = "none")
    {
        Forms::Setup setup{app.dbPath(), noBackups(), {}, TestApp::readerPath()};
        setup.soundPlayer = [this](QString *) { return std::make_unique<FakePlayer>(log); };
        setup.voice = [this, voice](QString *) -> std::unique_ptr<media::Voice> {
            if (voice == "none")
                return nullptr;
            return std::make_unique<FakeVoice>(log, voice.split(','));
        };
        setup.sideSound = [](Store &store, qint32 card, bool answer) -> std::optional<SideSound> {
            const QString question = store.cardText(card)->question;
            if (question == "F0")
                return SideSound{"RIFF", (answer ? "A0" : "F0") + QStringLiteral(".wav")};
            if (question == "F2" && !answer)
                return SideSound{"kaputt", "F2.ogg"};
            return std::nullopt;
        };
        app.forms = std::make_unique<Forms>(app.dialogs, setup);
    }
    QAction *action(const char *name) { return app.forms->window<FrmBackground>().findChild<QAction *>(name); }
};

} // namespace

class TestSound : public QObject {
    Q_OBJECT

private slots:
    void keysAndSettings_data()
    {
        QTest::addColumn<QString>("steps");     // keys pressed while practising
        QTest::addColumn<bool>("playOnShow");   // "Ton beim Zeigen abspielen"
        QTest::addColumn<bool>("readOnShow");   // "Beim Zeigen vorlesen"
        QTest::addColumn<QString>("languages"); // the subject's, question|answer
        QTest::addColumn<QString>("voice");
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<int>("messages");
        QTest::addColumn<QString>("question"); // shown at the end: practice went on

        const QString voices = "de_DE,en_GB";
        QTest::newRow("a side's sound plays when shown and stops with the next card")
            << "3" << true << false << "|" << voices << QStringList{"play F0.wav", "stop F0.wav"} << 0 << "F1";
        QTest::newRow("the answer's sound when it is revealed, stopped when hidden")
            << "space space" << true << false << "|" << voices
            << QStringList{"play F0.wav", "stop F0.wav", "play A0.wav", "stop A0.wav"} << 0 << "F0";
        QTest::newRow("setting off: silent until T")
            << "T" << false << false << "|" << voices << QStringList{"play F0.wav"} << 0 << "F0";
        QTest::newRow("T typed into the compartment field plays nothing")
            << "field:T" << false << false << "|" << voices << QStringList{} << 0 << "F0";
        QTest::newRow("T on a card without sound")
            << "3 T" << false << false << "|" << voices << QStringList{} << 0 << "F1";
        QTest::newRow("read when shown: only the sides without a sound")
            << "3" << true << true << "de|en" << voices << QStringList{"play F0.wav", "stop F0.wav", "say de_DE F1"}
            << 0 << "F1";
        QTest::newRow("V reads the answer in the answers' language")
            << "space V" << false << false << "de|en" << voices << QStringList{"say en_GB A0"} << 0 << "F0";
        QTest::newRow("V from the menu bar")
            << "menu:V" << false << false << "de|" << voices << QStringList{"say de_DE F0"} << 0 << "F0";
        QTest::newRow("the voice stops with the card")
            << "V 3" << false << false << "de|" << voices << QStringList{"say de_DE F0", "stop reading"} << 0 << "F1";
        QTest::newRow("V without a language says where to set one")
            << "V" << false << false << "|en" << voices << QStringList{} << 1 << "F0";
        QTest::newRow("no voice for the language: told once, practice goes on")
            << "V V 3 V" << false << false << "fr|" << voices << QStringList{} << 1 << "F1";
        QTest::newRow("no speech service: told once") << "V 3 V" << false << true << "de|"
                                                      << "down" << QStringList{} << 1 << "F1";
        QTest::newRow("no voice plugin: told once") << "V 3 V" << false << false << "de|"
                                                    << "none" << QStringList{} << 1 << "F1";
        QTest::newRow("a damaged sound: told once, never played")
            << "3 3 T T" << true << false << "|" << voices << QStringList{"play F0.wav", "stop F0.wav"} << 1 << "F2";
    }

    void keysAndSettings()
    {
        QFETCH(QString, steps);
        QFETCH(bool, playOnShow);
        QFETCH(bool, readOnShow);
        QFETCH(QString, languages);
        QFETCH(QString, voice);
        QFETCH(QStringList, events);
        QFETCH(int, messages);
        QFETCH(QString, question);

        SoundApp run(voice);
        {
            Seeder seed = run.app.seeder();
            const qint32 subject = seed.subject("Vokabeln", 3);
            seed.store->setSubjectLanguages(subject, {languages.section('|', 0, 0), languages.section('|', 1)});
            seed.store->setSetting("TonBeimZeigen", playOnShow);
            seed.store->setSetting("VorlesenBeimZeigen", readOnShow);
        }
        FrmUeb &ueb = run.app.startPractice("Vokabeln");
        ueb.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&ueb));
        const QMap<QString, Qt::Key> keys{
            {"space", Qt::Key_Space}, {"T", Qt::Key_T}, {"V", Qt::Key_V}, {"3", Qt::Key_3}};
        for (const QString &step : steps.split(' ')) {
            if (step == "field:T")
                QTest::keyClick(combo(ueb, "cmbFach")->lineEdit(), Qt::Key_T);
            else if (step == "menu:V")
                run.action("actVorlesen")->trigger();
            else
                QTest::keyClick(&ueb, keys.value(step));
        }
        QCOMPARE(run.log->events, events);
        QCOMPARE(run.app.dialogs.messages.size(), messages);
        QCOMPARE(label(ueb, "lblFrage")->text(), question);
    }

    void damagedSoundThroughThePlugin_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("name");
        QByteArray noise(4096, '\0');
        for (int i = 0; i < noise.size(); ++i)
            noise[i] = char((i * 7919 + 13) % 251);
        QTest::newRow("noise called MP3") << noise << "laut.mp3";
        QTest::newRow("WAV cut inside its header") << QByteArray("RIFF\x24\x10\0\0WAVEfmt ", 16) << "kurz.wav";
        QTest::newRow("empty OGG") << QByteArray() << "leer.ogg";
    }

    // The real player: told, within seconds, and still able to play the next one.
    void damagedSoundThroughThePlugin()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, name);
        QString error;
        const TarlivoMakeSoundPlayer make = media::soundPlayerMaker(&error, {QStringLiteral(TARLIVO_PLUGIN_DIR)});
        QVERIFY2(make, qPrintable(error));
        std::unique_ptr<media::SoundPlayer> player(make());
        QStringList failed;
        player->onFailure([&failed](const QString &file) { failed << file; });
        player->play(bytes, name);
        QTRY_VERIFY_WITH_TIMEOUT(!failed.isEmpty(), 10000);
        QCOMPARE(failed.first(), name);
        player->stop();
        failed.clear();
        player->play(bytes, name);
        QTRY_VERIFY_WITH_TIMEOUT(!failed.isEmpty(), 10000);
    }

    void settingsSurviveReopening_data()
    {
        QTest::addColumn<QString>("control"); // what the user changes
        QTest::addColumn<QString>("choice");
        QTest::newRow("questions' language") << "cmbSpracheFrage"
                                             << "Französisch";
        QTest::newRow("answers' language") << "cmbSpracheAntwort"
                                           << "Latein";
        QTest::newRow("sound when shown, off") << "actTonBeimZeigen"
                                               << "false";
        QTest::newRow("reading when shown, on") << "actVorlesenBeimZeigen"
                                                << "true";
    }

    // Through the plan window and the menu bar, read back by a run over the same file.
    void settingsSurviveReopening()
    {
        QFETCH(QString, control);
        QFETCH(QString, choice);
        SoundApp first;
        const qint32 subject = first.app.seeder().subject("Vokabeln", 1);
        const auto shown = [&](SoundApp &run) {
            run.app.forms->start();
            // As the backdrop does once it is on screen.
            run.app.forms->session().openQuietly();
            if (control.startsWith("act"))
                return QVariant(run.action(qPrintable(control))->isChecked()).toString();
            run.app.forms->tools().openPlan();
            PlanWindow *plan = run.app.forms->tools().find<PlanWindow>();
            plan->showSubject(subject);
            return plan->findChild<QComboBox *>(control)->currentText();
        };
        QVERIFY(shown(first) != choice);
        if (control.startsWith("act")) {
            first.action(qPrintable(control))->trigger();
        } else {
            auto *box = first.app.forms->tools().find<PlanWindow>()->findChild<QComboBox *>(control);
            box->setCurrentIndex(box->findText(choice));
            emit box->activated(box->currentIndex());
        }
        QCOMPARE(shown(first), choice);

        SoundApp second;
        second.app.forms = std::make_unique<Forms>(
            second.app.dialogs, Forms::Setup{first.app.dbPath(), noBackups(), {}, TestApp::readerPath()});
        QCOMPARE(shown(second), choice);
    }
};

QTEST_MAIN(TestSound)
#include "test_sound.moc"
