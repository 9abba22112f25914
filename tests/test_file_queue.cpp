// The queue on its own: the history of handled files, and the files that
// arrive. Its counters and progress show in every engine run.
#include <QSignalSpy>

#include "queue/file_queue.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

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
