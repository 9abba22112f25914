// The watched source folder. The settle rule on its own first: a file is
// handed over once its size and date have held still for the delay, whatever
// the clock says in between; what is read of it ahead stands for that version
// only. Then through the engine: real files written the way copies, syncs and
// recorders write them, real ffmpeg, the stand-in recogniser (every call of it
// is counted).
#include <QFileInfo>

#include <cstdio>
#include <sys/stat.h>

#include "pipeline/durations_ahead.h"
#include "support/engine_fixture.h"
#include "support/fake_llm_server.h"
#include "watch/settling_files.h"

using namespace testing_support;
using namespace std::chrono_literals;

namespace {

struct Disk {
    QHash<QString, FileIdentity> files;
    SettlingFiles::Look look() const {
        return [this](const QString &path) -> std::optional<FileIdentity> {
            const auto it = files.constFind(path);
            return it == files.constEnd() ? std::nullopt : std::optional(*it);
        };
    }
};

TEST(SettlingFiles, AFileSettlesOnlyAfterHoldingStillForTheWholeDelayAndTheOthersComeInNaturalOrder) {
    Disk disk;
    SettlingFiles settling;
    EXPECT_EQ(settling.delay(), 3000);
    disk.files["/m/a.m4a"] = {100, 10.0};
    settling.touch("/m/a.m4a", {100, 10.0}, 0);
    // Still for a third of the delay first: told once, as quiet.
    EXPECT_EQ(settling.nextDue(), 1000);
    EXPECT_TRUE(settling.takeQuiet(999).isEmpty());
    EXPECT_EQ(settling.takeQuiet(1000), QStringList{"/m/a.m4a"});
    EXPECT_TRUE(settling.takeQuiet(1500).isEmpty());
    EXPECT_EQ(settling.nextDue(), 3000);
    EXPECT_TRUE(settling.takeSettled(2999, disk.look()).isEmpty());

    // Another piece written at 2 s: the wait starts again from there.
    disk.files["/m/a.m4a"] = {200, 12.0};
    settling.touch("/m/a.m4a", {200, 12.0}, 2000);
    EXPECT_TRUE(settling.takeSettled(3000, disk.look()).isEmpty());
    EXPECT_EQ(settling.nextDue(), 3000); // quiet again at 2 s + 1 s
    EXPECT_EQ(settling.takeQuiet(3000), QStringList{"/m/a.m4a"});
    EXPECT_EQ(settling.nextDue(), 5000);

    // Grown without an event (a network folder): it waits again, from when that was seen.
    disk.files["/m/a.m4a"] = {300, 14.0};
    EXPECT_TRUE(settling.takeSettled(5000, disk.look()).isEmpty());
    EXPECT_EQ(settling.size(), 1);
    EXPECT_EQ(settling.takeQuiet(6000), QStringList{"/m/a.m4a"});
    EXPECT_TRUE(settling.takeSettled(7999, disk.look()).isEmpty());
    EXPECT_EQ(settling.takeSettled(8000, disk.look()), QStringList{"/m/a.m4a"});
    EXPECT_EQ(settling.size(), 0);
    EXPECT_FALSE(settling.nextDue());
    EXPECT_TRUE(settling.takeSettled(20000, disk.look()).isEmpty()); // handed over once

    // Gone files leave; the rest come in natural order.
    settling.setDelay(500);
    for (const char *path : {"/m/memo 10.m4a", "/m/memo 2.m4a", "/m/Memo 1.m4a", "/m/parti.m4a",
                             "/m/sous/b.m4a", "/m/sous-dossier.m4a"}) {
        disk.files[path] = {1, 1.0};
        settling.touch(path, {1, 1.0}, 100);
    }
    disk.files.remove("/m/parti.m4a");
    settling.forgetUnder("/m/sous");
    settling.touch("/m/memo 10.m4a", {1, 1.0}, 300); // touched later: due later
    EXPECT_EQ(settling.nextDue(), 266);
    // Told without a look at the disk: whoever reads them ahead finds the gone one gone.
    EXPECT_EQ(settling.takeQuiet(266),
              (QStringList{"/m/Memo 1.m4a", "/m/memo 2.m4a", "/m/parti.m4a", "/m/sous-dossier.m4a"}));
    EXPECT_EQ(settling.nextDue(), 466);
    EXPECT_EQ(settling.takeQuiet(466), QStringList{"/m/memo 10.m4a"});
    EXPECT_EQ(settling.nextDue(), 600);
    EXPECT_EQ(settling.takeSettled(600, disk.look()), (QStringList{"/m/Memo 1.m4a", "/m/memo 2.m4a", "/m/sous-dossier.m4a"}));
    EXPECT_EQ(settling.nextDue(), 800);
    EXPECT_EQ(settling.takeSettled(800, disk.look()), QStringList{"/m/memo 10.m4a"});
    EXPECT_EQ(settling.size(), 0);

    settling.touch("/m/x.m4a", {1, 1.0}, 0);
    settling.forget("/m/x.m4a");
    settling.touch("/m/y.m4a", {1, 1.0}, 0);
    settling.clear();
    EXPECT_FALSE(settling.nextDue());
}

TEST(DurationsAhead, AReadingStandsForItsVersionIsTakenOnceAndAThousandPathsAtMostAreHeld) {
    Disk disk;
    DurationsAhead ahead;
    ahead.want({"/m/a.m4a", "/m/b.m4a", "/m/c.m4a"}, disk.look());
    ahead.want({"/m/a.m4a"}, disk.look()); // already wanted
    EXPECT_EQ(ahead.next(2), "/m/a.m4a");
    EXPECT_EQ(ahead.next(2), "/m/b.m4a");
    EXPECT_FALSE(ahead.next(2)) << "two at once at most";
    ahead.want({"/m/a.m4a"}, disk.look()); // being read
    ahead.finished("/m/a.m4a", FileIdentity{100, 5.0}, 3.5);
    ahead.finished("/m/b.m4a", FileIdentity{100, 5.0}, 2.0);
    EXPECT_EQ(ahead.next(2), "/m/c.m4a");
    ahead.finished("/m/c.m4a", FileIdentity{50, 1.0}, std::nullopt); // unreadable
    EXPECT_FALSE(ahead.next(2)) << "nothing left to read";

    EXPECT_FALSE(ahead.take("/m/a.m4a", FileIdentity{120, 5.0})) << "another version";
    EXPECT_FALSE(ahead.take("/m/a.m4a", FileIdentity{100, 5.0})) << "a reading is taken once";
    ahead.finished("/m/a.m4a", FileIdentity{100, 5.0}, 3.5);
    EXPECT_EQ(ahead.take("/m/a.m4a", FileIdentity{100, 5.0}), 3.5);
    EXPECT_FALSE(ahead.take("/m/b.m4a", FileIdentity{180, 6.0})) << "written to since";
    EXPECT_FALSE(ahead.take("/m/b.m4a", FileIdentity{100, 5.0})) << "dropped by the look at another version";
    EXPECT_FALSE(ahead.take("/m/c.m4a", FileIdentity{50, 1.0}));

    // A file whose turn came before its reading began is not read ahead any more.
    ahead.want({"/m/d.m4a", "/m/e.m4a"}, disk.look());
    EXPECT_FALSE(ahead.take("/m/d.m4a", FileIdentity{1, 1.0}));
    EXPECT_EQ(ahead.next(1), "/m/e.m4a");
    EXPECT_FALSE(ahead.next(2));

    // It holds a thousand paths at most; stale readings make room.
    DurationsAhead full;
    QStringList first;
    for (int i = 0; i < 1000; ++i) {
        first << QStringLiteral("/m/%1.m4a").arg(i);
        disk.files[first.last()] = FileIdentity{i, 1.0};
    }
    full.want(first, disk.look());
    for (int i = 0; i < 1000; ++i) {
        ASSERT_EQ(full.next(1), first[i]);
        full.finished(first[i], FileIdentity{i, 1.0}, 2.0);
    }
    // Full: a further file is read in its turn.
    full.want({"/m/autre.m4a"}, disk.look());
    EXPECT_FALSE(full.next(1));
    // One read file removed, another rewritten: their readings go, two places free.
    disk.files.remove("/m/0.m4a");
    disk.files["/m/1.m4a"] = FileIdentity{50, 9.0};
    full.want({"/m/autre.m4a", "/m/encore.m4a", "/m/trop.m4a"}, disk.look());
    EXPECT_EQ(full.next(2), "/m/autre.m4a");
    EXPECT_EQ(full.next(2), "/m/encore.m4a");
    EXPECT_FALSE(full.next(3));
    EXPECT_FALSE(full.take("/m/1.m4a", FileIdentity{1, 1.0}));
    EXPECT_EQ(full.take("/m/2.m4a", FileIdentity{2, 1.0}), 2.0);
    EXPECT_EQ(full.take("/m/999.m4a", FileIdentity{999, 1.0}), 2.0);
}

// ---------------------------------------------------------------- through the engine

class WatchedFolder : public EngineFixture {
protected:
    // Short enough for the tests, long beside the pauses of a slow writer.
    int settleMs = 400;

    void watch(const QString &folder) {
        QDir().mkpath(folder);
        engine->setSourceFolder(QUrl::fromLocalFile(folder));
        engine->setWatchSettleDelay(std::chrono::milliseconds(settleMs));
        engine->setWatching(true);
        ASSERT_TRUE(engine->isWatching());
    }
    void watch() { watch(src); }
    // Audio made outside the source folder, as a recorder would leave it.
    QByteArray sample(double seconds) {
        const QString path = makeAudio(home.file(QStringLiteral("samples/%1.m4a").arg(seconds)), seconds);
        return readWholeFile(path).value_or(QByteArray());
    }
    // The batches are over and nothing more comes after a few settle delays.
    bool quietWith(int calls, int timeoutMs = 30000) {
        if (!spinUntil([&] { return recogniserCalls() >= calls && !engine->isRunning(); }, timeoutMs)) return false;
        spin(3 * settleMs);
        return !engine->isRunning() && recogniserCalls() == calls;
    }
    // Renamed over it, as editors and syncs save.
    static bool replaceBy(const QString &from, const QString &to) {
        return ::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
    }
    double durationOf(const QString &name) const { return entryNamed(name).durationSeconds.value_or(-1); }
};

TEST_F(WatchedFolder, FilesWrittenSlowlyInPiecesAreTranscribedOnceAfterTheirLastWrite) {
    settleMs = 700;
    watch();
    const QByteArray longer = sample(3.0), shorter = sample(2.0);
    // Two recordings copied side by side, a piece every 100 ms for over a second.
    QFile a(src + "/a.m4a"), b(src + "/b.m4a");
    ASSERT_TRUE(a.open(QIODevice::WriteOnly) && b.open(QIODevice::WriteOnly));
    for (int i = 0; i < 12; ++i) {
        a.write(longer.mid(i * longer.size() / 12, (i + 1) * longer.size() / 12 - i * longer.size() / 12));
        b.write(shorter.mid(i * shorter.size() / 12, (i + 1) * shorter.size() / 12 - i * shorter.size() / 12));
        a.flush();
        b.flush();
        spin(100);
    }
    a.close();
    b.close();
    EXPECT_EQ(recogniserCalls(), 0) << "taken while still being written";
    EXPECT_TRUE(engine->files().isEmpty());
    ASSERT_TRUE(quietWith(2));
    // Each one whole: a half-written m4a has no duration to read.
    EXPECT_NEAR(durationOf("a.m4a"), 3.0, 0.1);
    EXPECT_NEAR(durationOf("b.m4a"), 2.0, 0.1);
    EXPECT_EQ(engine->doneCount(), 2);
    EXPECT_TRUE(QFileInfo::exists(src + "/a.txt") && QFileInfo::exists(src + "/b.txt"));
}

TEST_F(WatchedFolder, DurationsAreReadWhileFilesSettleForTheVersionThatSettles) {
    settleMs = 2400; // read after 0.8 s: time to spare on a busy machine before it settles
    watch();
    writeFile(src + "/memo.m4a", sample(1.2));
    ASSERT_TRUE(spinUntil([&] { return probeCalls() == 1; }, 5000));
    EXPECT_TRUE(engine->files().isEmpty()) << "read ahead, before it settled";
    ASSERT_TRUE(spinUntil([&] { return engine->doneCount() == 1 && !engine->isRunning(); }, 30000));
    EXPECT_EQ(probeCalls(), 1) << "its turn used the reading";
    EXPECT_NEAR(durationOf("memo.m4a"), 1.2, 0.1);

    // Written again once read: the version that settles is the one read.
    writeFile(src + "/autre.m4a", sample(1.2));
    ASSERT_TRUE(spinUntil([&] { return probeCalls() == 2; }, 5000));
    writeFile(src + "/autre.m4a", sample(2.0));
    ASSERT_TRUE(quietWith(2));
    EXPECT_NEAR(durationOf("autre.m4a"), 2.0, 0.1);
}

TEST_F(WatchedFolder, ABurstOfFiftyFilesGivesFiftyTranscriptsAndNothingMore) {
    updateSettings([](ParlivoSettings &s) { s.parallelism = std::min(2, maxParallelism()); });
    watch();
    const QByteArray memo = sample(1.2);
    for (int i = 1; i <= 50; ++i) writeFile(src + QStringLiteral("/rafale %1.m4a").arg(i), memo);
    ASSERT_TRUE(quietWith(50, 240000)); // 150 programs started: slow on a busy machine
    EXPECT_EQ(engine->files().size(), 50);
    EXPECT_EQ(engine->doneCount(), 50);
    for (int i = 1; i <= 50; ++i) EXPECT_TRUE(QFileInfo::exists(src + QStringLiteral("/rafale %1.txt").arg(i))) << i;
}

TEST_F(WatchedFolder, FoldersCreatedOrMovedInLaterAreWatchedToo) {
    watch();
    const QByteArray memo = sample(1.2);
    // Made and filled at once: the files may come before the folder's watch.
    writeFile(src + "/2024/janvier/a.m4a", memo);
    writeFile(src + "/2024/b.m4a", memo);
    ASSERT_TRUE(quietWith(2));

    // A folder made empty, filled once it is watched.
    QDir().mkpath(src + "/2025");
    spin(2 * settleMs);
    writeFile(src + "/2025/c.m4a", memo);
    ASSERT_TRUE(quietWith(3));

    // A folder of memos moved in from elsewhere, then a file added inside it.
    writeFile(home.file("ailleurs/voyage/d.m4a"), memo);
    ASSERT_TRUE(QDir().rename(home.file("ailleurs/voyage"), src + "/voyage"));
    ASSERT_TRUE(quietWith(4));
    writeFile(src + "/voyage/e.m4a", memo);
    ASSERT_TRUE(quietWith(5));
    for (const char *transcript : {"2024/janvier/a.txt", "2024/b.txt", "2025/c.txt", "voyage/d.txt", "voyage/e.txt"})
        EXPECT_TRUE(QFileInfo::exists(src + "/" + transcript)) << transcript;
}

TEST_F(WatchedFolder, AReplacedRecordingIsTranscribedAgainUnderItsNameEvenWhileBeingTranscribed) {
    watch();
    writeFile(src + "/memo.m4a", sample(1.2));
    ASSERT_TRUE(quietWith(1));
    EXPECT_NEAR(durationOf("memo.m4a"), 1.2, 0.1);

    // Saved the way editors and syncs save: a hidden file renamed over it.
    writeFile(src + "/.memo.m4a.tmp", sample(2.0));
    ASSERT_TRUE(replaceBy(src + "/.memo.m4a.tmp", src + "/memo.m4a"));
    ASSERT_TRUE(quietWith(2));
    EXPECT_NEAR(durationOf("memo.m4a"), 2.0, 0.1);

    // Overwritten in place.
    writeFile(src + "/memo.m4a", sample(1.6));
    ASSERT_TRUE(quietWith(3));
    EXPECT_NEAR(durationOf("memo.m4a"), 1.6, 0.1);
    EXPECT_EQ(entryNamed("memo.m4a").status, FileStatus::done);
    EXPECT_EQ(QDir(src).entryList({"*.txt"}), QStringList{"memo.txt"});

    // Its rights changed, not its content: nothing to transcribe.
    ::chmod(QFile::encodeName(src + "/memo.m4a").constData(), 0600);
    EXPECT_TRUE(quietWith(3));
    EXPECT_EQ(engine->files().size(), 1);

    // Replaced while it is being transcribed: transcribed again afterwards.
    ScopedEnv slow{"FAKE_WHISPER_DELAY", "1.5"};
    writeFile(src + "/memo.m4a", sample(1.2));
    ASSERT_TRUE(spinUntil([&] { return engine->runningCount() == 1; }));
    writeFile(src + "/.memo.m4a.tmp", sample(2.0));
    ASSERT_TRUE(replaceBy(src + "/.memo.m4a.tmp", src + "/memo.m4a"));
    ASSERT_TRUE(quietWith(5, 40000));
    EXPECT_NEAR(durationOf("memo.m4a"), 2.0, 0.1);
    EXPECT_EQ(engine->files().size(), 1);
    EXPECT_EQ(engine->doneCount(), 1);
}

TEST_F(WatchedFolder, ItsOwnOutputsHiddenFilesTheArchiveAndADestinationChosenWhileWatchingAreNeverInput) {
    updateSettings([](ParlivoSettings &s) {
        s.outputFormat = OutputFormat::both;
        s.subtitleFormat = SubtitleFormat::both;
    });
    watch();
    const QByteArray memo = sample(1.2);
    writeFile(src + "/memo.m4a", memo);
    ASSERT_TRUE(quietWith(1));
    for (const char *output : {"memo.txt", "memo.md", "memo.srt", "memo.vtt"})
        EXPECT_TRUE(QFileInfo::exists(src + "/" + output)) << output;

    // The organized archive (its default place is inside the source) holds
    // copies of recordings; hidden items and other files are not recordings.
    writeFile(src + "/Archive organisée/Travail/memo.m4a", memo);
    writeFile(src + "/.brouillons/b.m4a", memo);
    writeFile(src + "/.memo 2.m4a.part", memo);
    writeFile(src + "/notes.txt", "notes");
    ::mkfifo(QFile::encodeName(src + "/tube.m4a").constData(), 0600);
    EXPECT_TRUE(quietWith(1));
    EXPECT_EQ(engine->files().size(), 1);

    // A custom destination and an archive of its own inside the source, chosen while watching.
    QDir(src + "/Archive organisée").removeRecursively();
    updateSettings([&](ParlivoSettings &s) {
        s.destinationMode = DestinationMode::custom;
        s.customDestination = src + "/Transcriptions";
        s.organizeRoot = src + "/Rangement";
        s.subtitleFormat = SubtitleFormat::srt;
    });
    writeFile(src + "/autre.m4a", memo);
    ASSERT_TRUE(quietWith(2));
    EXPECT_TRUE(QFileInfo::exists(src + "/Transcriptions/autre.txt"));
    EXPECT_TRUE(QFileInfo::exists(src + "/Transcriptions/autre.srt"));
    writeFile(src + "/Transcriptions/copie.m4a", memo);
    writeFile(src + "/Rangement/Thème/memo.m4a", memo);
    EXPECT_TRUE(quietWith(2));
    EXPECT_EQ(engine->files().size(), 2);
}

TEST_F(WatchedFolder, TheWatchFollowsTheSourceFolderStopsWhenAskedAndWhenTheFolderGoes) {
    watch();
    EXPECT_TRUE(logHas("Surveillance du dossier active : " + src +
                       ". Les vocaux qui y arrivent sont transcrits dès qu'ils ne changent plus."));
    const QString other = home.file("autres mémos");
    watch(other);
    EXPECT_TRUE(logHas("Surveillance du dossier arrêtée : " + src));
    EXPECT_TRUE(logHas("Surveillance du dossier active : " + other));
    const QByteArray memo = sample(1.2);
    writeFile(src + "/ancien.m4a", memo);
    writeFile(other + "/nouveau.m4a", memo);
    ASSERT_TRUE(quietWith(1));
    EXPECT_TRUE(QFileInfo::exists(other + "/nouveau.txt"));

    engine->setWatching(false);
    EXPECT_FALSE(engine->isWatching());
    writeFile(other + "/plus tard.m4a", memo);
    EXPECT_TRUE(quietWith(1));

    engine->setWatching(true);
    ASSERT_TRUE(quietWith(2)); // what came meanwhile is found at the start
    ASSERT_TRUE(QDir(other).removeRecursively());
    ASSERT_TRUE(spinUntil([&] { return !engine->isWatching(); }));
    EXPECT_TRUE(logHas("Dossier surveillé introuvable : " + other + ". La surveillance s'arrête."));
}

TEST_F(WatchedFolder, WithoutAModelItIsDownloadedOnceThenEveryFileThatCameIsTranscribed) {
    FakeLlmServer repository;
    ScopedEnv base{"PARLIVO_MODEL_BASE_URL", repository.endpoint() + "/"};
    // Slow to answer: files settle during the download.
    repository.serve("/ggml-large-v3.bin", FakeReply::raw(200, QByteArray(64 * 1024, 'm')).delayed(1500));
    updateSettings([](ParlivoSettings &s) { s.modelPath.clear(); });
    watch();
    const QByteArray memo = sample(1.2);
    writeFile(src + "/a.m4a", memo);
    ASSERT_TRUE(spinUntil([&] { return engine->modelDownloadProgress().has_value(); }));
    writeFile(src + "/b.m4a", memo); // settles while the model is on its way
    ASSERT_TRUE(spinUntil([&] { return logCount("Dossier surveillé : ") == 2; }));
    ASSERT_TRUE(quietWith(2));
    EXPECT_EQ(repository.count("/ggml-large-v3.bin"), 1);
    EXPECT_EQ(logCount("Aucun modèle de transcription : téléchargement de ggml-large-v3.bin"), 1);
    EXPECT_EQ(engine->doneCount(), 2);
    EXPECT_EQ(engine->settings().modelPath, home.file(".hestia/ggml-large-v3.bin"));
}

} // namespace
