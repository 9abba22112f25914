// What a run writes for a recording: the transcripts' names and exact layout,
// the recording's date, and the subtitle files from a recogniser's segments,
// on their own and beside the transcripts of a real run.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QTemporaryDir>

#include "core/atomic_file.h"
#include "pipeline/transcript_files.h"
#include "subtitles/subtitle_text.h"
#include "support/engine_fixture.h"

using namespace testing_support;

namespace {
QList<Segment> twoSegments() { return {{0, 2.5, " Bonjour."}, {2.5, 5, " Ceci est un test."}}; }

TranscriptInputs inputs(std::optional<double> duration, std::optional<QString> corrected = std::nullopt) {
    return {"/voix/2026/memo.m4a", local(2026, 12, 5, 14, 7), local(2027, 1, 2, 9, 3), duration, twoSegments(),
            std::move(corrected), {}};
}

ParlivoSettings settings() {
    ParlivoSettings s;
    s.modelPath = "/home/u/.hestia/ggml-large-v3.bin";
    return s;
}

QString frontMatter(const QString &duration, const QString &correction) {
    return "---\nsource: memo.m4a\nchemin: /voix/2026/memo.m4a\ndate: 5 décembre 2026 à 14h07\nduree: " + duration +
           "\nmodele: ggml-large-v3.bin\nlangue: auto\ncorrection: " + correction +
           "\ntranscrit_le: 2 janvier 2027 à 09:03\n---\n\n# Mémo vocal du 5 décembre 2026 à 14h07\n\n";
}

} // namespace

TEST(TranscriptNames, BaseIsTheNameWithoutItsLastExtension) {
    const auto paths = transcriptPaths("/src/Réunion v2.final.m4a", "/dest/sub");
    EXPECT_EQ(paths.txt, "/dest/sub/Réunion v2.final.txt");
    EXPECT_EQ(paths.md, "/dest/sub/Réunion v2.final.md");
    EXPECT_EQ(transcriptBaseName("/src/memo"), "memo");
    EXPECT_EQ(transcriptBaseName("/src/.m4a"), ".m4a"); // never a bare ".txt"
}

TEST(FrenchDates, UseFrenchMonthNamesWhateverTheProcessLocale) {
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(readableRecordingStamp(local(2026, 12, 5, 14, 7)), "5 décembre 2026 à 14h07");
    EXPECT_EQ(frenchTimestamp(local(2026, 12, 5, 14, 7)), "5 décembre 2026 à 14:07");
    QLocale::setDefault(previous);
    EXPECT_EQ(readableRecordingStamp(local(2025, 8, 1, 0, 5).toUTC()), "1 août 2025 à 00h05");
}

TEST(TranscriptLayout, TxtWithAndWithoutDurationHoldsTheCorrectedTextAlone) {
    const QString header = "Mémo vocal du 5 décembre 2026 à 14h07";
    const QString source = "\nSource : memo.m4a\n" + transcriptRule + "\n\n";
    EXPECT_EQ(txtContent(inputs(65.4), settings()), header + "  (durée 1:05)" + source + "Bonjour.\nCeci est un test.\n");
    EXPECT_EQ(txtContent(inputs(std::nullopt), settings()), header + source + "Bonjour.\nCeci est un test.\n");
    EXPECT_TRUE(txtContent(inputs(3725), settings()).startsWith(header + "  (durée 1:02:05)\n"));
    EXPECT_EQ(txtContent(inputs(1, QString("Corrigé.")), settings()), header + "  (durée 0:01)" + source + "Corrigé.\n");
}

TEST(TranscriptLayout, MdOfARawOrACorrectedTranscriptWithAndWithoutTheRawSection) {
    auto s = settings();
    s.keepRawTranscript = true; // no raw section without a corrected text, whatever the setting
    EXPECT_EQ(mdContent(inputs(std::nullopt), s), frontMatter("inconnue", "aucune") + "Bonjour.\nCeci est un test.\n");
    EXPECT_EQ(mdContent(inputs(3725), s), frontMatter("1:02:05", "aucune") + "Bonjour.\nCeci est un test.\n");

    const auto corrected = inputs(65.4, QString("Bonjour, ceci est un test."));
    const QString head = frontMatter("1:05", "Ollama (local) (qwen2.5:7b)") + "Bonjour, ceci est un test.\n";
    EXPECT_EQ(mdContent(corrected, s), head + "\n## Transcription brute\n\nBonjour.\nCeci est un test.\n");
    s.keepRawTranscript = false;
    EXPECT_EQ(mdContent(corrected, s), head);

    // The correction label names the backend and its model.
    s.ollamaModel = "mistral:7b";
    EXPECT_EQ(correctionLabel(s, true), "Ollama (local) (mistral:7b)");
    EXPECT_EQ(correctionLabel(s, false), "aucune");
    s.correctionBackend = CorrectionBackend::anthropic;
    EXPECT_TRUE(mdContent(inputs(1, QString("x")), s).contains("\ncorrection: API Anthropic (cloud) (claude-haiku-4-5-20251001)\n"));
}

TEST(TranscriptLayout, TimestampsModeTimesEachSegmentAndCleansNothing) {
    const QList<Segment> segments = {{0.4, 3.6, " Bonjour\t"}, {3.6, 65.4, " [Musique]"}, {65.4, 66, " "},
                                     {66, 67, " Bonjour"}, {67, 68, " Bonjour"}};
    EXPECT_EQ(transcriptBody(segments, true), "[0:00 -> 0:04] Bonjour\n[0:04 -> 1:05] [Musique]\n[1:05 -> 1:06] \n"
                                              "[1:06 -> 1:07] Bonjour\n[1:07 -> 1:08] Bonjour");
    EXPECT_EQ(transcriptBody(segments, false), "Bonjour\nBonjour");

    auto s = settings();
    s.timestamps = true;
    auto in = inputs(65.4, QString("Corrigé."));
    in.segments = {{0.4, 3.6, " Bonjour"}};
    EXPECT_TRUE(mdContent(in, s).endsWith("Corrigé.\n\n## Transcription brute\n\n[0:00 -> 0:04] Bonjour\n"));
}

TEST(RecordingDate, ComesFromADatedFileNameOtherwiseTheFileCreationNotItsModification) {
    EXPECT_EQ(recordingDate("/nowhere/20240105 093012-AB12.m4a"), local(2024, 1, 5, 9, 30, 12));
    EXPECT_EQ(recordingDate("/nowhere/20231231\t 235959.wav"), local(2023, 12, 31, 23, 59, 59));
    QTemporaryDir dir;
    const auto before = QDateTime::currentDateTime().addSecs(-2);
    // Month 13: the name does not give a date.
    const QString badName = writeFile(dir.filePath("20241305 093012.m4a"), "audio");
    const QString plain = writeFile(dir.filePath("memo.m4a"), "audio");
    for (const auto &path : {badName, plain}) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(local(2001, 3, 4, 5, 6), QFileDevice::FileModificationTime));
    }
    const auto after = QDateTime::currentDateTime().addSecs(2);
    for (const auto &path : {badName, plain, dir.filePath("20241305 093012-absent.m4a")}) {
        const QDateTime date = recordingDate(path);
        EXPECT_TRUE(date >= before && date <= after) << path.toStdString() << " " << date.toString().toStdString();
    }
}

class WriteOutputs : public ::testing::Test {
protected:
    QString source = "/voix/20240105 093012-AB12.m4a";
    QString txt() const { return m_dir.filePath("out/sub/20240105 093012-AB12.txt"); }
    QString md() const { return m_dir.filePath("out/sub/20240105 093012-AB12.md"); }
    std::optional<WriteError> write(OutputFormat format, const QList<Segment> &segments = twoSegments()) {
        auto s = settings();
        s.outputFormat = format;
        return writeOutputs(segments, std::nullopt, source, 65.4, txt(), md(), s);
    }
    QTemporaryDir m_dir;
};

TEST_F(WriteOutputs, WritesBothInUtf8WithoutMarkAndASecondWritingReplacesTheFirst) {
    const auto before = QDateTime::currentDateTime();
    EXPECT_EQ(write(OutputFormat::both), std::nullopt);
    const auto after = QDateTime::currentDateTime();
    EXPECT_EQ(readWholeFile(txt()), ("Mémo vocal du 5 janvier 2024 à 09h30  (durée 1:05)\nSource : 20240105 093012-AB12.m4a\n" +
                                     transcriptRule + "\n\nBonjour.\nCeci est un test.\n").toUtf8());
    const QString mdText = readText(md());
    EXPECT_TRUE(mdText.startsWith("---\nsource: 20240105 093012-AB12.m4a\nchemin: /voix/20240105 093012-AB12.m4a\n"
                                  "date: 5 janvier 2024 à 09h30\n"));
    EXPECT_TRUE(mdText.contains("\ntranscrit_le: " + frenchTimestamp(before) + "\n") ||
                mdText.contains("\ntranscrit_le: " + frenchTimestamp(after) + "\n"));

    // A second writing replaces the first, with no temporary file left beside them.
    ASSERT_EQ(write(OutputFormat::both, {{0, 1, " Autre texte."}}), std::nullopt);
    EXPECT_TRUE(readText(txt()).endsWith("=\n\nAutre texte.\n"));
    EXPECT_TRUE(readText(md()).endsWith("\n\nAutre texte.\n"));
    EXPECT_FALSE(readText(md()).contains("Bonjour"));
    EXPECT_EQ(QDir(QFileInfo(txt()).path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
}

TEST_F(WriteOutputs, AFailedTxtMeansNoMdAndAFolderThatCannotBeMadeWritesNothing) {
    ASSERT_TRUE(QDir().mkpath(txt())); // a folder sits where the .txt goes
    const auto error = write(OutputFormat::both);
    ASSERT_TRUE(error);
    EXPECT_TRUE(error->reason.contains(txt())) << error->reason.toStdString();
    EXPECT_FALSE(QFile::exists(md()));

    QDir(m_dir.filePath("out")).removeRecursively();
    writeFile(m_dir.filePath("out"), "a file, not a folder");
    EXPECT_TRUE(write(OutputFormat::both));
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"out"});
}

TEST_F(WriteOutputs, SubtitlesGoBesideTheTranscriptAndNoneOutlivesAFailedWriting) {
    const QString srt = m_dir.filePath("out/sub/20240105 093012-AB12.srt");
    const QString vtt = m_dir.filePath("out/sub/20240105 093012-AB12.vtt");
    auto s = settings();
    s.subtitleFormat = SubtitleFormat::both;
    ASSERT_EQ(writeOutputs(twoSegments(), "Corrigé.", source, 65.4, txt(), md(), s), std::nullopt);
    // The recogniser's text: a correction has no times.
    EXPECT_EQ(readWholeFile(srt), QByteArray("1\n00:00:00,000 --> 00:00:02,500\nBonjour.\n\n"
                                             "2\n00:00:02,500 --> 00:00:05,000\nCeci est un test.\n"));
    EXPECT_TRUE(readText(vtt).startsWith("WEBVTT\n\n00:00:00.000 --> 00:00:02.500\nBonjour.\n\n"));
    EXPECT_TRUE(readText(txt()).endsWith("\n\nCorrigé.\n"));

    // The transcript cannot be written: the .srt it replaced stays replaced,
    // the .vtt this writing made goes again.
    QFile::remove(vtt);
    QFile::remove(txt());
    ASSERT_TRUE(QDir().mkpath(txt()));
    ASSERT_TRUE(writeOutputs({{1, 2, " Autre."}}, std::nullopt, source, 65.4, txt(), md(), s));
    EXPECT_EQ(readText(srt), "1\n00:00:01,000 --> 00:00:02,000\nAutre.\n");
    EXPECT_FALSE(QFile::exists(vtt));

    // A subtitle that cannot be written: no transcript at all.
    QDir().rmdir(txt());
    QFile::remove(srt);
    ASSERT_TRUE(QDir().mkpath(vtt));
    const auto error = writeOutputs(twoSegments(), std::nullopt, source, 65.4, txt(), md(), s);
    ASSERT_TRUE(error);
    EXPECT_TRUE(error->reason.contains(vtt)) << error->reason.toStdString();
    EXPECT_FALSE(QFile::exists(txt()));
    EXPECT_FALSE(QFile::exists(srt));
}

// ---------------------------------------------------------------- subtitles

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
