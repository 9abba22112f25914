// The settle rule on its own: a file is handed over once its size and date
// have held still for the delay, whatever the clock says in between; what is
// read of it ahead stands for that version only.
#include "support/test_support.h"
#include "pipeline/durations_ahead.h"
#include "watch/settling_files.h"

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

} // namespace
