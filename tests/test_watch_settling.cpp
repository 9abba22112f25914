// The settle rule on its own: a file is handed over once its size and date
// have held still for the delay, whatever the clock says in between.
#include "support/test_support.h"
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

TEST(SettlingFiles, AFileSettlesOnlyAfterHoldingStillForTheWholeDelay) {
    Disk disk;
    SettlingFiles settling;
    EXPECT_EQ(settling.delay(), 3000);
    disk.files["/m/a.m4a"] = {100, 10.0};
    settling.touch("/m/a.m4a", {100, 10.0}, 0);
    EXPECT_EQ(settling.nextDue(), 3000);
    EXPECT_TRUE(settling.takeSettled(2999, disk.look()).isEmpty());

    // Another piece written at 2 s: the wait starts again from there.
    disk.files["/m/a.m4a"] = {200, 12.0};
    settling.touch("/m/a.m4a", {200, 12.0}, 2000);
    EXPECT_TRUE(settling.takeSettled(3000, disk.look()).isEmpty());
    EXPECT_EQ(settling.nextDue(), 5000);

    // Grown without an event (a network folder): it waits again, from when that was seen.
    disk.files["/m/a.m4a"] = {300, 14.0};
    EXPECT_TRUE(settling.takeSettled(5000, disk.look()).isEmpty());
    EXPECT_EQ(settling.size(), 1);
    EXPECT_TRUE(settling.takeSettled(7999, disk.look()).isEmpty());
    EXPECT_EQ(settling.takeSettled(8000, disk.look()), QStringList{"/m/a.m4a"});
    EXPECT_EQ(settling.size(), 0);
    EXPECT_FALSE(settling.nextDue());
    EXPECT_TRUE(settling.takeSettled(20000, disk.look()).isEmpty()); // handed over once
}

TEST(SettlingFiles, GoneFilesLeaveAndTheRestComeInNaturalOrder) {
    Disk disk;
    SettlingFiles settling;
    settling.setDelay(500);
    for (const char *path : {"/m/memo 10.m4a", "/m/memo 2.m4a", "/m/Memo 1.m4a", "/m/parti.m4a",
                             "/m/sous/b.m4a", "/m/sous-dossier.m4a"}) {
        disk.files[path] = {1, 1.0};
        settling.touch(path, {1, 1.0}, 100);
    }
    disk.files.remove("/m/parti.m4a");
    settling.forgetUnder("/m/sous");
    settling.touch("/m/memo 10.m4a", {1, 1.0}, 300); // touched later: due later
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

} // namespace
