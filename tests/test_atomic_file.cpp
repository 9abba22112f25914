// The one write path: a file is replaced only once all of it reached the disk;
// on a full disk the previous file stays and no temporary file is left.
#include <QFile>

#include "core/atomic_file.h"
#include "support/small_disk.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

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
