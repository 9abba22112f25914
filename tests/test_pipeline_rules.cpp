// The pure rules around one file's transcription, and the live figures.

#include <sys/stat.h>
#include <fcntl.h>

#include "core/live_stats.h"
#include "pipeline/pipeline_rules.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

TEST(PipelineRules, RecognitionTimeScalesWithDurationAboveAFloorAndProbesAreRead) {
    const TimeLimits limits;
    EXPECT_EQ(limits.recognition(600), 9000);   // a ten-minute file
    EXPECT_EQ(limits.recognition(30), 600);     // a short one gets the floor
    EXPECT_EQ(limits.recognition(std::nullopt), 9000);
    EXPECT_EQ(limits.recognition(100), 1500);
    EXPECT_EQ(limits.conversion, 600);

    // What ffprobe and afinfo say of a duration.
    EXPECT_EQ(parseFfprobeDuration(" 12.345000\n"), 12.345);
    EXPECT_FALSE(parseFfprobeDuration("N/A\n"));
    EXPECT_FALSE(parseFfprobeDuration(""));
    EXPECT_EQ(parseAfinfoDuration("File: x.m4a\nestimated duration: 3.250 sec\n"), 3.25);
    EXPECT_FALSE(parseAfinfoDuration("Estimated duration: 3.2 sec"));
}

TEST(PipelineRules, ProgramsGetOneArgumentPerPathAndOutcomesAreSaidInFrench) {
    const QString odd = "/memos/-x \"$(rm)\".m4a";
    EXPECT_EQ(ffmpegArguments(odd, "/tmp/A.wav").mid(3, 2), (QStringList{"-i", odd}));
    EXPECT_EQ(ffprobeArguments(odd).last(), odd);
    EXPECT_EQ(afconvertArguments(odd, "/w.wav").mid(6), (QStringList{odd, "/w.wav"}));

    EXPECT_EQ(emptyDurationText(0.4), "0.40 s");
    EXPECT_EQ(emptyDurationText(std::nullopt), "0 s");
    EXPECT_EQ(emptyMessage("0.40 s"), "Trop court pour être un vocal (0.40 s). Le fichier est vide ou "
                                      "l'enregistrement a été interrompu : rien à transcrire.");
    EXPECT_EQ(firstLine("\n  \nÉchec (code 1).\nsuite"), "Échec (code 1).");
    EXPECT_EQ(firstLine("seule"), "seule");
}

TEST(PipelineRules, ATranscriptCountsOnlyWhenAtLeastAsNewAsItsSource) {
    QTemporaryDir dir;
    const QString src = writeFile(dir.path() + "/a.m4a", "a");
    const QString txt = writeFile(dir.path() + "/a.txt", "t");
    const QString md = dir.path() + "/a.md";
    setMtime(src, 1700000000);
    setMtime(txt, 1700000000); // same second: fresh
    EXPECT_TRUE(shouldSkip(src, txt, md, OutputFormat::txt));
    EXPECT_FALSE(shouldSkip(src, txt, md, OutputFormat::md));
    EXPECT_FALSE(shouldSkip(src, txt, md, OutputFormat::both));
    writeFile(md, "m");
    setMtime(md, 1699999000); // older than the recording
    EXPECT_FALSE(shouldSkip(src, txt, md, OutputFormat::both));
    setMtime(md, 1700000500);
    EXPECT_TRUE(shouldSkip(src, txt, md, OutputFormat::both));
    // A source without a readable date is older than anything.
    EXPECT_TRUE(shouldSkip(dir.path() + "/gone.m4a", txt, md, OutputFormat::txt));
}

TEST(LiveFigures, RatesAndReadableDurations) {
    EXPECT_EQ(formatDurationHuman(42.4), "42 s");
    EXPECT_EQ(formatDurationHuman(59.6), "1 min 0 s");
    EXPECT_EQ(formatDurationHuman(3725), "1 h 2 min");
    EXPECT_EQ(formatDurationHuman(std::numeric_limits<double>::infinity()), "-");

    const RateEstimate none = estimateRate(0, 30, 5);
    EXPECT_EQ(none.ratePerMin, 0);
    EXPECT_FALSE(none.eta);
    const RateEstimate some = estimateRate(3, 60, 6); // 3 per minute, 6 left
    EXPECT_DOUBLE_EQ(some.ratePerMin, 3);
    EXPECT_DOUBLE_EQ(*some.eta, 120);
    EXPECT_GT(estimateRate(1, 0, 1).ratePerMin, 0); // no division by zero right after the start
}

} // namespace
