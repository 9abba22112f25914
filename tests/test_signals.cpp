// Bad input, signals: parlivo-cli stopped by SIGTERM, SIGHUP, two Ctrl-C or a
// kill; a duration probe that never answers; a program that writes without
// end to its error output. Nothing may go on running alone, and nothing may
// hold the memory.
#include <QDir>
#include <QProcess>

#include <csignal>

#include "core/atomic_file.h"
#include "pipeline/pipeline_rules.h"
#include "pipeline/process_runner.h"
#include "support/cli_fixture.h"
#include "support/engine_fixture.h"

using namespace testing_support;

namespace {

class CliSignals : public CliFixture {
protected:
    void SetUp() override {
        CliFixture::SetUp();
        makeAudio(src + "/a.m4a", 1.2);
    }
    void TearDown() override {
        // A test that failed must not leave its recogniser behind.
        const auto left = processesMentioning(home.path());
        for (auto it = left.cbegin(); it != left.cend(); ++it) {
            ADD_FAILURE() << "still running: " << it.value().toStdString();
            ::kill(it.key(), SIGKILL);
        }
    }

    // A recogniser that never ends and ignores the terminate request, so
    // only its parent's end can stop it.
    QString stubbornRecogniser() {
        const QString path = home.file("bin/whisper-cli");
        writeFile(path, QStringLiteral("#!/bin/sh\ntrap '' TERM\nexec '%1' \"$@\"\n")
                            .arg(buildPath("fake-whisper-cli"))
                            .toUtf8());
        QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ExeOwner);
        return path;
    }

    // `parlivo-cli run` with a recogniser that never ends, once it is running.
    std::unique_ptr<QProcess> startHangingRun(const QString &recogniser) {
        auto process = startCli({"run", src}, {"PARLIVO_WHISPER_CLI=" + recogniser, "FAKE_WHISPER_HANG=1"});
        EXPECT_TRUE(spinUntil([&] { return linesOf(argsLog).size() == 1; }, 30000));
        spin(200); // the recogniser is past its start
        QFile::remove(argsLog);
        return process;
    }
    bool ended(QProcess &process) {
        return spinUntil([&] { return process.state() == QProcess::NotRunning; }, 15000);
    }
    // Sockets and pipes count too.
    QStringList scratch() const { return home.scratchFiles(); }
};

TEST_F(CliSignals, CtrlCTermAndHangUpCancelSaveAndExitWithOne) {
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        auto run = startHangingRun(buildPath("fake-whisper-cli"));
        ::kill(pid_t(run->processId()), signal);
        ASSERT_TRUE(ended(*run)) << signal;
        EXPECT_EQ(run->exitStatus(), QProcess::NormalExit) << signal;
        EXPECT_EQ(run->exitCode(), 1) << signal;
        const QString err = QString::fromUtf8(run->readAllStandardError());
        EXPECT_TRUE(err.contains("Annulation demandée.")) << err.toStdString();
        EXPECT_TRUE(err.contains("Lot interrompu."));
        EXPECT_FALSE(err.contains("délai dépassé"));
        EXPECT_TRUE(processesMentioning(home.path()).isEmpty()) << signal;
        EXPECT_TRUE(scratch().isEmpty()) << scratch().join(' ').toStdString();
        EXPECT_TRUE(cli({"status"}).out.startsWith("En attente 1, En cours 0"));
    }
}

TEST_F(CliSignals, NoChildOutlivesTheProgram) {
    // A second Ctrl-C ends the program while its recogniser still resists the first.
    auto twice = startHangingRun(stubbornRecogniser());
    ::kill(pid_t(twice->processId()), SIGINT);
    spin(300);
    ::kill(pid_t(twice->processId()), SIGINT);
    ASSERT_TRUE(ended(*twice));
    EXPECT_EQ(twice->exitStatus(), QProcess::CrashExit);
    EXPECT_TRUE(spinUntil([&] { return processesMentioning(home.path()).isEmpty(); }, 5000));

    // A kill, which nothing can catch.
    auto killed = startHangingRun(stubbornRecogniser());
    ::kill(pid_t(killed->processId()), SIGKILL);
    ASSERT_TRUE(ended(*killed));
    EXPECT_TRUE(spinUntil([&] { return processesMentioning(home.path()).isEmpty(); }, 5000));
}

// ---------------------------------------------------------------- the duration probe

class HangingProbe : public EngineFixture {
protected:
    const QString sleepTime = QStringLiteral("59.125"); // tells this probe's sleep from any other
    Tools tools() const override {
        Tools t = EngineFixture::tools();
        const QString probe = home.file("bin/slow-ffprobe");
        writeFile(probe, QStringLiteral("#!/bin/sh\necho probe >> '%1'\nexec sleep %2\n").arg(probeLog, sleepTime).toUtf8());
        QFile::setPermissions(probe, QFile::permissions(probe) | QFileDevice::ExeOwner);
        t.ffprobe = probe;
        return t;
    }
    void SetUp() override {
        EngineFixture::SetUp();
        makeAudio(src + "/a.m4a", 1.2);
        engine->setSourceFolder(QUrl::fromLocalFile(src));
    }
};

TEST_F(HangingProbe, ACancelReachesTheProbeAndTheProbeHasATimeLimit) {
    engine->start();
    ASSERT_TRUE(spinUntil([&] { return probeCalls() == 1 && engine->processes().activeCount() == 1; }));
    engine->cancel();
    ASSERT_TRUE(runTask(engine->waitForRun(), ProcessRunner::killGraceMs + 3000));
    EXPECT_EQ(entryNamed("a.m4a").status, FileStatus::pending);
    EXPECT_TRUE(processesMentioning("sleep " + sleepTime).isEmpty());

    TimeLimits limits;
    limits.probe = 1;
    engine->setTimeLimits(limits);
    ASSERT_TRUE(runQueue(10000));
    EXPECT_EQ(entryNamed("a.m4a").errorMessage, "Lecture de la durée interrompue (délai dépassé).");
    EXPECT_EQ(recogniserCalls(), 0);
    EXPECT_TRUE(processesMentioning("sleep " + sleepTime).isEmpty());
}

// ---------------------------------------------------------------- endless error output

TEST(EndlessErrorOutput, OnlyItsLastLinesAreKept) {
    ProcessRunner runner;
    // 30 MB of whole lines, then one last line.
    const QStringList script{"-c", "yes 0123456789 | head -c 29999992 >&2; echo dernière ligne >&2; exit 3"};
    const auto result = runTaskFor(runner.launch("/bin/sh", script, std::nullopt, false), 60000);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->code, 3);
    EXPECT_LE(result->standardError.size(), ProcessRunner::keptStderrBytes);
    EXPECT_GE(result->standardError.size(), ProcessRunner::keptStderrBytes / 2);
    EXPECT_TRUE(result->standardError.startsWith("0123456789\n")); // whole lines only
    EXPECT_TRUE(result->standardError.endsWith("0123456789\ndernière ligne\n"));
}

} // namespace
