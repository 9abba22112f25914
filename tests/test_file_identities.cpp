// Identities of many files read at once, as a scan of a large folder does.
#include "core/source_files.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

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

} // namespace
