// The real whisper-cli (the one scripts/setup builds, or the machine's own)
// with a random-weight model: real progress lines, real JSON with whatever
// bytes the model emits, real threads, a real time limit and a real cancel.
// Then two real whisper-server instances on 127.0.0.1 beside it: a batch
// spread over the three, one server killed in the middle, every server down.
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QTcpServer>
#include <QTcpSocket>

#include "core/atomic_file.h"
#include "pipeline/pipeline_rules.h"
#include "remote/server_check.h"
#include "support/engine_fixture.h"
#include "fakes/tiny_whisper_model.h"

using namespace testing_support;

namespace {

bool validUtf8(const QByteArray &bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    (void)decoder.decode(bytes);
    return !decoder.hasError();
}

// Noise keeps the random model busy with fallbacks: about half a second of
// work per second of audio here, so a long file is a recognition under way.
class RealRecogniser : public EngineFixture {
protected:
    // The recogniser Parlivo itself would run from the build folder.
    std::optional<QString> whisper = Tools::resolve().whisper;
    QString tinyModel = home.file(".hestia/ggml-tiny-random.bin");
    // The recogniser's threads spin while they wait for each other; on a
    // machine busy with other tests that turns seconds into minutes.
    ScopedEnv passiveThreads{"OMP_WAIT_POLICY", "PASSIVE"};

    Tools tools() const override {
        Tools t = EngineFixture::tools();
        t.whisper = whisper;
        return t;
    }
    void SetUp() override {
        if (!whisper)
            GTEST_SKIP() << "whisper-cli introuvable : scripts/setup le construit (build/libexec/parlivo).";
        ASSERT_TRUE(writeTinyWhisperModel(tinyModel));
        EngineFixture::SetUp();
        updateSettings([&](ParlivoSettings &s) { s.modelPath = tinyModel; });
    }
    QString transcriptOf(const QString &name) const { return src + "/" + QFileInfo(name).completeBaseName() + ".txt"; }
    int recognisersRunning() const { return int(processesMentioning(tinyModel).size()); }
};

TEST_F(RealRecogniser, TwoFilesSideBySideAndOneWithEveryThread) {
    makeNoise(src + "/bruit.m4a", 8);
    makeAudio(src + "/son.mp3", 3);
    makeNoise(src + "/seul.wav", 5);
    QList<double> progress;
    int mostRunning = 0;
    QObject::connect(engine.get(), &Transcriber::entryChanged, [&](const QUuid &id) {
        if (const AudioFile *f = engine->entry(id); f && f->status == FileStatus::running) progress << f->progress;
        mostRunning = std::max(mostRunning, engine->runningCount());
    });
    updateSettings([](ParlivoSettings &s) { s.parallelism = 2; });
    chooseSource();
    engine->transcribeSelection({entryNamed("bruit.m4a").id, entryNamed("son.mp3").id});
    ASSERT_TRUE(runTask(engine->waitForRun(), 120000));
    if (engine->maxParallelism() >= 2) {
        EXPECT_EQ(mostRunning, 2);
    }

    // Alone, the file gets every core as recogniser threads.
    updateSettings([](ParlivoSettings &s) { s.parallelism = 1; });
    EXPECT_EQ(engine->threadsPerJob(), engine->maxParallelism());
    ASSERT_TRUE(runQueue(120000));

    // The real progress lines run past 100 % near the end; the entry's never does.
    ASSERT_FALSE(progress.isEmpty());
    EXPECT_LE(*std::max_element(progress.begin(), progress.end()), 1.0);
    for (const char *name : {"bruit.m4a", "son.mp3", "seul.wav"}) {
        const AudioFile &file = entryNamed(name);
        // Noise may come out as words or as nothing: both are outcomes, never an error.
        EXPECT_TRUE(file.status == FileStatus::done || file.status == FileStatus::empty)
            << name << ": " << file.errorMessage.value_or(QString()).toStdString();
        if (file.status == FileStatus::done) {
            const auto text = readWholeFile(transcriptOf(name));
            ASSERT_TRUE(text) << name;
            EXPECT_TRUE(validUtf8(*text)) << name; // the model emits broken bytes; the file never has them
            EXPECT_TRUE(text->contains("Source : " + QByteArray(name)));
        }
    }
    EXPECT_EQ(entryNamed("bruit.m4a").status, FileStatus::done); // 8 s of noise always gives words
    EXPECT_TRUE(scratchFiles().isEmpty());
}

TEST_F(RealRecogniser, ProgressThenCancelOrTheTimeLimitStopARealRecognition) {
    makeNoise(src + "/long.m4a", 120);
    chooseSource();
    const QUuid id = entryNamed("long.m4a").id;
    engine->start();
    ASSERT_TRUE(spinUntil([&] { return recognisersRunning() == 1; }, 30000));
    // The first 30 s window done, the recogniser says how far it is.
    ASSERT_TRUE(spinUntil([&] { return engine->entry(id)->progress > 0; }, 90000));
    EXPECT_LT(engine->entry(id)->progress, 1.0);
    QElapsedTimer clock;
    clock.start();
    engine->cancel();
    ASSERT_TRUE(runTask(engine->waitForRun(), 10000));
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_EQ(entryNamed("long.m4a").status, FileStatus::pending);
    EXPECT_EQ(recognisersRunning(), 0);
    EXPECT_TRUE(scratchFiles().isEmpty());

    limitRecognitionTo(2);
    clock.restart();
    ASSERT_TRUE(runQueue(60000));
    EXPECT_LT(clock.elapsed(), 20000);
    EXPECT_EQ(entryNamed("long.m4a").status, FileStatus::error);
    EXPECT_EQ(entryNamed("long.m4a").errorMessage, "Transcription interrompue (délai dépassé).");
    EXPECT_EQ(recognisersRunning(), 0);
    EXPECT_TRUE(scratchFiles().isEmpty());
}

TEST_F(RealRecogniser, TheCommandLineFindsTheRecogniserBesideIt) {
    makeNoise(src + "/a.m4a", 8); // always gives words
    makeNoise(src + "/b.m4a", 4);
    // No PATH help and no override: parlivo-cli finds the recogniser the way
    // an installed Parlivo does.
    QStringList env{"PARLIVO_WHISPER_CLI"};
    if (!whisper->contains("/libexec/parlivo/")) env = QStringList{"PARLIVO_WHISPER_CLI=" + *whisper};
    // The test's own engine saves now, not over what the commands below set.
    engine->saveNow();
    ASSERT_EQ(runCli({"settings", "modelPath", tinyModel}).code, 0);
    ASSERT_EQ(runCli({"settings", "correctionEnabled", "false"}).code, 0);
    ASSERT_EQ(runCli({"settings", "organizeEnabled", "false"}).code, 0);
    ASSERT_EQ(runCli({"settings", "subtitleFormat", "both"}).code, 0);
    const CliResult run = runCli({"run", src}, env, 120000);
    EXPECT_EQ(run.code, 0) << run.err.toStdString();
    EXPECT_TRUE(QFile::exists(transcriptOf("a.m4a"))) << run.err.toStdString();
    // Whatever bytes and times the model gave, a subtitle reader finds every
    // cue of both files, at the times Parlivo wrote.
    const auto srt = readWholeFile(src + "/a.srt");
    ASSERT_TRUE(srt && srt->contains(" --> ")) << run.err.toStdString();
    EXPECT_TRUE(validUtf8(*srt));
    EXPECT_TRUE(validUtf8(*readWholeFile(src + "/a.vtt")));
    const auto timings = [](const QString &text) {
        static const QRegularExpression timing("^\\d+:\\d\\d:\\d\\d,\\d\\d\\d --> ");
        return text.split('\n').filter(timing);
    };
    const auto readSrt = ffmpegSubtitles(src + "/a.srt");
    const auto readVtt = ffmpegSubtitles(src + "/a.vtt");
    ASSERT_TRUE(readSrt && readVtt);
    EXPECT_EQ(timings(*readSrt), timings(QString::fromUtf8(*srt)));
    EXPECT_EQ(timings(*readVtt), timings(QString::fromUtf8(*srt)));
    EXPECT_TRUE(run.err.contains("Lot terminé : ")) << run.err.toStdString();
}

// ---------------------------------------------------------------- real servers

// One whisper-server on a free port, stopped with the test.
class ServerProcess {
public:
    ServerProcess(const QString &program, const QString &model) {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost);
        m_port = probe.serverPort();
        probe.close();
        m_process.setStandardErrorFile(QProcess::nullDevice());
        m_process.setStandardOutputFile(QProcess::nullDevice());
        m_process.start(program, {"-m", model, "--host", "127.0.0.1", "--port", QString::number(m_port), "-t", "1"});
    }
    ~ServerProcess() { kill(); }
    // Its output to a pipe is held in a buffer: a connection says it listens.
    bool ready() {
        return spinUntil(
            [this] {
                QTcpSocket socket;
                socket.connectToHost(QHostAddress::LocalHost, m_port);
                return socket.waitForConnected(200);
            },
            30000);
    }
    void kill() {
        if (m_process.state() == QProcess::NotRunning) return;
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    QString address() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_port); }
    QString machine() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }

private:
    QProcess m_process;
    quint16 m_port = 0;
};

// Noise keeps the random model busy: seconds of work per file.
class RealRecogniserServers : public RealRecogniser {
protected:
    QString serverProgram;
    QStringList names{"a.wav", "b.wav", "c.wav", "d.wav", "e.wav", "f.wav"};
    // Every time a file was taken, as shown: its name and the machine that took it.
    QStringList claims;
    QStringList inHand;

    void SetUp() override {
        RealRecogniser::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        serverProgram = QFileInfo(*whisper).absolutePath() + "/whisper-server";
        if (!QFileInfo(serverProgram).isExecutable())
            GTEST_SKIP() << "whisper-server introuvable : scripts/setup le construit (build/libexec/parlivo).";
        for (const QString &name : names) makeNoise(src + "/" + name, 4);
        QObject::connect(engine.get(), &Transcriber::runStateChanged, [this] {
            for (const QString &label : engine->currentFileNames())
                if (!inHand.contains(label)) claims << label;
            inHand = engine->currentFileNames();
        });
    }
    void useServers(const QStringList &addresses, int local) {
        updateSettings([&](ParlivoSettings &s) {
            s.parallelism = local;
            s.recognitionServers.clear();
            for (const QString &address : addresses) s.recognitionServers.append({address, {}});
        });
        chooseSource();
    }
    int claimsOn(const QString &machine) const { return int(claims.filter("(sur " + machine + ")").size()); }
    int claimsOf(const QString &name) const { return int(claims.filter(QRegularExpression("^" + QRegularExpression::escape(name) + "( |$)")).size()); }
    // Each file finished once, with one transcript and no second one beside it.
    void expectEachFileDoneOnce() {
        for (const QString &name : names) {
            const AudioFile &file = entryNamed(name);
            EXPECT_TRUE(file.status == FileStatus::done || file.status == FileStatus::empty)
                << name.toStdString() << ": " << file.errorMessage.value_or(QString()).toStdString();
            EXPECT_EQ(engine->ledger().at(file.path()).attempts.value_or(0), 0) << name.toStdString();
        }
        const QStringList transcripts = QDir(src).entryList({"*.txt"});
        EXPECT_EQ(transcripts.size(), engine->doneCount()) << transcripts.join(", ").toStdString();
        EXPECT_TRUE(scratchFiles().isEmpty());
    }
};

TEST_F(RealRecogniserServers, ABatchIsSpreadOverTwoServersAndTheLocalWorker) {
    ServerProcess one(serverProgram, tinyModel), two(serverProgram, tinyModel);
    ASSERT_TRUE(one.ready() && two.ready());
    useServers({one.address(), two.address()}, 1);
    ASSERT_TRUE(runQueue(180000));
    expectEachFileDoneOnce();
    EXPECT_GE(claimsOn(one.machine()), 1);
    EXPECT_GE(claimsOn(two.machine()), 1);
    EXPECT_GE(claims.size() - claimsOn(one.machine()) - claimsOn(two.machine()), 1) << claims.join("|").toStdString();
    for (const QString &name : names) EXPECT_EQ(claimsOf(name), 1) << name.toStdString();
    EXPECT_EQ(logCount("mis de côté"), 0);
}

TEST_F(RealRecogniserServers, AServerKilledMidBatchLeavesItsFileToAnotherSlot) {
    ServerProcess one(serverProgram, tinyModel), two(serverProgram, tinyModel);
    ASSERT_TRUE(one.ready() && two.ready());
    useServers({one.address(), two.address()}, 1);
    engine->start();
    // The second server has two files in hand, one on the machine and the
    // next one converted here, waiting for it: it goes down.
    ASSERT_TRUE(spinUntil([&] { return claimsOn(two.machine()) == 2; }, 60000));
    QStringList lost;
    for (const QString &claim : claims.filter("(sur " + two.machine() + ")")) lost << claim.section(" (sur", 0, 0);
    spin(300);
    two.kill();
    ASSERT_TRUE(runTask(engine->waitForRun(), 180000));

    expectEachFileDoneOnce();
    EXPECT_EQ(claimsOn(two.machine()), 2);
    for (const QString &name : lost) // each taken again by another slot
        EXPECT_EQ(claimsOf(name), 2) << name.toStdString() << ": " << claims.join("|").toStdString();
    EXPECT_EQ(logCount(QStringLiteral("Serveur de reconnaissance %1 mis de côté pour 30 s").arg(two.machine())), 1);
}

TEST_F(RealRecogniserServers, WithEveryServerDownTheLocalWorkerFinishesOrTheRunStops) {
    QStringList down;
    {
        ServerProcess one(serverProgram, tinyModel), two(serverProgram, tinyModel);
        down = {one.address(), two.address()}; // ports freed when they go
    }
    useServers(down, 0);
    ASSERT_TRUE(runQueue(60000));
    EXPECT_TRUE(engine->stoppedWithoutRecogniser());
    EXPECT_TRUE(logHas("Lot arrêté : aucun serveur de reconnaissance ne répond"));
    EXPECT_EQ(engine->pendingCount(), int(names.size()));
    EXPECT_EQ(engine->doneCount(), 0);

    EXPECT_EQ(claims.filter("(sur").size(), 4); // two files per server, one refused, the other never sent

    claims.clear();
    engine->clearLog();
    useServers(down, 1);
    ASSERT_TRUE(runQueue(180000));
    expectEachFileDoneOnce();
    EXPECT_EQ(logCount("mis de côté pour 30 s"), 2);
    EXPECT_EQ(claims.filter("(sur").size(), 4); // one try per server, then set aside
    EXPECT_EQ(claims.size(), 4 + names.size());
}

TEST_F(RealRecogniserServers, TheSettingsTestGetsARealAnswerThenNoneOnceTheServerIsGone) {
    ServerProcess one(serverProgram, tinyModel);
    ASSERT_TRUE(one.ready());
    EXPECT_EQ(runTaskFor(checkServer({one.address(), {}}, "fr"), 60000),
              "Joignable : le serveur a transcrit un court essai.");
    one.kill();
    EXPECT_EQ(runTaskFor(checkServer({one.address(), {}}, "fr"), 60000), "Échec : injoignable (Connection refused).");
}

} // namespace
