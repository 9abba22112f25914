// Nothing lost under faults, with real processes and real files: SIGKILLs at
// any moment of a batch, full disks, and a second engine on the same state.
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>

#include <csignal>
#include <iostream>
#include <random>

#include "core/json_coding.h"
#include "core/settings.h"
#include "correction/raw_transcripts.h"
#include "support/cli_fixture.h"
#include "support/correction_test_support.h"
#include "support/engine_fixture.h"
#include "support/fake_llm_server.h"
#include "support/small_disk.h"

using namespace testing_support;

namespace {

// The state files there are that do not decode as the engine reads them,
// and those it had to set aside.
QStringList brokenStateFiles(const QString &supportDir) {
    QStringList broken;
    auto check = [&](const QString &name, const std::function<void(const QByteArray &)> &decode) {
        const auto bytes = readWholeFile(supportDir + "/" + name);
        if (!bytes) return;
        try {
            decode(*bytes);
        } catch (const std::exception &) {
            broken << name;
        }
    };
    check("settings.json", [](const QByteArray &b) { settingsFromJson(parseJson(b)); });
    check("queue.json", [](const QByteArray &b) { persistedStateFromJson(parseJson(b)); });
    check("ledger.json", [](const QByteArray &b) { ledgerFromText(b); });
    broken << QDir(supportDir).entryList({"*.corrupt"}, QDir::Files);
    return broken;
}

// ---------------------------------------------------------------- kills

class KilledRunsAtOneMoment : public CliFixture {};

// A 30-file batch, `parlivo-cli run` killed at 20 instants and started again
// each time, then one run to the end.
class KilledRuns : public CliFixture, public ::testing::WithParamInterface<int> {
protected:
    static constexpr int memoCount = 30;
    static constexpr int killCount = 20;
    // A whole batch, on a machine busy with other work.
    static constexpr int batchTimeoutMs = 180000;
    int parallelism() const { return GetParam(); }

    enum class Instant { any, transcriptWrite, stateSave };
    // Which kills fall inside a write, rather than at a random moment.
    static Instant instantOf(int kill) {
        if (kill % 6 == 2) return Instant::transcriptWrite;
        if (kill % 6 == 5) return Instant::stateSave;
        return Instant::any;
    }

    std::mt19937 random{seed()};
    static unsigned seed() {
        const unsigned value = qEnvironmentVariableIsSet("PARLIVO_TEST_SEED")
                                   ? qEnvironmentVariable("PARLIVO_TEST_SEED").toUInt() // as printed below
                                   : std::random_device{}();
        std::cout << "kill test seed (PARLIVO_TEST_SEED): " << value << std::endl;
        return value;
    }
    int between(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); }

    // The stand-in is quick, so a batch is a matter of seconds.
    QStringList recogniser() const { return {"FAKE_WHISPER_DELAY=0.1"}; }

    // The process preloaded with the kill at a chosen call of a write: once
    // the data is written but not synced, or synced but not yet in place.
    QStringList killedInside(Instant instant) {
        const bool atSync = between(0, 1) == 0;
        // Files are written unnamed ("FOLDER/#INODE") until they are placed.
        const QString folder = instant == Instant::transcriptWrite ? src : home.supportDir();
        // The history is written at the start only when it changed, which it
        // has not since the last run: the queue is the state file hit there.
        const QString target =
            instant == Instant::transcriptWrite ? QStringLiteral(".txt") : QStringLiteral("queue.json");
        const QString file = atSync ? folder + "/#" : target;
        // The state is saved as the run starts: that first save is the one hit.
        const int nth = instant == Instant::transcriptWrite ? between(1, 3) : 1;
        return {QStringLiteral("LD_PRELOAD=" KILL_AT_CALL_LIBRARY),
                QStringLiteral("FAULT_KILL_CALL=") + (atSync ? "fsync" : "place"), "FAULT_KILL_PATH=" + file,
                QStringLiteral("FAULT_KILL_NTH=%1").arg(nth)};
    }

    // One run, killed. False when it ended by itself first.
    bool runAndKill(Instant instant) {
        // A save leaves unchanged files alone, and a run resumed after a kill
        // may find its queue already saved as it starts: a scan first (it
        // records that no batch runs) gives the run's first save a queue to write.
        if (instant == Instant::stateSave) {
            EXPECT_EQ(cli({"scan", src}).code, 0);
        }
        auto run = startCli({"run"}, recogniser() + (instant == Instant::any ? QStringList{} : killedInside(instant)));
        if (instant == Instant::any) {
            const int delayMs = between(100, 800 / parallelism());
            spinUntil([&] { return run->state() == QProcess::NotRunning; }, delayMs);
            if (run->state() != QProcess::NotRunning) ::kill(pid_t(run->processId()), SIGKILL);
        }
        EXPECT_TRUE(spinUntil([&] { return run->state() == QProcess::NotRunning; }, batchTimeoutMs));
        const bool killed = run->exitStatus() == QProcess::CrashExit && run->exitCode() == SIGKILL;
        if (!killed) { // ended by itself: only ever with the whole batch done
            EXPECT_EQ(run->exitCode(), 0) << run->readAllStandardError().toStdString();
        }
        return killed;
    }

    void expectOneCompleteTranscriptPerMemo() {
        QStringList expected;
        for (int i = 1; i <= memoCount; ++i) expected << QStringLiteral("memo%1.txt").arg(i, 2, 10, QChar('0'));
        EXPECT_EQ(transcripts(), expected);
        for (const QString &name : expected) {
            const QString text = readText(src + "/" + name);
            const QString audio = QString(name).replace(".txt", ".m4a");
            EXPECT_TRUE(text.startsWith("Mémo vocal du ")) << name.toStdString();
            const QString end = "  (durée 0:01)\nSource : " + audio + "\n" + transcriptRule + "\n\nBonjour.\nCeci est un test.\n";
            EXPECT_TRUE(text.endsWith(end))
                << name.toStdString() << ": " << text.toStdString();
        }
    }

    // Temporary files left by the kills inside a write, beside the
    // transcripts and the state files.
    int leftoverTemporaries() const {
        int count = 0;
        for (const QString &name : namesIn(src) + namesIn(home.supportDir()))
            count += name.contains(".txt.") || name.contains(".json.") ? 1 : 0;
        return count;
    }
};

TEST_P(KilledRuns, EveryMemoEndsWithOneCompleteTranscriptAndTheStateAlwaysDecodes) {
    makeMemos(memoCount, 2);
    ASSERT_EQ(cli({"settings", "parallelism", QString::number(parallelism())}).code, 0);
    ASSERT_EQ(cli({"scan", src}).code, 0);

    QElapsedTimer clock;
    clock.start();
    int kills = 0, insideWrites = 0, attempts = 0;
    while (kills < killCount && attempts < 3 * killCount) {
        ++attempts;
        const Instant instant = instantOf(kills);
        if (!runAndKill(instant)) {
            if (instant == Instant::any) break; // the batch is over: nothing left to kill
            continue;                          // the chosen write did not come: another try
        }
        ++kills;
        if (instant != Instant::any) ++insideWrites;
        ASSERT_EQ(brokenStateFiles(home.supportDir()), QStringList{}) << "after kill " << kills;
    }
    EXPECT_EQ(kills, killCount) << "the batch ended before every kill";

    const CliResult last = runCli({"run"}, env + recogniser(), batchTimeoutMs);
    EXPECT_EQ(last.code, 0) << last.err.toStdString();
    const int runs = recogniserCalls();
    std::cout << "kill test, parallelism " << parallelism() << ": " << kills << " kills (" << insideWrites
              << " inside a write), " << runs << " recogniser runs for " << memoCount << " files, "
              << leftoverTemporaries() << " temporary files left, " << clock.elapsed() << " ms"
              << std::endl;

    expectOneCompleteTranscriptPerMemo();
    EXPECT_GE(runs, memoCount);
    EXPECT_LE(runs, memoCount + killCount * parallelism());
    EXPECT_EQ(brokenStateFiles(home.supportDir()), QStringList{});
    EXPECT_EQ(scratch(), QStringList{});
    // Every kill left its lock behind, taken over by the next run; the last one's goes with it.
    EXPECT_FALSE(QFileInfo::exists(home.supportDir() + "/instance.lock"));
    const QString counters = cli({"status"}).out.section('\n', 0, 0);
    EXPECT_TRUE(counters.startsWith("En attente 0, En cours 0, ")) << counters.toStdString();
    EXPECT_TRUE(counters.endsWith(", Erreur 0, Vide 0")) << counters.toStdString();
    const Ledger ledger = ledgerFromText(*readWholeFile(home.supportDir() + "/ledger.json"));
    EXPECT_EQ(ledger.size(), size_t(memoCount));
    for (const auto &[path, entry] : ledger) EXPECT_EQ(entry.status, "done") << path.toStdString();
    for (int i = 1; i <= memoCount; ++i) {
        const QString memo = src + QStringLiteral("/memo%1.m4a").arg(i, 2, 10, QChar('0'));
        EXPECT_TRUE(ledger.count(memo)) << "no history for " << memo.toStdString() << "; status:\n"
                                        << cli({"status"}).out.toStdString();
    }
}

// The last save of a run writes three files; a kill while the third is
// written must not leave the queue ahead of the history.
TEST_F(KilledRunsAtOneMoment, AKillInsideTheLastSaveLeavesNoFileDoneWithoutItsHistory) {
    makeAudio(src + "/memo.m4a", 1.2);
    ASSERT_EQ(cli({"scan", src}).code, 0);
    // A save writes only the files whose text changed: the queue at the
    // start, the history and the queue at the end. The third is the last one.
    auto run = startCli({"run"}, {QStringLiteral("LD_PRELOAD=" KILL_AT_CALL_LIBRARY), "FAULT_KILL_CALL=fsync",
                                  "FAULT_KILL_PATH=" + home.supportDir() + "/#", "FAULT_KILL_NTH=3"});
    ASSERT_TRUE(spinUntil([&] { return run->state() == QProcess::NotRunning; }, 60000));
    ASSERT_EQ(run->exitStatus(), QProcess::CrashExit);
    EXPECT_EQ(transcripts(), QStringList{"memo.txt"});

    const CliResult next = cli({"run"});
    EXPECT_EQ(next.code, 0) << next.err.toStdString();
    EXPECT_EQ(recogniserCalls(), 1);
    const Ledger ledger = ledgerFromText(*readWholeFile(home.supportDir() + "/ledger.json"));
    ASSERT_EQ(ledger.count(src + "/memo.m4a"), 1u);
    EXPECT_EQ(ledger.at(src + "/memo.m4a").status, "done");
}

INSTANTIATE_TEST_SUITE_P(Parallelism, KilledRuns, ::testing::Values(1, 2),
                         [](const auto &info) { return QStringLiteral("%1Workers").arg(info.param).toStdString(); });

// ---------------------------------------------------------------- full disks

using FullDisk = CliFixture;

TEST_F(FullDisk, AFullDestinationStopsTheRunAndRecordsNothingAsDone) {
    SmallDisk disk(home.file("sortie"));
    if (!disk.mounted()) GTEST_SKIP() << disk.whyNot().toStdString();
    makeMemos(4);
    ASSERT_EQ(cli({"settings", "destinationMode", "custom"}).code, 0);
    ASSERT_EQ(cli({"settings", "customDestination", disk.folder()}).code, 0);
    disk.fill();

    const CliResult full = cli({"run", src});
    EXPECT_EQ(full.code, 1) << full.err.toStdString();
    EXPECT_EQ(full.err.count("Lot arrêté : disque plein dans « " + disk.folder() +
                             " ». Libère de la place, puis relance la transcription."),
              1)
        << full.err.toStdString();
    EXPECT_FALSE(full.err.contains("Lot terminé"));
    // One file in error, the others untouched rather than failed one by one.
    EXPECT_EQ(recogniserCalls(), 1);
    const QString status = cli({"status"}).out;
    EXPECT_TRUE(status.startsWith("En attente 3, En cours 0, Terminé 0, Sauté 0, Erreur 1, Vide 0\n"))
        << status.toStdString();
    EXPECT_TRUE(status.contains("error\t0:01\t" + src + "/memo1.m4a\tDisque plein : « " + disk.folder() +
                                "/memo1.txt » n'a pas pu être écrit.\n"))
        << status.toStdString();
    // No empty transcript took the place of a real one, and nothing is remembered as done.
    EXPECT_EQ(namesIn(disk.folder()), QStringList{".filler"});
    const Ledger ledger = ledgerFromText(*readWholeFile(home.supportDir() + "/ledger.json"));
    for (const auto &[path, entry] : ledger) EXPECT_NE(entry.status, "done") << path.toStdString();

    disk.freeUp();
    const CliResult freed = cli({"run"});
    EXPECT_EQ(freed.code, 0) << freed.err.toStdString();
    EXPECT_TRUE(freed.err.contains("Lot terminé : 4 transcrits, 0 sautés, 0 en erreur."));
    EXPECT_EQ(namesIn(disk.folder()), (QStringList{"memo1.txt", "memo2.txt", "memo3.txt", "memo4.txt"}));
    EXPECT_TRUE(readText(disk.folder() + "/memo1.txt").endsWith(transcriptRule + "\n\nBonjour.\nCeci est un test.\n"));
}

TEST_F(FullDisk, AFullStateFolderKeepsThePreviousSettingsAndSaysSo) {
    ASSERT_EQ(cli({"settings", "language", "en"}).code, 0);
    const QString support = home.supportDir();
    const QByteArray before = *readWholeFile(support + "/settings.json");
    // The folder holds its files already: the disk goes over them.
    const QString saved = home.file("saved-state");
    ASSERT_TRUE(QDir().rename(support, saved));
    SmallDisk disk(support);
    if (!disk.mounted()) GTEST_SKIP() << disk.whyNot().toStdString();
    for (const QString &name : namesIn(saved)) QFile::copy(saved + "/" + name, support + "/" + name);

    disk.fill(4096); // room for the lock file only
    const CliResult refused = cli({"settings", "language", "fr"});
    EXPECT_EQ(refused.code, 1) << refused.err.toStdString();
    EXPECT_TRUE(refused.err.contains("État non enregistré : Disque plein : « " + support +
                                     "/settings.json » n'a pas pu être écrit. Nouvel essai à la prochaine modification."))
        << refused.err.toStdString();
    EXPECT_EQ(*readWholeFile(support + "/settings.json"), before);
    EXPECT_EQ(cli({"settings", "language"}).out, "en\n");
    EXPECT_EQ(brokenStateFiles(support), QStringList{});

    disk.freeUp();
    disk.fill(); // not even room for the lock: nothing starts
    const CliResult locked = cli({"settings", "language", "fr"});
    EXPECT_EQ(locked.code, 2);
    EXPECT_EQ(locked.err, "Impossible de verrouiller le dossier d'état « " + support +
                              " » : disque plein. Rien n'a été modifié.\n");
    EXPECT_EQ(*readWholeFile(support + "/settings.json"), before);

    disk.freeUp();
    EXPECT_EQ(cli({"settings", "language", "fr"}).code, 0);
    EXPECT_EQ(cli({"settings", "language"}).out, "fr\n");
}

// The engine at work over a full state folder: one line, not one per save,
// and the next change saves everything once there is room.
class FullStateFolder : public EngineFixture {};

TEST_F(FullStateFolder, AFailedSaveIsLoggedOnceAndTriedAgainAtTheNextChange) {
    for (const char *n : {"a.m4a", "b.m4a"}) makeAudio(src + "/" + n, 1.2);
    chooseSource();
    engine.reset();
    const QString saved = home.file("saved-state");
    ASSERT_TRUE(QDir().rename(home.supportDir(), saved));
    SmallDisk disk(home.supportDir());
    if (!disk.mounted()) GTEST_SKIP() << disk.whyNot().toStdString();
    for (const QString &name : namesIn(saved)) QFile::copy(saved + "/" + name, home.supportDir() + "/" + name);
    relaunch();
    const QByteArray queueBefore = *readWholeFile(home.supportDir() + "/queue.json");
    disk.fill();

    ASSERT_TRUE(runQueue());
    EXPECT_EQ(engine->doneCount(), 2);
    EXPECT_EQ(logCount("État non enregistré : Disque plein : « " + home.supportDir()), 1);
    EXPECT_TRUE(engine->stateUnsaved());
    EXPECT_EQ(*readWholeFile(home.supportDir() + "/queue.json"), queueBefore);
    EXPECT_EQ(brokenStateFiles(home.supportDir()), QStringList{});

    disk.freeUp();
    QSignalSpy saves(engine.get(), &Transcriber::stateSaved);
    updateSettings([](ParlivoSettings &s) { s.language = "fr"; });
    ASSERT_TRUE(saves.wait(5000));
    EXPECT_FALSE(engine->stateUnsaved());
    EXPECT_TRUE(logHas("État de nouveau enregistré."));
    const PersistedState queue = persistedStateFromJson(parseJson(*readWholeFile(home.supportDir() + "/queue.json")));
    ASSERT_EQ(queue.files.size(), 2);
    for (const AudioFile &file : queue.files) EXPECT_EQ(file.status, FileStatus::done);
}

// ---------------------------------------------------------------- two engines

class TwoEngines : public CliFixture {};

TEST_F(TwoEngines, TheSecondIsRefusedWithItsHolderAndNothingIsTranscribedTwice) {
    makeMemos(8);
    ASSERT_EQ(cli({"scan", src}).code, 0);

    auto one = startCli({"run"}, {"FAKE_WHISPER_DELAY=0.1"});
    auto two = startCli({"run"}, {"FAKE_WHISPER_DELAY=0.1"});
    const qint64 pidOne = one->processId(), pidTwo = two->processId();
    // The state can be looked at meanwhile.
    spin(300);
    const CliResult status = cli({"status"});
    EXPECT_EQ(status.code, 0);
    EXPECT_TRUE(status.out.startsWith("En attente ")) << status.out.toStdString();

    auto ended = [](const std::unique_ptr<QProcess> &p) { return p->state() == QProcess::NotRunning; };
    ASSERT_TRUE(spinUntil([&] { return ended(one) && ended(two); }, 60000));
    const bool oneRefused = one->exitCode() == 2;
    QProcess *refused = oneRefused ? one.get() : two.get();
    QProcess *holder = oneRefused ? two.get() : one.get();
    EXPECT_EQ(holder->exitCode(), 0);
    EXPECT_EQ(refused->exitCode(), 2);
    EXPECT_EQ(QString::fromUtf8(refused->readAllStandardError()),
              QStringLiteral("Le dossier d'état « %1 » est déjà utilisé par parlivo-cli (processus %2). Attends la "
                             "fin de son travail ou ferme-le, puis réessaie.\n")
                  .arg(home.supportDir())
                  .arg(oneRefused ? pidTwo : pidOne));
    EXPECT_EQ(recogniserCalls(), 8);
    EXPECT_EQ(transcripts().size(), 8);
}

// Under its former name, the state is copied once, before the lock makes the new folder.
TEST_F(TwoEngines, TheFormerFolderIsCopiedBeforeTheLockCreatesTheNewOneAndOnlyThen) {
    const QString data = home.file("donnees");
    writeFile(data + "/Talvo/settings.json", "{\"language\":\"fr\"}");
    const QStringList realHome{"PARLIVO_HOME", "XDG_DATA_HOME=" + data};
    const CliResult set = cli({"settings", "timestamps", "true"}, realHome);
    EXPECT_EQ(set.code, 0) << set.err.toStdString();
    EXPECT_EQ(cli({"settings", "language"}, realHome).out, "fr\n");
    EXPECT_TRUE(QFileInfo::exists(data + "/Talvo/settings.json"));
    writeFile(data + "/Talvo/settings.json", "{\"language\":\"en\"}");
    EXPECT_EQ(cli({"settings", "language"}, realHome).out, "fr\n");
}

} // namespace
