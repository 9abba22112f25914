// The process runner against real child processes (small /bin/sh scripts).

#include "pipeline/process_runner.h"
#include "support/test_support.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <memory>

using namespace testing_support;

namespace {

const QString shell = QStringLiteral("/bin/sh");

QStringList script(const QString &text) { return {QStringLiteral("-c"), text}; }

ProcessRunner::LineCallback into(QStringList &lines) {
    return [&lines](const QString &line) { lines.append(line); };
}

bool processExists(qint64 pid) { return QFile::exists(QStringLiteral("/proc/%1").arg(pid)); }

} // namespace

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
