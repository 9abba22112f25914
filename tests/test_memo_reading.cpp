// What the reader shows of a memo and where it lands.

#include "library/library_transcripts.h"
#include "library/memo_reading.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {
const QList<Segment> meeting{{0, 3, " Bonjour à tous."},
                             {3, 7.5, " Premier point, le budget."},
                             {9, 12, " Deuxième point, les congés."}};

LibraryMemo memoOf(const QString &text, const QList<Segment> &segments) {
    return {"/notes/reunion.md", "/voix/reunion.m4a", std::nullopt, text, segments};
}

SearchHit hitAt(std::optional<double> time, const Passage &passage) {
    return {"/notes/reunion.md", "/voix/reunion.m4a", std::nullopt, time, passage};
}
} // namespace

TEST(SegmentAtTime, TheLastSegmentStartedAPauseBelongingToTheOneBefore) {
    EXPECT_EQ(segmentAt(meeting, -0.5), std::nullopt);
    EXPECT_EQ(segmentAt(meeting, 0), 0);
    EXPECT_EQ(segmentAt(meeting, 2.99), 0);
    EXPECT_EQ(segmentAt(meeting, 3), 1);
    EXPECT_EQ(segmentAt(meeting, 8), 1); // between 7.5 and 9 nothing is said
    EXPECT_EQ(segmentAt(meeting, 9), 2);
    EXPECT_EQ(segmentAt(meeting, 60), 2);
    EXPECT_EQ(segmentAt({}, 1), std::nullopt);
}

TEST(MemoReadingLayout, TheCorrectedTextIsShownOnlyWhenItsWordsDiffer) {
    // The recogniser's own words, laid out on lines and without the leading spaces.
    const auto raw = readingOf(memoOf("Bonjour à tous.\nPremier point, le budget.\nDeuxième point, les congés.", meeting));
    EXPECT_EQ(raw.correctedText, "");
    EXPECT_EQ(raw.segments, meeting);
    EXPECT_EQ(raw.hitSegment, std::nullopt);
    EXPECT_EQ(raw.startMs, 0);
    EXPECT_FALSE(wordsDiffer("BONJOUR a tous premier point le budget deuxieme point les conges", meeting));

    const QString corrected = "Bonjour à tous. Premier point : le budget. Second point : les congés.";
    EXPECT_EQ(readingOf(memoOf(corrected, meeting)).correctedText, corrected);

    // Indexed before the times were kept: the text alone.
    const auto untimed = readingOf(memoOf("Bonjour à tous.", {}));
    EXPECT_EQ(untimed.plainText, "Bonjour à tous.");
    EXPECT_EQ(untimed.correctedText, "");
    EXPECT_TRUE(untimed.segments.isEmpty());
}

TEST(MemoReadingLayout, AHitLandsOnItsSegmentAndPlaysFromItsStart) {
    const QString text = "Bonjour à tous.\nPremier point, le budget.\nDeuxième point, les congés.";
    const auto byTime = readingOf(memoOf(text, meeting), hitAt(9.0, {"… point, les congés.", {{14, 6}}}));
    EXPECT_EQ(byTime.hitSegment, 2);
    EXPECT_EQ(byTime.startMs, 9000);

    // No time with the hit: the passage's words are looked for in the segments.
    const auto byWords = readingOf(memoOf(text, meeting), hitAt(std::nullopt, {"Premier point, le budget.", {{18, 6}}}));
    EXPECT_EQ(byWords.hitSegment, 1);
    EXPECT_EQ(byWords.startMs, 3000);

    // Words the recording never said (a correction reworded them): from the beginning.
    const auto reworded = readingOf(memoOf("Salut la compagnie.", meeting), hitAt(std::nullopt, {"Salut la compagnie.", {{0, 5}}}));
    EXPECT_EQ(reworded.hitSegment, std::nullopt);
    EXPECT_EQ(reworded.startMs, 0);
}

TEST(MemoTranscriptFile, TheMarkdownBesideATextTranscriptHoldsTheMemo) {
    TempHome home;
    const QString txt = home.file("notes/cours.txt"), md = home.file("notes/cours.md");
    writeFile(txt, "texte");
    EXPECT_EQ(memoTranscriptPath(txt), txt);
    writeFile(md, "texte");
    EXPECT_EQ(memoTranscriptPath(txt), md);
    EXPECT_EQ(memoTranscriptPath(md), md);
}
