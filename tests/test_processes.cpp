// Child processes: the process runner against small /bin/sh scripts; then
// parlivo-cli stopped by SIGTERM, SIGHUP, two Ctrl-C or a kill, a duration
// probe that never answers, a program that writes without end to its error
// output. Nothing may go on running alone, and nothing may hold the memory.
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>

#include <csignal>

#include "core/atomic_file.h"
#include "pipeline/pipeline_rules.h"
#include "pipeline/process_runner.h"
#include "support/cli_fixture.h"
#include "support/engine_fixture.h"

using namespace testing_support;

namespace {

const QString shell = QStringLiteral("/bin/sh");

QStringList script(const QString &text) { return {QStringLiteral("-c"), text}; }

ProcessRunner::LineCallback into(QStringList &lines) {
    return [&lines](const QString &line) { lines.append(line); };
}

bool processExists(qint64 pid) { return QFile::exists(QStringLiteral("/proc/%1").arg(pid)); }

TEST(ProcessRunner, StreamsStderrPiecesCollectsBothStreamsAndReportsTheStatusWhateverTheBytes) {
    ProcessRunner runner;
    QStringList lines;
    auto result = runTaskFor(runner.launch(shell, script("printf out; printf 'a\\r\\nb\\n\\n' >&2; exit 3"), std::nullopt,
                                           true, into(lines)));
    ASSERT_TRUE(result);
    EXPECT_EQ(result->code, 3);
    EXPECT_EQ(lines, QStringList({"a", "b"}));
    EXPECT_EQ(result->standardError, "a\r\nb\n\n");
    EXPECT_EQ(result->standardOutput, "out");

    // Without capture, what the program prints goes nowhere; a signal is never a success.
    result = runTaskFor(runner.launch(shell, script("printf out; kill -KILL $$"), std::nullopt, false));
    ASSERT_TRUE(result);
    EXPECT_EQ(result->code, 128 + 9);
    EXPECT_TRUE(result->standardOutput.isEmpty());

    // Bytes that are not UTF-8 keep the words around them.
    lines.clear();
    result = runTaskFor(runner.launch(shell, script("printf 'avant \\377\\376 après\\n' >&2; printf 'x\\377y'"),
                                      std::nullopt, true, into(lines)));
    ASSERT_TRUE(result);
    EXPECT_TRUE(result->standardError.startsWith("avant ") && result->standardError.contains(" après"))
        << result->standardError.toStdString();
    EXPECT_TRUE(result->standardOutput.startsWith('x') && result->standardOutput.endsWith('y'));
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines.first().contains(" après"));
}

TEST(ProcessRunner, DeliversLinesWhileTheProgramRuns) {
    ProcessRunner runner;
    QElapsedTimer clock;
    clock.start();
    qint64 firstLineAt = -1;
    QStringList received;
    auto onLine = [&](const QString &line) {
        if (received.isEmpty()) firstLineAt = clock.elapsed();
        received.append(line);
    };
    // The é is split across two writes: it must still arrive whole.
    auto result = runTaskFor(runner.launch(
        shell, script("printf 'un\\n' >&2; sleep 0.5; printf 'd\\303' >&2; sleep 0.2; printf '\\251\\n' >&2"),
        std::nullopt, false, onLine));
    ASSERT_TRUE(result);
    EXPECT_LT(firstLineAt, clock.elapsed() - 400) << "the first line waited for the end of the program";
    ASSERT_GE(received.size(), 2);
    EXPECT_EQ(received.first(), "un");
    EXPECT_EQ(received.mid(1).join(QString()), QStringLiteral("dé"));
    EXPECT_EQ(result->standardError, QStringLiteral("un\ndé\n"));
}

TEST(ProcessRunner, ProgramThatCannotStartFailsAtOnce) {
    QTemporaryDir dir;
    ProcessRunner runner;
    const QUuid id = QUuid::createUuid();
    QElapsedTimer clock;
    clock.start();

    auto missing = runTaskFor(runner.launchWithTimeout(dir.filePath("absent-tool"), {"-x"}, id, 60));
    ASSERT_TRUE(missing);
    EXPECT_LT(clock.elapsed(), 2000);
    EXPECT_EQ(missing->code, -1);
    EXPECT_TRUE(missing->standardError.startsWith("Lancement impossible : programme introuvable"))
        << missing->standardError.toStdString();
    EXPECT_FALSE(runner.isActive(id));
    EXPECT_FALSE(runner.timedOutIDs().contains(id));

    const QString notExecutable = writeFile(dir.filePath("tool"), "#!/bin/sh\n");
    auto refused = runTaskFor(runner.launch(notExecutable, {}, id, false));
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->code, -1);
    EXPECT_TRUE(refused->standardError.startsWith("Lancement impossible : programme non exécutable"));
    EXPECT_EQ(runner.activeCount(), 0);
}

TEST(ProcessRunner, TimeLimitEndsTheProgramMarksItsIdAndIsDisarmedOnceTheProgramEnds) {
    ProcessRunner runner;
    const QUuid id = QUuid::createUuid();
    QElapsedTimer clock;
    clock.start();
    auto task = runner.launchWithTimeout("sleep", {"30"}, id, 1.0);
    EXPECT_TRUE(runner.isActive(id));
    auto result = runTaskFor(std::move(task), 10000);
    ASSERT_TRUE(result);
    EXPECT_GE(clock.elapsed(), 950);
    EXPECT_LT(clock.elapsed(), 2000);
    EXPECT_EQ(result->code, 128 + 15);
    EXPECT_TRUE(runner.timedOutIDs().contains(id));
    EXPECT_EQ(runner.activeCount(), 0);
    runner.clearTimedOut();
    EXPECT_TRUE(runner.timedOutIDs().isEmpty());

    const QUuid quick = QUuid::createUuid();
    result = runTaskFor(runner.launchWithTimeout("true", {}, quick, 0.3));
    ASSERT_TRUE(result);
    EXPECT_EQ(result->code, 0);
    spin(600);
    // A retry of the same file later in the run must not look timed out.
    EXPECT_FALSE(runner.timedOutIDs().contains(quick));

    // A limit reached when nothing runs under the id only records it.
    const QUuid other = QUuid::createUuid();
    auto running = runner.launch("sleep", {"2"}, other, false);
    const QUuid gone = QUuid::createUuid();
    runner.terminate(gone, true);
    EXPECT_TRUE(runner.timedOutIDs().contains(gone));
    spin(200);
    EXPECT_TRUE(runner.isActive(other));
    runner.terminate(other, false);
    ASSERT_TRUE(runTaskFor(std::move(running), 5000));
}

TEST(ProcessRunner, TerminatingOneIdLeavesTheOthersRunning) {
    ProcessRunner runner;
    const QUuid first = QUuid::createUuid();
    const QUuid second = QUuid::createUuid();
    auto a = runner.launch("sleep", {"30"}, first, false);
    auto b = runner.launch("sleep", {"30"}, second, false);
    ASSERT_EQ(runner.activeCount(), 2);

    runner.terminate(first, false);
    EXPECT_NE(runTaskFor(std::move(a), 5000).value_or(ProcessResult{}).code, 0);
    EXPECT_FALSE(runner.isActive(first));
    EXPECT_TRUE(runner.isActive(second));
    EXPECT_TRUE(runner.timedOutIDs().isEmpty()) << "a plain terminate is not a time-out";

    // The cancel ends everything left and records no time-out either.
    runner.terminateAll();
    EXPECT_NE(runTaskFor(std::move(b), 5000).value_or(ProcessResult{}).code, 0);
    EXPECT_EQ(runner.activeCount(), 0);
    EXPECT_TRUE(runner.timedOutIDs().isEmpty());
}

TEST(ProcessRunner, ProgramIgnoringTerminateIsKilledAfterTheGrace) {
    ProcessRunner runner;
    const QUuid id = QUuid::createUuid();
    QElapsedTimer clock;
    clock.start();
    // The loop ignores SIGTERM (inherited by each short sleep), so only SIGKILL ends it.
    auto task = runner.launchWithTimeout(shell, script("trap '' TERM; while :; do sleep 0.1; done"), id, 0.5);
    auto result = runTaskFor(std::move(task), 10000);
    ASSERT_TRUE(result);
    EXPECT_GE(clock.elapsed(), 500 + ProcessRunner::killGraceMs - 100);
    EXPECT_LT(clock.elapsed(), 500 + ProcessRunner::killGraceMs + 1500);
    EXPECT_EQ(result->code, 128 + 9);
    EXPECT_TRUE(runner.timedOutIDs().contains(id));
}

TEST(ProcessRunner, DestroyingTheRunnerEndsItsChildren) {
    QTemporaryDir dir;
    const QString pidFile = dir.filePath("pid");
    auto runner = std::make_unique<ProcessRunner>();
    auto task = runner->launch(shell, script(QStringLiteral("echo $$ > '%1'; exec sleep 30").arg(pidFile)),
                               QUuid::createUuid(), false);
    ASSERT_TRUE(spinUntil([&] { return QFileInfo(pidFile).size() > 0; }, 5000));
    const qint64 pid = readText(pidFile).trimmed().toLongLong();
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(processExists(pid));

    runner.reset();
    EXPECT_FALSE(processExists(pid));
    spin(50); // no late resume into the destroyed runner
}

// A regression guard against the 30 s default limit of QProcess waits: takes 31 s.
TEST(ProcessRunner, ProgramLongerThanThirtySecondsIsNotCut) {
    ProcessRunner runner;
    auto result = runTaskFor(runner.launch(shell, script("sleep 31; printf fin >&2"), QUuid::createUuid(), false),
                             45000);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->code, 0);
    EXPECT_EQ(result->standardError, "fin");
}

// ---------------------------------------------------------------- signals and stuck programs

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
        chooseSource();
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
