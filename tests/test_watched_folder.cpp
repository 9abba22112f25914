// The watched source folder through the engine: real files written the way
// copies, syncs and recorders write them, real ffmpeg, the stand-in recogniser
// (every call of it is counted).
#include <QFileInfo>

#include <cstdio>
#include <sys/stat.h>

#include "support/engine_fixture.h"

using namespace testing_support;
using namespace std::chrono_literals;

namespace {

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
    const AudioFile *entryAt(const QString &path) const {
        for (const AudioFile &f : engine->files())
            if (f.path() == path) return &f;
        return nullptr;
    }
    double durationOf(const QString &path) const {
        const AudioFile *file = entryAt(path);
        return file && file->durationSeconds ? *file->durationSeconds : -1;
    }
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
    EXPECT_NEAR(durationOf(src + "/a.m4a"), 3.0, 0.1);
    EXPECT_NEAR(durationOf(src + "/b.m4a"), 2.0, 0.1);
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
    EXPECT_NEAR(durationOf(src + "/memo.m4a"), 1.2, 0.1);

    // Written again once read: the version that settles is the one read.
    writeFile(src + "/autre.m4a", sample(1.2));
    ASSERT_TRUE(spinUntil([&] { return probeCalls() == 2; }, 5000));
    writeFile(src + "/autre.m4a", sample(2.0));
    ASSERT_TRUE(quietWith(2));
    EXPECT_NEAR(durationOf(src + "/autre.m4a"), 2.0, 0.1);
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
    EXPECT_NEAR(durationOf(src + "/memo.m4a"), 1.2, 0.1);

    // Saved the way editors and syncs save: a hidden file renamed over it.
    writeFile(src + "/.memo.m4a.tmp", sample(2.0));
    ASSERT_TRUE(replaceBy(src + "/.memo.m4a.tmp", src + "/memo.m4a"));
    ASSERT_TRUE(quietWith(2));
    EXPECT_NEAR(durationOf(src + "/memo.m4a"), 2.0, 0.1);

    // Overwritten in place.
    writeFile(src + "/memo.m4a", sample(1.6));
    ASSERT_TRUE(quietWith(3));
    EXPECT_NEAR(durationOf(src + "/memo.m4a"), 1.6, 0.1);
    EXPECT_EQ(entryAt(src + "/memo.m4a")->status, FileStatus::done);
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
    EXPECT_NEAR(durationOf(src + "/memo.m4a"), 2.0, 0.1);
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
    ModelRepository repository;
    repository.delayMs = 1500; // slow to answer: files settle during the download
    updateSettings([](ParlivoSettings &s) { s.modelPath.clear(); });
    watch();
    const QByteArray memo = sample(1.2);
    writeFile(src + "/a.m4a", memo);
    ASSERT_TRUE(spinUntil([&] { return engine->modelDownloadProgress().has_value(); }));
    writeFile(src + "/b.m4a", memo); // settles while the model is on its way
    ASSERT_TRUE(spinUntil([&] { return logCount("Dossier surveillé : ") == 2; }));
    ASSERT_TRUE(quietWith(2));
    EXPECT_EQ(repository.requests, 1);
    EXPECT_EQ(logCount("Aucun modèle de transcription : téléchargement de ggml-large-v3.bin"), 1);
    EXPECT_EQ(engine->doneCount(), 2);
    EXPECT_EQ(engine->settings().modelPath, home.file(".hestia/ggml-large-v3.bin"));
}

} // namespace
