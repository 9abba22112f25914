// Two real whisper-server instances on 127.0.0.1 with the random-weight
// model, beside the real whisper-cli: a batch spread over the three, one
// server killed in the middle, and every server down.
#include <QRegularExpression>
#include <QFileInfo>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>

#include "remote/server_check.h"
#include "support/engine_fixture.h"
#include "support/tiny_whisper_model.h"

using namespace testing_support;

namespace {

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
class RealRecogniserServers : public EngineFixture {
protected:
    std::optional<QString> whisper = Tools::resolve().whisper;
    QString serverProgram;
    QString tinyModel = home.file(".hestia/ggml-tiny-random.bin");
    ScopedEnv passiveThreads{"OMP_WAIT_POLICY", "PASSIVE"};
    QStringList names{"a.wav", "b.wav", "c.wav", "d.wav", "e.wav", "f.wav"};
    // Every time a file was taken, as shown: its name and the machine that took it.
    QStringList claims;
    QStringList inHand;

    Tools tools() const override {
        Tools t = EngineFixture::tools();
        t.whisper = whisper;
        return t;
    }
    void SetUp() override {
        if (whisper) serverProgram = QFileInfo(*whisper).absolutePath() + "/whisper-server";
        if (!whisper || !QFileInfo(serverProgram).isExecutable())
            GTEST_SKIP() << "whisper-cli ou whisper-server introuvable : scripts/setup les construit "
                            "(build/libexec/parlivo).";
        ASSERT_TRUE(writeTinyWhisperModel(tinyModel));
        EngineFixture::SetUp();
        for (const QString &name : names) makeNoise(src + "/" + name, 4);
        QObject::connect(engine.get(), &Transcriber::runStateChanged, [this] {
            for (const QString &label : engine->currentFileNames())
                if (!inHand.contains(label)) claims << label;
            inHand = engine->currentFileNames();
        });
    }
    void useServers(const QStringList &addresses, int local) {
        updateSettings([&](ParlivoSettings &s) {
            s.modelPath = tinyModel;
            s.parallelism = local;
            s.recognitionServers.clear();
            for (const QString &address : addresses) s.recognitionServers.append({address, {}});
        });
        engine->setSourceFolder(QUrl::fromLocalFile(src));
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
