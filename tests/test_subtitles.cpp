// Subtitle files: their exact layout from a recogniser's segments, and the
// files a run writes beside the transcripts.
#include "subtitles/subtitle_text.h"
#include "support/engine_fixture.h"

using namespace testing_support;

namespace {

// What a recogniser can hand back: times out of order, overlaps, an end
// before its start, two segments at one instant, a credit it invented, a
// runaway repeat, markup signs, line breaks, text beyond an hour.
QList<Segment> awkwardScript() {
    return {
        {3.0, 6.0, " Deuxième phrase, qui déborde."},
        {0.5, 2.5, " Bonjour à tous."},
        {5.0, 7.25, " Ensuite."},
        {7.5, 9.0, " Sous-titres réalisés par la communauté d'Amara.org"},
        {9.0, 10.0, " Oui."},
        {10.0, 11.0, " oui"},
        {11.0, 12.0, " OUI !"},
        {12.0, 13.0, " Oui."},
        {13.0, 12.5, " L'été à Noël : « ça » — 日本語 🎤"},
        {16.0, 17.0, "   "},
        {20.0, 21.0, " x < y & z --> fin\n\n suite"},
        {3599.5, 7384.123, " Une heure plus tard."},
        {-0.25, 0.4, " Euh."},
        {3.0, 4.0, " en même temps"},
    };
}

TEST(SubtitleLayout, SrtAndWebVttOfAnAwkwardScriptByteForByte) {
    const QByteArray srt = "1\n00:00:00,000 --> 00:00:00,400\nEuh.\n\n"
                           "2\n00:00:00,500 --> 00:00:02,500\nBonjour à tous.\n\n"
                           "3\n00:00:03,000 --> 00:00:05,000\nDeuxième phrase, qui déborde.\nen même temps\n\n"
                           "4\n00:00:05,000 --> 00:00:07,250\nEnsuite.\n\n"
                           "5\n00:00:09,000 --> 00:00:10,000\nOui.\n\n"
                           "6\n00:00:10,000 --> 00:00:11,000\noui\n\n"
                           "7\n00:00:13,000 --> 00:00:15,000\nL'été à Noël : « ça » — 日本語 🎤\n\n"
                           "8\n00:00:20,000 --> 00:00:21,000\nx < y & z -> fin\nsuite\n\n"
                           "9\n00:59:59,500 --> 02:03:04,123\nUne heure plus tard.\n";
    EXPECT_EQ(srtText(awkwardScript()).toUtf8(), srt);
    const QByteArray vtt = "WEBVTT\n\n"
                           "00:00:00.000 --> 00:00:00.400\nEuh.\n\n"
                           "00:00:00.500 --> 00:00:02.500\nBonjour à tous.\n\n"
                           "00:00:03.000 --> 00:00:05.000\nDeuxième phrase, qui déborde.\nen même temps\n\n"
                           "00:00:05.000 --> 00:00:07.250\nEnsuite.\n\n"
                           "00:00:09.000 --> 00:00:10.000\nOui.\n\n"
                           "00:00:10.000 --> 00:00:11.000\noui\n\n"
                           "00:00:13.000 --> 00:00:15.000\nL'été à Noël : « ça » — 日本語 🎤\n\n"
                           "00:00:20.000 --> 00:00:21.000\nx &lt; y &amp; z --&gt; fin\nsuite\n\n"
                           "00:59:59.500 --> 02:03:04.123\nUne heure plus tard.\n";
    EXPECT_EQ(webVttText(awkwardScript()).toUtf8(), vtt);
}

TEST(SubtitleLayout, NothingLeftAfterCleaningAndTheEdgesOfTheClock) {
    const QList<Segment> noise{{0, 2, " [Musique]"}, {2, 4, " Merci d'avoir regardé !"}, {4, 5, " "}};
    EXPECT_EQ(srtText(noise), QString());
    EXPECT_EQ(webVttText(noise), "WEBVTT\n");
    // A last cue without a duration gets its 2 s; ten cues number to 10.
    QList<Segment> ten;
    for (int i = 0; i < 10; ++i) ten.append({double(i), double(i), QString(" phrase %1").arg(i)});
    EXPECT_TRUE(srtText(ten).endsWith("\n\n10\n00:00:09,000 --> 00:00:11,000\nphrase 9\n"));
    EXPECT_TRUE(srtText(ten).startsWith("1\n00:00:00,000 --> 00:00:01,000\nphrase 0\n\n2\n"));
    EXPECT_EQ(subtitleClock(100LL * 3600000 + 61001, ','), "100:01:01,001");
    EXPECT_EQ(subtitleClock(59999, '.'), "00:00:59.999");
}

// ---- A run writes them beside the transcripts ----

class SubtitleRun : public EngineFixture {
protected:
    ScopedEnv segments{{"FAKE_WHISPER_SEGMENTS",
                        R"([{"text": " Bonjour.", "from": 0, "to": 2500},
                            {"text": " [Musique]", "from": 2500, "to": 3000},
                            {"text": " Ceci est un test à 100 %.", "from": 2000, "to": 4020}])"}};

    void chooseSource() { engine->setSourceFolder(QUrl::fromLocalFile(src)); }
    void subtitles(SubtitleFormat format) {
        updateSettings([&](ParlivoSettings &s) { s.subtitleFormat = format; });
    }
};

TEST_F(SubtitleRun, BothFilesBesideTheTranscriptAndFfmpegReadsThem) {
    makeAudio(src + "/sous/été.m4a", 4.5);
    subtitles(SubtitleFormat::both);
    chooseSource();
    ASSERT_TRUE(runQueue());
    ASSERT_EQ(engine->doneCount(), 1);
    EXPECT_TRUE(readText(src + "/sous/été.txt").endsWith("\n\nBonjour.\nCeci est un test à 100 %.\n"));
    const QString srt = "1\n00:00:00,000 --> 00:00:02,000\nBonjour.\n\n"
                        "2\n00:00:02,000 --> 00:00:04,020\nCeci est un test à 100 %.\n";
    EXPECT_EQ(readText(src + "/sous/été.srt"), srt);
    EXPECT_EQ(readText(src + "/sous/été.vtt"), "WEBVTT\n\n00:00:00.000 --> 00:00:02.000\nBonjour.\n\n"
                                                "00:00:02.000 --> 00:00:04.020\nCeci est un test à 100 %.\n");
    // A subtitle reader finds the same cues in both (ffmpeg ends with a blank line).
    EXPECT_EQ(ffmpegSubtitles(src + "/sous/été.srt"), srt + "\n");
    EXPECT_EQ(ffmpegSubtitles(src + "/sous/été.vtt"), srt + "\n");
    // The history still points at the transcript.
    EXPECT_EQ(entryNamed("été.m4a").outputPath, src + "/sous/été.txt");
}

TEST_F(SubtitleRun, TurnedOnLaterOnlyForcedRecordingsGetThem) {
    makeAudio(src + "/a.m4a", 1.5);
    makeAudio(src + "/b.m4a", 1.5);
    chooseSource();
    ASSERT_TRUE(runQueue());
    ASSERT_EQ(recogniserCalls(), 2);

    subtitles(SubtitleFormat::srt);
    Transcriber::IdSet all;
    for (const auto &f : engine->files()) all.insert(f.id);
    engine->retry(all);
    ASSERT_TRUE(runQueue());
    EXPECT_EQ(engine->skippedCount(), 2);
    EXPECT_EQ(recogniserCalls(), 2);
    EXPECT_FALSE(QFile::exists(src + "/a.srt"));

    engine->transcribeSelection({entryNamed("a.m4a").id});
    ASSERT_TRUE(runTask(engine->waitForRun(), 60000));
    EXPECT_EQ(recogniserCalls(), 3);
    EXPECT_TRUE(readText(src + "/a.srt").startsWith("1\n00:00:00,000 --> 00:00:02,000\nBonjour.\n"));
    EXPECT_FALSE(QFile::exists(src + "/a.vtt"));
    EXPECT_FALSE(QFile::exists(src + "/b.srt"));
}

TEST_F(SubtitleRun, AFilmsOwnSubtitlesAreLeftAloneOurOwnAreReplaced) {
    makeAudio(src + "/film.mp4", 1.5);
    makeAudio(src + "/clip.mp4", 1.5);
    const QByteArray theirs = "1\n00:00:01,000 --> 00:00:02,000\nLeur texte.\n";
    writeFile(src + "/film.srt", theirs);
    writeFile(src + "/clip.vtt", "WEBVTT\n");
    subtitles(SubtitleFormat::srt);
    chooseSource();
    ASSERT_TRUE(runQueue());
    EXPECT_EQ(readWholeFile(src + "/film.srt"), theirs);
    EXPECT_EQ(entryNamed("film.mp4").outputPath, src + "/film.mp4.txt");
    EXPECT_TRUE(readText(src + "/film.mp4.srt").contains("Bonjour."));
    // Only the subtitles asked for can be in the way.
    EXPECT_EQ(entryNamed("clip.mp4").outputPath, src + "/clip.txt");
    EXPECT_TRUE(readText(src + "/clip.srt").contains("Bonjour."));
    EXPECT_EQ(readWholeFile(src + "/clip.vtt"), "WEBVTT\n");

    // Beside the recording's own transcript, the .srt is Parlivo's: replaced in place.
    ScopedEnv other{{"FAKE_WHISPER_SEGMENTS", R"([" Autre chose."])"}};
    engine->transcribeSelection({entryNamed("film.mp4").id});
    ASSERT_TRUE(runTask(engine->waitForRun(), 60000));
    EXPECT_EQ(entryNamed("film.mp4").outputPath, src + "/film.mp4.txt");
    EXPECT_EQ(readText(src + "/film.mp4.srt"), "1\n00:00:00,000 --> 00:00:02,500\nAutre chose.\n");
    EXPECT_EQ(readWholeFile(src + "/film.srt"), theirs);
}

} // namespace
