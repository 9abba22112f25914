// The engine's state files: where they go, what they hold, how they load and
// when they are written, and the one write path every file goes through.
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <sys/stat.h>
#include <unistd.h>

#include "core/atomic_file.h"
#include "core/folders.h"
#include "core/json_coding.h"
#include "core/state_lock.h"
#include "core/unsaved_state.h"
#include "core/source_files.h"
#include "engine/transcriber.h"
#include "support/small_disk.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

// A queue file as an earlier session left it: (url, status, progress) per entry.
QByteArray queueJson(const QList<std::tuple<QString, const char *, double>> &files) {
    Json list = Json::array();
    for (const auto &[url, status, progress] : files)
        list.push_back({{"id", QStringLiteral("6B29FC4%1-CA47-1067-B31D-00DD010662DA").arg(list.size()).toStdString()},
                        {"url", url.toStdString()}, {"status", status}, {"progress", progress}});
    return dumpCompact({{"sourceFolder", "file:///nowhere"}, {"files", list}, {"wasRunning", true}});
}

TEST(StateStore, FilesGoUnderParlivoHomeCompactAndInOrder) {
    TempHome home;
    QTemporaryDir src;
    writeFile(src.path() + "/a.m4a", "x");
    {
        Transcriber engine{Tools{}};
        engine.setSourceFolder(QUrl::fromLocalFile(src.path()));
    }
    const QString dir = home.supportDir();
    for (const char *name : {"settings.json", "queue.json", "ledger.json"})
        EXPECT_TRUE(QFileInfo::exists(dir + "/" + name)) << name;
    const QByteArray queue = *readWholeFile(dir + "/queue.json");
    EXPECT_FALSE(queue.contains('\n'));
    EXPECT_TRUE(queue.startsWith("{\"sourceFolder\":\"file://")) << queue.constData();
    EXPECT_TRUE(queue.contains("\"wasRunning\":false}"));
    // Ids in upper case without braces, as queues already stored hold them.
    EXPECT_TRUE(QRegularExpression(R"("id":"[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}")")
                    .match(QString::fromUtf8(queue))
                    .hasMatch())
        << queue.constData();
    EXPECT_TRUE(readWholeFile(dir + "/settings.json")->startsWith("{\"modelPath\":\"\",\"language\":\"auto\""));
    // The settings file carries the API key: its owner only may read it.
    EXPECT_EQ(fileMode(dir + "/settings.json"), 0600);
}

TEST(StateStore, LoadBringsRunningEntriesBackPendingAtZeroAndRebuildsAnEmptyLedger) {
    TempHome home;
    const QString audio = writeFile(home.file("src/a.m4a"), "audio");
    writeFile(home.supportDir() + "/queue.json",
              queueJson({{QUrl::fromLocalFile(audio).toString(), "done", 1.0}, {"file:///nowhere/b.m4a", "running", 0.4}}));
    Transcriber engine{Tools{}};
    ASSERT_EQ(engine.files().size(), 2);
    EXPECT_EQ(engine.files()[0].progress, 1.0);
    EXPECT_EQ(engine.files()[1].status, FileStatus::pending);
    EXPECT_EQ(engine.files()[1].progress, 0);
    EXPECT_TRUE(engine.pendingWasRunning());
    EXPECT_FALSE(engine.hasPendingSave()); // loading never schedules a save
    ASSERT_EQ(engine.ledger().size(), 1u);
    const LedgerEntry &entry = engine.ledger().at(audio);
    EXPECT_EQ(entry.status, "done");
    EXPECT_EQ(entry.size, 5);
    EXPECT_NEAR(entry.mtime, fileIdentity(audio)->mtime, 1e-6);
    EXPECT_FALSE(entry.attempts);
}

TEST(StateStore, ABurstOfChangesGivesOneWriteAfterTheDelay) {
    TempHome home;
    Transcriber engine{Tools{}};
    QElapsedTimer sinceLastChange;
    QList<qint64> savedAfter; // milliseconds after the last change
    QObject::connect(&engine, &Transcriber::stateSaved, [&] { savedAfter << sinceLastChange.elapsed(); });
    ParlivoSettings s = engine.settings();
    for (int i = 1; i <= 10; ++i) {
        s.parallelism = i;
        engine.setSettings(s);
        sinceLastChange.start();
        spin(80);
    }
    EXPECT_TRUE(spinUntil([&] { return !savedAfter.isEmpty(); }, 5000));
    spin(300);
    ASSERT_EQ(savedAfter.size(), 1);
    // 1.2 s after the last change, not before; Qt's coarse timers may fire up to 5 % early.
    EXPECT_GE(savedAfter.first(), 1140);
    EXPECT_EQ(parseJson(readText(home.supportDir() + "/settings.json").toUtf8())["parallelism"], 10);

    // Changes that never pause (a busy batch) are saved 5 s after the first one all the same.
    savedAfter.clear();
    QElapsedTimer sinceFirstChange;
    QList<qint64> savedWhileChanging;
    QObject::connect(&engine, &Transcriber::stateSaved, [&] { savedWhileChanging << sinceFirstChange.elapsed(); });
    sinceFirstChange.start();
    for (int i = 1; i <= 22; ++i) {
        s.parallelism = i % 4 + 1;
        engine.setSettings(s);
        spin(300);
    }
    ASSERT_FALSE(savedWhileChanging.isEmpty());
    EXPECT_GE(savedWhileChanging.first(), 4750);
    EXPECT_LE(savedWhileChanging.first(), 5800);
}

// Gives a file a second name: while both names share the file, it has not
// been replaced (an atomic write gives the first name a new file).
QString witness(const QString &path) {
    const QString link = path + ".witness";
    QFile::remove(link);
    EXPECT_EQ(::link(QFile::encodeName(path).constData(), QFile::encodeName(link).constData()), 0) << path.toStdString();
    return link;
}
bool replaced(const QString &link) {
    struct stat st {};
    return ::stat(QFile::encodeName(link).constData(), &st) != 0 || st.st_nlink == 1;
}

TEST(StateStore, ASaveLeavesAloneTheFilesWhoseTextIsUnchanged) {
    TempHome home;
    QTemporaryDir src;
    writeFile(src.path() + "/a.m4a", "x");
    const QString dir = home.supportDir() + "/";
    {
        Transcriber engine{Tools{}};
        engine.setSourceFolder(QUrl::fromLocalFile(src.path()));
        engine.saveNow();
    }
    // As an earlier version could leave it: readable by others.
    QFile::setPermissions(dir + "settings.json", QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
    QString settings = witness(dir + "settings.json");
    const QString ledger = witness(dir + "ledger.json");
    QString queue = witness(dir + "queue.json");
    {
        Transcriber engine{Tools{}};
        writeFile(src.path() + "/b.m4a", "x");
        engine.rescan(); // the queue changes, the history does not
        engine.saveNow();
        EXPECT_FALSE(replaced(ledger)); // as read at start
        EXPECT_TRUE(replaced(queue));
        EXPECT_TRUE(replaced(settings)); // rewritten for its owner alone
        EXPECT_EQ(QFile::permissions(dir + "settings.json") & QFile::ReadOther, 0);
    }
    settings = witness(dir + "settings.json");
    queue = witness(dir + "queue.json");
    {
        Transcriber engine{Tools{}};
        engine.setSettings([&] {
            ParlivoSettings s = engine.settings();
            s.language = "fr";
            return s;
        }());
        engine.saveNow();
        EXPECT_TRUE(replaced(settings));
        EXPECT_FALSE(replaced(queue));
        // Removed meanwhile, an unchanged file is written again.
        QFile::remove(dir + "ledger.json");
        engine.saveNow();
        EXPECT_EQ(readWholeFile(dir + "ledger.json"), "{}");
    }
    // A history read from the disk and then changed is written with the change.
    const QByteArray key = src.path().toUtf8() + "/a.m4a";
    writeFile(dir + "ledger.json", "{\"" + key + R"(":{"size":1,"mtime":2,"status":"error","date":3,"attempts":2}})");
    Transcriber engine{Tools{}};
    engine.retry({engine.files()[0].id});
    engine.saveNow();
    EXPECT_EQ(readWholeFile(dir + "ledger.json")->toStdString(),
              ("{\"" + key + R"(":{"size":1,"mtime":2.0,"status":"error","date":3.0,"attempts":0}})").toStdString());
}

TEST(StateStore, UndecodableFilesAreSetAsideAndDefaultsUsed) {
    TempHome home;
    const QString dir = home.supportDir();
    writeFile(dir + "/settings.json", R"({"correctionBackend":"ollama","language":)");
    writeFile(dir + "/queue.json", queueJson({{"file:///x/a.m4a", "paused", 0}}));
    writeFile(dir + "/queue.json.corrupt", "older");
    writeFile(dir + "/ledger.json", R"({"/x/a.m4a":{"size":1,"mtime":2,"status":"done","date":3}})");
    Transcriber engine{Tools{}};
    EXPECT_EQ(engine.settings(), ParlivoSettings{});
    EXPECT_TRUE(engine.files().isEmpty());
    EXPECT_EQ(engine.ledger().size(), 1u); // the ledger still loads on its own
    EXPECT_FALSE(QFileInfo::exists(dir + "/settings.json"));
    EXPECT_TRUE(readWholeFile(dir + "/settings.json.corrupt")->contains("language"));
    EXPECT_TRUE(readWholeFile(dir + "/queue.json.corrupt")->contains("paused"));
    EXPECT_EQ(engine.logLines().filter("queue.json.corrupt").size(), 1);
    // Saving writes fresh files and leaves the set-aside copies alone.
    engine.saveNow();
    EXPECT_TRUE(QFileInfo::exists(dir + "/settings.json"));
    EXPECT_TRUE(QFileInfo::exists(dir + "/settings.json.corrupt"));
}

// A command that prints the settings or the queue reads only what it prints:
// a broken history is neither reported nor set aside, and nothing is written
// (the files left unread would be replaced by empty ones).
TEST(StateStore, APartialReadLeavesTheOtherFilesUnreadAndWritesNothing) {
    TempHome home;
    const QString dir = home.supportDir();
    writeFile(dir + "/settings.json", R"({"language":"fr"})");
    writeFile(dir + "/queue.json", queueJson({{"file:///x/a.m4a", "done", 1.0}}));
    writeFile(dir + "/ledger.json", "pas du JSON");
    {
        Transcriber engine{Tools{}, StateParts::settings};
        EXPECT_EQ(engine.settings().language, "fr");
        EXPECT_TRUE(engine.files().isEmpty());
    }
    Transcriber engine{Tools{}, StateParts::settingsAndQueue};
    EXPECT_EQ(engine.files().size(), 1);
    EXPECT_TRUE(engine.logLines().isEmpty());
    ParlivoSettings changed = engine.settings();
    changed.language = "en";
    engine.setSettings(changed);
    engine.saveNow();
    spin(50);
    EXPECT_EQ(readText(dir + "/settings.json"), R"({"language":"fr"})");
    EXPECT_EQ(readText(dir + "/ledger.json"), "pas du JSON");
    EXPECT_FALSE(QFileInfo::exists(dir + "/ledger.json.corrupt"));

    // A broken file it does read is reported but left in place: without the
    // lock, a rename could hide the file another program is writing.
    writeFile(dir + "/queue.json", "{");
    Transcriber looking{Tools{}, StateParts::settingsAndQueue};
    EXPECT_TRUE(looking.files().isEmpty());
    ASSERT_EQ(looking.logLines().size(), 1);
    EXPECT_TRUE(looking.logLines().first().endsWith(
        "Fichier d'état illisible : queue.json. Les valeurs par défaut sont affichées ; il sera mis de côté au "
        "prochain lancement de Parlivo."));
    EXPECT_EQ(readText(dir + "/queue.json"), "{");
    EXPECT_FALSE(QFileInfo::exists(dir + "/queue.json.corrupt"));
}

// Converted recordings are the user's voice: the shared temporary folder gets
// a folder of this user's own, which nobody else may enter or replace, and
// in it one folder per state folder, which only that state's batches clean up.
TEST(ScratchFolder, PrivateToTheUserOnePerStateFolderAndNeverAFolderSomeoneElseLeftThere) {
    TempHome home;
    const QString mine = home.file(QStringLiteral("tmp/Parlivo-%1").arg(::geteuid()));
    const QString here = folders::tempDir();
    EXPECT_EQ(QFileInfo(here).absolutePath(), mine);
    EXPECT_EQ(QFileInfo(here).fileName().size(), 16);
    EXPECT_EQ(folders::tempDir(), here);
    EXPECT_EQ(fileMode(mine), 0700);
    EXPECT_EQ(fileMode(here), 0700);
    {
        ScopedEnv otherState{{"PARLIVO_HOME", home.file("autre")}};
        const QString there = folders::tempDir();
        EXPECT_EQ(QFileInfo(there).absolutePath(), mine);
        EXPECT_NE(there, here);
    }
    ::chmod(QFile::encodeName(mine).constData(), 0755); // left open by an earlier version
    EXPECT_EQ(folders::tempDir(), here);
    EXPECT_EQ(fileMode(mine), 0700);

    // A link under that name is not followed, even to a private-looking folder:
    // whoever made the link chose where the recordings would go.
    const QString instead = home.supportDir() + "/Scratch";
    ASSERT_TRUE(QDir(mine).removeRecursively());
    QDir().mkpath(home.file("ailleurs"));
    ::chmod(QFile::encodeName(home.file("ailleurs")).constData(), 0700);
    ASSERT_EQ(::symlink(QFile::encodeName(home.file("ailleurs")).constData(), QFile::encodeName(mine).constData()), 0);
    EXPECT_EQ(folders::tempDir(), instead);
    EXPECT_EQ(fileMode(instead), 0700);

    if (::geteuid() != 0) GTEST_SKIP() << "another user's folder needs root to be made here";
    ASSERT_EQ(::unlink(QFile::encodeName(mine).constData()), 0);
    QDir().mkpath(mine);
    ASSERT_EQ(::chown(QFile::encodeName(mine).constData(), 65534, 65534), 0);
    ::chmod(QFile::encodeName(mine).constData(), 0700);
    EXPECT_EQ(folders::tempDir(), instead);
}

TEST(UnsavedState, AFileThatKeepsFailingIsReportedOnceAndItsRecoveryOnce) {
    UnsavedState state;
    const WriteError full{"Disque plein : « /état/queue.json » n'a pas pu être écrit.", true};
    const WriteError refused{"« /état/ledger.json » : accès refusé"};
    EXPECT_EQ(state.record({{"settings.json", std::nullopt}, {"queue.json", full}}),
              "État non enregistré : Disque plein : « /état/queue.json » n'a pas pu être écrit. Nouvel essai à la "
              "prochaine modification.");
    EXPECT_TRUE(state.any());
    EXPECT_EQ(state.record({{"settings.json", std::nullopt}, {"queue.json", full}}), std::nullopt);
    // The same full disk met by another file is not news either.
    const WriteError fullToo{"Disque plein : « /état/settings.json » n'a pas pu être écrit.", true};
    EXPECT_EQ(state.record({{"settings.json", fullToo}, {"queue.json", full}}), std::nullopt);
    EXPECT_EQ(state.record({{"settings.json", std::nullopt}}), std::nullopt);
    // Another file failing is news; its reason gets the closing full stop.
    EXPECT_EQ(state.record({{"queue.json", full}, {"ledger.json", refused}}),
              "État non enregistré : « /état/ledger.json » : accès refusé. Nouvel essai à la prochaine modification.");
    EXPECT_EQ(state.record({{"queue.json", std::nullopt}}), std::nullopt); // ledger.json still behind
    EXPECT_EQ(state.record({{"ledger.json", std::nullopt}}), "État de nouveau enregistré.");
    EXPECT_FALSE(state.any());
    EXPECT_EQ(state.record({{"ledger.json", std::nullopt}}), std::nullopt);
}

TEST(StateLock, TheRefusalNamesTheHolderAsTheUserKnowsIt) {
    EXPECT_EQ(holderDescription({4242, "parlivo"}), "la fenêtre de Parlivo (processus 4242)");
    EXPECT_EQ(holderDescription({17, "parlivo-cli"}), "parlivo-cli (processus 17)");
    EXPECT_EQ(holderDescription({18, "parlivo-engine"}), "parlivo-cli (processus 18)");
    EXPECT_EQ(holderDescription({19, "parlivo-state"}), "parlivo-cli (processus 19)");
    EXPECT_EQ(lockHeldMessage("/home/léa/.local/share/Parlivo", StateLock::Holder{17, "parlivo-cli"}),
              "Le dossier d'état « /home/léa/.local/share/Parlivo » est déjà utilisé par parlivo-cli (processus 17). "
              "Attends la fin de son travail ou ferme-le, puis réessaie.");
    EXPECT_EQ(lockHeldMessage("/état", std::nullopt),
              "Le dossier d'état « /état » est déjà utilisé. Attends la fin de son travail ou ferme-le, puis réessaie.");
}

TEST(Log, KeepsTheLast500LinesWithATimePrefix) {
    TempHome home;
    Transcriber engine{Tools{}};
    engine.clearLog();
    EXPECT_TRUE(engine.logLines().isEmpty());
    for (int i = 1; i <= 501; ++i) engine.log(QString::number(i));
    ASSERT_EQ(engine.logLines().size(), 500);
    EXPECT_TRUE(engine.logLines().first().endsWith("] 2"));
    EXPECT_TRUE(QRegularExpression("^\\[\\d\\d:\\d\\d:\\d\\d\\] 501$").match(engine.logLines().last()).hasMatch());
    engine.clearLog();
    EXPECT_TRUE(engine.logLines().isEmpty());
}

// ---------------------------------------------------------------- the one write path

// A file is replaced only once all of it reached the disk; on a full disk the
// previous file stays and no temporary file is left.
TEST(AtomicFile, ReplacesTheWholeFileKeepsTheKeyFileToItsOwnerAndNamesAMissingFolder) {
    QTemporaryDir dir;
    const QString path = writeFile(dir.filePath("settings.json"), "{\"ancien\":true}");
    ASSERT_EQ(writeFileAtomically(path, "{\"nouveau\":1}", FileAccess::ownerOnly), std::nullopt);
    EXPECT_EQ(readText(path), "{\"nouveau\":1}");
    EXPECT_EQ(fileMode(path), 0600);
    EXPECT_EQ(namesIn(dir.path()), QStringList{"settings.json"});

    const QString absent = dir.filePath("absent/memo.txt");
    const auto error = writeFileAtomically(absent, "texte");
    ASSERT_TRUE(error);
    EXPECT_FALSE(error->diskFull);
    EXPECT_EQ(error->reason, "« " + absent + " » : dossier introuvable");
}

class AtomicFileOnAFullDisk : public ::testing::Test {
protected:
    QTemporaryDir dir;
    SmallDisk disk{dir.filePath("disque"), 64};
    QString path = disk.folder() + "/queue.json";

    void SetUp() override {
        if (!disk.mounted()) GTEST_SKIP() << disk.whyNot().toStdString();
        writeFile(path, "{\"files\":[\"avant\"]}");
        disk.fill();
    }

    void expectRefusedAndNothingChanged(const QByteArray &data) {
        const auto error = writeFileAtomically(path, data);
        ASSERT_TRUE(error) << "a write on a full disk was reported as done";
        EXPECT_TRUE(error->diskFull);
        EXPECT_EQ(error->reason, "Disque plein : « " + path + " » n'a pas pu être écrit.");
        EXPECT_EQ(readText(path), "{\"files\":[\"avant\"]}");
        EXPECT_EQ(namesIn(disk.folder()), (QStringList{".filler", "queue.json"})) << "temporary file left";
    }
};

// Small, large, half fitting or piece by piece, a write on a full disk
// leaves the previous file whole; once there is room it goes through.
TEST_F(AtomicFileOnAFullDisk, NoWriteReplacesThePreviousFileUntilThereIsRoom) {
    // A few bytes sit in a buffer until the commit flushes them: the case Qt's
    // own commit() gets wrong.
    expectRefusedAndNothingChanged("{\"files\":[]}");
    expectRefusedAndNothingChanged(QByteArray(200000, 'a'));
    disk.freeUp();
    disk.fill(8192); // two pages free: the first part of the data fits, not the rest
    expectRefusedAndNothingChanged(QByteArray(50000, 'b'));

    disk.freeUp();
    disk.fill(4096);
    {
        AtomicFile file(path);
        ASSERT_EQ(file.open(), std::nullopt);
        EXPECT_EQ(file.write(QByteArray(3000, 'c')), std::nullopt); // fits in the one free page
        const auto error = file.write(QByteArray(10000, 'd'));
        ASSERT_TRUE(error);
        EXPECT_TRUE(error->diskFull);
        // Everything after the failure reports it too: a commit cannot slip through.
        const auto commit = file.commit();
        ASSERT_TRUE(commit);
        EXPECT_EQ(commit->reason, error->reason);
    }
    EXPECT_EQ(readText(path), "{\"files\":[\"avant\"]}");
    EXPECT_EQ(namesIn(disk.folder()), (QStringList{".filler", "queue.json"}));

    disk.freeUp();
    EXPECT_EQ(writeFileAtomically(path, "{\"files\":[\"après\"]}"), std::nullopt);
    EXPECT_EQ(readText(path), "{\"files\":[\"après\"]}");
}

} // namespace
