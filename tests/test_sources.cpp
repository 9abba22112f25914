// Source folders: scanning, restoring finished files from the ledger, and
// where transcripts go.
#include <QFile>
#include <QLocale>
#include <QSignalSpy>

#include <fcntl.h>
#include <sys/stat.h>

#include "core/json_coding.h"
#include "core/source_files.h"
#include "engine/transcriber.h"
#include "queue/file_queue.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

QStringList names(const QList<QUrl> &urls) {
    QStringList out;
    for (const QUrl &u : urls) out << u.fileName();
    return out;
}

TEST(Scan, NaturalOrderSkipsHiddenPackagesAndAssetsWhateverTheLocale) {
    QTemporaryDir dir;
    for (const char *name : {"b10.m4a", "b2.m4a", "A1.MP3", ".hidden.m4a", "notes.txt", "ApplicationAssets/x.m4a",
                             ".cache/y.m4a", "Memo.app/z.m4a", "sub/MEMO.WAV", "sub/c.opus"})
        writeFile(dir.path() + "/" + name, "x");
    // A linked folder is not followed (it could loop); a linked file counts.
    QFile::link(dir.path() + "/sub", dir.path() + "/zz-loop");
    QFile::link(dir.path() + "/b2.m4a", dir.path() + "/sub/lien.m4a");
    const QUrl folder = QUrl::fromLocalFile(dir.path());
    const QStringList expected = {"A1.MP3", "b2.m4a", "b10.m4a", "c.opus", "lien.m4a", "MEMO.WAV"};
    EXPECT_EQ(names(scanAudioFiles(folder, Transcriber::audioExtensions)), expected);
    QLocale::setDefault(QLocale(QLocale::French, QLocale::France));
    EXPECT_EQ(names(scanAudioFiles(folder, Transcriber::audioExtensions)), expected);
    QLocale::setDefault(QLocale::c());
    EXPECT_EQ(names(scanAudioFiles(folder, Transcriber::audioExtensions)), expected);
    EXPECT_TRUE(scanAudioFiles(QUrl::fromLocalFile(dir.path() + "/missing"), Transcriber::audioExtensions).isEmpty());

    // Leaving out the prefix all paths share keeps the order of the full paths.
    const QString prefix = "/Mémos 2/";
    QStringList full;
    for (const char *rest : {"b 10/x.m4a", "b 9/x.m4a", "b9.m4a", "B 9 a.m4a", "é/1.m4a", "e/2.m4a", "b 9.m4a"})
        full.append(prefix + rest);
    QStringList cut = full;
    naturalSort(full);
    naturalSort(cut, prefix.size());
    EXPECT_EQ(cut, full);
}

TEST(Paths, RelativePathAndDestinations) {
    auto url = [](const char *p) { return QUrl::fromLocalFile(p); };
    EXPECT_EQ(relativePath(url("/src/2024/janvier"), url("/src")), "2024/janvier");
    EXPECT_EQ(relativePath(url("/src/"), url("/src")), "");
    EXPECT_EQ(relativePath(url("/other/place"), url("/src/x")), "other/place");

    TempHome home;
    Transcriber engine{Tools{}};
    const QUrl deep = url("/src/2024/janvier/a.m4a");
    EXPECT_EQ(engine.destinationDir(deep), "/src/2024/janvier");
    EXPECT_EQ(engine.outputLocationDescription(),
              "Les transcriptions (.txt / .md) sont à côté de chaque vocal, dans le dossier source.");
    ParlivoSettings s = engine.settings();
    s.destinationMode = DestinationMode::custom;
    engine.setSettings(s);
    EXPECT_EQ(engine.destinationDir(deep), "/src/2024/janvier"); // custom without a path
    EXPECT_EQ(engine.outputLocationDescription(), "Les transcriptions sont à côté de chaque vocal.");
    s.customDestination = "/out";
    engine.setSettings(s);
    EXPECT_EQ(engine.destinationDir(deep), "/out"); // no source folder chosen yet
    QTemporaryDir src;
    engine.setSourceFolder(QUrl::fromLocalFile(src.path()));
    EXPECT_EQ(engine.destinationDir(QUrl::fromLocalFile(src.path() + "/2024/janvier/a.m4a")), "/out/2024/janvier");
    EXPECT_EQ(engine.destinationDir(QUrl::fromLocalFile(src.path() + "/a.m4a")), "/out");
    EXPECT_EQ(engine.outputRootFolder(), url("/out"));
    EXPECT_EQ(engine.outputLocationDescription(), "Les transcriptions sont dans : /out");

    writeFile(src.path() + "/a.md", "");
    EXPECT_EQ(existingOutputPath(src.path() + "/a.txt", src.path() + "/a.md"), src.path() + "/a.md");
    writeFile(src.path() + "/a.txt", "");
    EXPECT_EQ(existingOutputPath(src.path() + "/a.txt", src.path() + "/a.md"), src.path() + "/a.txt");
    EXPECT_FALSE(existingOutputPath(src.path() + "/b.txt", src.path() + "/b.md"));
}

// A folder of four files with ledger entries written by an earlier session.
class Restore : public ::testing::Test {
protected:
    TempHome home;
    QString src = home.file("memos");
    QString path(const char *name) const { return src + "/" + name; }

    void SetUp() override {
        for (const char *name : {"done.m4a", "moved.m4a", "resized.m4a", "empty.m4a", "failed.m4a", "close.m4a"})
            writeFile(path(name), "12345");
        Ledger ledger;
        auto entry = [&](const char *name, const char *status, double shift, qint64 size) {
            const FileIdentity id = *fileIdentity(path(name));
            LedgerEntry e{size, id.mtime + shift, status, std::nullopt, 0, std::nullopt, std::nullopt};
            if (QString(status) == "done") e.outputPath = path(name) + ".txt";
            if (QString(status) != "done") e.errorMessage = "Trop court";
            ledger[path(name)] = e;
        };
        entry("done.m4a", "done", 0, 5);
        entry("close.m4a", "done", 0.5, 5);
        entry("moved.m4a", "done", 1.0, 5);
        entry("resized.m4a", "done", 0, 6);
        entry("empty.m4a", "empty", 0, 5);
        entry("failed.m4a", "error", 0, 5);
        writeFile(home.supportDir() + "/ledger.json", encodeLedger(ledger));
    }

    static AudioFile entryOf(const Transcriber &e, const QString &p) {
        for (const auto &f : e.files())
            if (f.path() == p) return f;
        ADD_FAILURE() << "not queued: " << p.toStdString();
        return AudioFile{};
    }
    static FileStatus statusOf(const Transcriber &e, const QString &p) { return entryOf(e, p).status; }
};

TEST_F(Restore, UnchangedFilesComeBackFromTheLedgerAndARescanKeepsThem) {
    Transcriber engine{Tools{}};
    engine.setSourceFolder(QUrl::fromLocalFile(src));
    EXPECT_EQ(statusOf(engine, path("done.m4a")), FileStatus::done);
    EXPECT_EQ(statusOf(engine, path("close.m4a")), FileStatus::done); // 0.5 s apart
    EXPECT_EQ(statusOf(engine, path("moved.m4a")), FileStatus::pending);
    EXPECT_EQ(statusOf(engine, path("resized.m4a")), FileStatus::pending);
    EXPECT_EQ(statusOf(engine, path("empty.m4a")), FileStatus::empty);
    EXPECT_EQ(statusOf(engine, path("failed.m4a")), FileStatus::pending);
    EXPECT_EQ(engine.doneCount(), 2);
    EXPECT_EQ(engine.pendingCount(), 3);
    EXPECT_EQ(entryOf(engine, path("done.m4a")).outputPath, path("done.m4a") + ".txt");
    EXPECT_EQ(entryOf(engine, path("empty.m4a")).errorMessage, "Trop court");
    EXPECT_TRUE(engine.logLines().last().endsWith("Dossier scanné : " + src + " - 6 fichier(s) audio trouvé(s)."));

    // A rescan keeps the finished entries and rebuilds the others.
    QHash<QString, QUuid> before;
    for (const auto &f : engine.files()) before[f.path()] = f.id;
    QFile::remove(path("resized.m4a"));
    writeFile(path("new.m4a"), "x");
    setMtime(path("close.m4a"), fileIdentity(path("close.m4a"))->mtime + 5); // edited since its transcript
    engine.rescan();
    EXPECT_EQ(engine.files().size(), 6);
    EXPECT_EQ(entryOf(engine, path("done.m4a")).id, before[path("done.m4a")]);
    EXPECT_NE(entryOf(engine, path("moved.m4a")).id, before[path("moved.m4a")]);
    EXPECT_EQ(statusOf(engine, path("close.m4a")), FileStatus::pending);
    for (const auto &f : engine.files()) EXPECT_NE(f.path(), path("resized.m4a"));
    EXPECT_TRUE(engine.logLines().last().endsWith("Nouveau scan : 6 fichier(s)."));
    // The scan was saved at once (by the writer thread): a new engine sees the same queue.
    ASSERT_TRUE(runTask(engine.waitForSaves()));
    EXPECT_EQ(Transcriber{Tools{}}.files(), engine.files());

    // A file touched on disk no longer matches its entry.
    setMtime(path("done.m4a"), fileIdentity(path("done.m4a"))->mtime + 2);
    engine.setSourceFolder(QUrl::fromLocalFile(src));
    EXPECT_EQ(statusOf(engine, path("done.m4a")), FileStatus::pending);
}

TEST(VoiceMemosAndReveal, MissingFolderIsLoggedAndTheOutputRootIsOpenedWhenThereIsOne) {
    TempHome home;
    Transcriber engine{Tools{}};
    QList<QUrl> opened;
    engine.setUrlOpener([&](const QUrl &u) { opened << u; });
    engine.revealOutputFolder();
    EXPECT_TRUE(opened.isEmpty());
    QTemporaryDir src;
    engine.setSourceFolder(QUrl::fromLocalFile(src.path()));
    engine.revealOutputFolder();
    EXPECT_EQ(opened, QList<QUrl>{QUrl::fromLocalFile(src.path())});

    if (engine.macVoiceMemosFolder()) GTEST_SKIP() << "this machine has a Voice Memos folder";
    engine.useMacVoiceMemos();
    EXPECT_TRUE(engine.logLines().last().endsWith("Dossier des mémos vocaux du Mac introuvable. Active la synchro "
                                                  "iCloud des mémos vocaux, ou choisis le dossier manuellement."));
    EXPECT_EQ(engine.sourceFolder(), QUrl::fromLocalFile(src.path()));
}

// Identities of many files read at once, as a scan of a large folder does.
TEST(FileIdentities, EachPathGetsItsOwnIdentityWhateverTheThreadThatReadIt) {
    TempHome home;
    // Enough files for the work to be shared out; sizes 1 to 7 bytes, every
    // fifth file missing.
    QStringList paths;
    for (int i = 0; i < 2003; ++i) {
        paths << home.file(QStringLiteral("memos/%1.m4a").arg(i));
        if (i % 5 != 4) writeFile(paths.last(), QByteArray(i % 7 + 1, 'x'));
    }
    const QList<std::optional<FileIdentity>> identities = fileIdentities(paths);
    ASSERT_EQ(identities.size(), 2003);
    for (int i = 0; i < 2003; ++i) {
        if (i % 5 == 4) {
            EXPECT_FALSE(identities[i]) << i;
        } else {
            ASSERT_TRUE(identities[i]) << i;
            EXPECT_EQ(identities[i]->size, i % 7 + 1) << i;
        }
    }
    EXPECT_TRUE(fileIdentities({}).isEmpty());
}

// ---------------------------------------------------------------- the queue on its own

// The history of handled files, and the files that arrive. Its counters and
// progress show in every engine run.
struct QueueBench {
    TempHome home;
    EventLog log;
    FileQueue queue{log, [] { return QStringList(); }};

    QString audio(const QString &name, const QByteArray &bytes = "audio") {
        return writeFile(home.file("src/" + name), bytes);
    }
    void scan() { queue.setSourceFolder(QUrl::fromLocalFile(home.file("src"))); }
    QUuid idOf(const QString &name) const {
        for (const auto &f : queue.files())
            if (f.fileName() == name) return f.id;
        return {};
    }
};

TEST(FileQueue, TheHistoryCountsFailedAttemptsAndRestoresFinishedFilesUntilTheyChange) {
    QueueBench bench;
    const QString a = bench.audio("a.m4a"), b = bench.audio("b.m4a");
    bench.scan();
    QSignalSpy saves(&bench.queue, &FileQueue::saveWanted);
    bench.queue.recordLedger(a, "error", std::nullopt, QString("illisible"));
    bench.queue.recordLedger(a, "error", std::nullopt, QString("illisible"));
    EXPECT_EQ(bench.queue.ledger().at(a).attempts, 2);
    bench.queue.recordLedger(a, "done", QString("/t/a.txt"), std::nullopt);
    EXPECT_EQ(bench.queue.ledger().at(a).attempts, 0);
    bench.queue.recordLedger(b, "empty", std::nullopt, QString("Vocal vide"));
    EXPECT_EQ(saves.size(), 4);
    EXPECT_EQ(bench.queue.ledger().at(a).size, 5); // "audio"

    // A new scan takes the history's word for unchanged files only.
    writeFile(b, "longer audio");
    bench.scan();
    EXPECT_EQ(bench.queue.entry(bench.idOf("a.m4a"))->status, FileStatus::done);
    EXPECT_EQ(bench.queue.entry(bench.idOf("a.m4a"))->outputPath, std::optional<QString>("/t/a.txt"));
    EXPECT_EQ(bench.queue.entry(bench.idOf("b.m4a"))->status, FileStatus::pending);
    EXPECT_FALSE(bench.queue.matchingLedgerEntry(b));
}

TEST(FileQueue, ArrivalsAreQueuedOnceAndAFinishedFileOnlyWhenItIsNoLongerTheVersionHeld) {
    QueueBench bench;
    const QString done = bench.audio("fait.m4a"), replaced = bench.audio("remplacé.m4a");
    const QString running = bench.audio("en cours.m4a"), waiting = bench.audio("en attente.m4a");
    bench.scan();
    for (const QString &path : {done, replaced}) bench.queue.recordLedger(path, "done", path + ".txt", std::nullopt);
    bench.queue.setStatus(bench.idOf("fait.m4a"), FileStatus::done);
    bench.queue.setStatus(bench.idOf("remplacé.m4a"), FileStatus::done);
    bench.queue.setStatus(bench.idOf("en cours.m4a"), FileStatus::running);
    writeFile(replaced, "a newer recording");
    const QString fresh = bench.audio("sous-dossier/nouveau.m4a");
    // A new file the history already holds as it is (moved back in) comes back done.
    const QString known = bench.audio("connu.m4a");
    bench.queue.recordLedger(known, "done", known + ".txt", std::nullopt);

    QSignalSpy saves(&bench.queue, &FileQueue::saveWanted);
    const FileQueue::Arrivals arrivals = bench.queue.admit({done, replaced, running, waiting, fresh, known});
    EXPECT_EQ(arrivals.pending, (QSet<QUuid>{bench.idOf("remplacé.m4a"), bench.idOf("en attente.m4a"),
                                            bench.idOf("nouveau.m4a")}));
    EXPECT_EQ(arrivals.busy, QStringList{running});
    ASSERT_EQ(bench.queue.files().size(), 6);
    EXPECT_EQ(bench.queue.entry(bench.idOf("fait.m4a"))->status, FileStatus::done);
    EXPECT_EQ(bench.queue.entry(bench.idOf("remplacé.m4a"))->status, FileStatus::pending);
    EXPECT_EQ(bench.queue.entry(bench.idOf("connu.m4a"))->status, FileStatus::done);
    EXPECT_EQ(bench.queue.files().last().path(), known);
    EXPECT_EQ(bench.queue.count(FileStatus::pending), 3);
    EXPECT_EQ(saves.size(), 1);

    // Offered again, nothing is queued twice.
    const FileQueue::Arrivals again = bench.queue.admit({fresh, waiting});
    EXPECT_EQ(again.pending.size(), 2);
    EXPECT_EQ(bench.queue.files().size(), 6);
}

} // namespace
