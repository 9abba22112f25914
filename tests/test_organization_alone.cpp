// The organization run on its own object: showing its archive.
#include "organize/organization_run.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

struct OrganizationBench {
    TempHome home;
    EventLog log;
    ParlivoSettings settings;
    OllamaRuntime ollama{settings, log, std::nullopt, [](const QUrl &) {}};
    std::optional<QString> output;
    QList<UnsavedState::Outcome> saves;
    QList<QUrl> opened;
    OrganizationRun run{settings, log, ollama,
                        OrganizationHooks{[this] { return output; }, [this](const QUrl &url) { opened << url; },
                                          [this](const UnsavedState::Outcome &o) { saves << o; }}};
};

// Where the archive goes is organizeRootFolder's, tested with the placement.
TEST(OrganizationAlone, TheArchiveIsRevealedOnlyOnceItExists) {
    OrganizationBench bench;
    bench.output = bench.home.file("out");
    bench.settings.organizeRoot = bench.home.file("archive");
    bench.run.revealArchive();
    EXPECT_TRUE(bench.opened.isEmpty());
    QDir().mkpath(bench.home.file("archive"));
    bench.run.revealArchive();
    EXPECT_EQ(bench.opened, QList<QUrl>{QUrl::fromLocalFile(bench.home.file("archive"))});
}

} // namespace
