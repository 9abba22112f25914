// The application's life: one instance per state folder, termination signals,
// and a batch that outlives a quit.
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QThreadPool>
#include <QTimer>

#include <csignal>

#include "app/gui/app_shell.h"
#include "app/gui/single_instance.h"
#include "app/gui/termination_signals.h"
#include "library/memo_library.h"
#include "support/engine_fixture.h"
#include "support/fake_llm_server.h"

using namespace testing_support;

namespace {

TEST(SingleInstance, ASecondLaunchWakesTheFirstAnotherHomeIsAnotherAndACommandHoldingTheStateRefusesAWindow) {
    TempHome home;
    const QString dir = home.file("support");
    SingleInstance first(dir);
    ASSERT_EQ(first.claim(), SingleInstance::Claim::owner);
    QSignalSpy woken(&first, &SingleInstance::activationRequested);
    SingleInstance second(dir);
    EXPECT_EQ(second.claim(), SingleInstance::Claim::handedOver);
    EXPECT_TRUE(spinUntil([&] { return woken.size() == 1; }, 5000));

    SingleInstance elsewhere(home.file("autre"));
    EXPECT_EQ(elsewhere.claim(), SingleInstance::Claim::owner);
    EXPECT_NE(SingleInstance::serverName(dir), SingleInstance::serverName(home.file("autre")));
    EXPECT_EQ(SingleInstance::serverName(dir), SingleInstance::serverName(dir + "/"));

    // A window does not open while a command holds the state.
    const QString bin = home.file("bin");
    QDir().mkpath(bin);
    QFile::link(buildPath("fake-whisper-cli"), bin + "/whisper-cli");
    writeFile(home.file(".hestia/ggml-base.bin"), "model");
    ASSERT_EQ(runCli({"settings", "modelPath", home.file(".hestia/ggml-base.bin")}).code, 0);
    ASSERT_EQ(runCli({"settings", "correctionEnabled", "false"}).code, 0);
    makeAudio(home.file("memos/a.m4a"), 1.2);
    QProcess run;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("PATH", bin + ":" + env.value("PATH"));
    env.insert("FAKE_WHISPER_HANG", "1");
    run.setProcessEnvironment(env);
    run.start(buildPath("parlivo-cli"), {"run", home.file("memos")});
    ASSERT_TRUE(spinUntil([&] { return QFileInfo::exists(home.supportDir() + "/instance.lock"); }, 20000));

    SingleInstance window(home.supportDir());
    EXPECT_EQ(window.claim(), SingleInstance::Claim::refused);
    EXPECT_EQ(window.refusal(), QStringLiteral("Le dossier d'état « %1 » est déjà utilisé par parlivo-cli (processus "
                                               "%2). Attends la fin de son travail ou ferme-le, puis réessaie.")
                                    .arg(home.supportDir())
                                    .arg(run.processId()));
    run.kill();
    run.waitForFinished();
    // The command is gone: the window takes over its lock.
    SingleInstance later(home.supportDir());
    EXPECT_EQ(later.claim(), SingleInstance::Claim::owner);
}

TEST(TerminationSignals, ASignalReachesTheEventLoopInsteadOfKillingTheProcess) {
    TerminationSignals bridge;
    QSignalSpy requested(&bridge, &TerminationSignals::terminationRequested);
    std::raise(SIGTERM);
    ASSERT_TRUE(spinUntil([&] { return requested.size() == 1; }, 5000));
    EXPECT_EQ(requested.first().first().toInt(), SIGTERM);
    std::raise(SIGINT);
    ASSERT_TRUE(spinUntil([&] { return requested.size() == 2; }, 5000));
    EXPECT_EQ(requested.last().first().toInt(), SIGINT);
}

class LifeCycle : public EngineFixture {};

TEST_F(LifeCycle, ABatchInterruptedByQuittingResumesAtTheNextLaunch) {
    for (int i = 1; i <= 3; ++i) makeAudio(src + QStringLiteral("/m%1.m4a").arg(i), 1.5);
    engine->setSourceFolder(QUrl::fromLocalFile(src));
    FakeLlmServer server;
    updateSettings([&](ParlivoSettings &s) { s.ollamaEndpoint = server.endpoint(); });
    {
        ScopedEnv slow{{"FAKE_WHISPER_DELAY", "3"}};
        engine->start();
        ASSERT_TRUE(engine->isRunning());
        engine->saveNow(); // what quitting does
        engine.reset();    // the children go with it
    }
    AppShell shell(tools());
    EXPECT_FALSE(shell.engine().isRunning());
    shell.start();
    EXPECT_TRUE(shell.engine().isRunning());
    EXPECT_TRUE(shell.engine().logLines().last().endsWith("Reprise automatique du lot après redémarrage."));
    // The local server is watched from the start.
    EXPECT_TRUE(spinUntil([&] { return server.count(FakeLlmServer::tagsPath) > 0; }));
    ASSERT_TRUE(runTask(shell.engine().waitForRun(), 60000));
    EXPECT_EQ(shell.engine().doneCount(), 3);
}

TEST_F(LifeCycle, AMemoWrittenWhileTheIndexIsRebuiltKeepsItsTimesWhenTheWindowQuits) {
    makeAudio(src + "/m1.m4a", 1.5);
    engine->setSourceFolder(QUrl::fromLocalFile(src));
    engine->saveNow();
    engine.reset();
    ScopedEnv segments{{"FAKE_WHISPER_SEGMENTS", R"([{"text": "Bonjour à tous.", "from": 0, "to": 1200},
                                                      {"text": "On commence.", "from": 1200, "to": 1500}])"}};
    QString transcript;
    std::optional<AppShell> shell(std::in_place, tools());
    // The first transcript opens the index, which is new: it is rebuilt from
    // the files while this memo waits. Quitting then, before the rebuild is
    // back, is what must not lose the memo's times: as at a real quit, the
    // shell goes right after shutDown, with no event handled in between.
    QObject::connect(&shell->engine(), &Transcriber::entryChanged, [&](const QUuid &id) {
        const AudioFile *file = shell->engine().entry(id);
        if (!file || file->status != FileStatus::done || !file->outputPath || !transcript.isEmpty()) return;
        transcript = *file->outputPath;
        QTimer::singleShot(0, qApp, [&] {
            shell->shutDown();
            shell.reset();
        });
    });
    shell->engine().start();
    ASSERT_TRUE(spinUntil([&] { return !shell.has_value(); }));
    QThreadPool::globalInstance()->waitForDone();
    ASSERT_FALSE(transcript.isEmpty());
    MemoLibrary index(home.supportDir());
    const auto memo = index.memo(transcript);
    ASSERT_TRUE(memo.has_value()) << transcript.toStdString();
    ASSERT_EQ(memo->segments.size(), 2);
    EXPECT_EQ(memo->segments[0].text.trimmed(), "Bonjour à tous.");
    EXPECT_DOUBLE_EQ(memo->segments[1].start, 1.2);
    EXPECT_DOUBLE_EQ(memo->segments[1].end, 1.5);
}

} // namespace
