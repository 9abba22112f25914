// The organization run on its own object: where its archive goes, and a run
// that cannot reach its model leaves everything as it was, its ledger saved.
#include <QSignalSpy>

#include "organize/organization_run.h"
#include "support/test_support.h"

using namespace testing_support;
using namespace std::chrono_literals;

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

TEST(OrganizationAlone, TheArchiveGoesWhereTheSettingSaysElseInTheTranscriptFolder) {
    OrganizationBench bench;
    EXPECT_FALSE(bench.run.archiveRoot());
    EXPECT_TRUE(bench.run.transcriptFiles().isEmpty());
    bench.output = "/data/out";
    EXPECT_EQ(bench.run.archiveRoot(), std::optional<QString>("/data/out/Archive organisée"));
    bench.settings.organizeRoot = "/data/rangé";
    EXPECT_EQ(bench.run.archiveRoot(), std::optional<QString>("/data/rangé"));

    // Revealed only once it exists.
    bench.settings.organizeRoot = bench.home.file("archive");
    bench.run.revealArchive();
    EXPECT_TRUE(bench.opened.isEmpty());
    QDir().mkpath(bench.home.file("archive"));
    bench.run.revealArchive();
    EXPECT_EQ(bench.opened, QList<QUrl>{QUrl::fromLocalFile(bench.home.file("archive"))});
}

TEST(OrganizationAlone, WithoutItsModelARunSaysSoEndsOnceAndSavesItsLedger) {
    OrganizationBench bench;
    bench.output = bench.home.file("out");
    bench.settings.ollamaEndpoint = "http://127.0.0.1:9"; // nothing listens there
    bench.ollama.setTimings({2, 10ms, 50ms});
    QSignalSpy finished(&bench.run, &OrganizationRun::finished);
    bench.run.start();
    ASSERT_TRUE(bench.run.active());
    ASSERT_TRUE(runTask(bench.run.waitForEnd(), 20000));
    EXPECT_FALSE(bench.run.active());
    EXPECT_EQ(finished.size(), 1);
    EXPECT_TRUE(bench.log.lines().last().endsWith("Organisation : Ollama indisponible."));
    ASSERT_EQ(bench.saves.size(), 1);
    EXPECT_EQ(bench.saves[0].file, "organize.json");
    EXPECT_FALSE(bench.saves[0].error);
}

} // namespace
