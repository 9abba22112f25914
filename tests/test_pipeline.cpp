// One file's transcription piece by piece: the pure rules and the live
// figures, what is read of the recogniser's output and how it is cleaned, the
// per-file pipeline on its own object, and the stand-in recogniser that the
// whole-run tests rely on.
#include <QFile>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/stat.h>

#include "core/live_stats.h"
#include "pipeline/file_pipeline.h"
#include "pipeline/pipeline_rules.h"
#include "pipeline/whisper_output.h"
#include "support/test_support.h"

using namespace testing_support;

void PrintTo(const Segment &s, std::ostream *os) {
    *os << "{" << s.start << ", " << s.end << ", \"" << s.text.toStdString() << "\"}";
}

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

// ---------------------------------------------------------------- the recogniser's output

QList<Segment> segmentsOf(const QStringList &texts) {
    QList<Segment> out;
    for (const auto &text : texts) out.append({0, 1, text});
    return out;
}

TEST(WhisperProgress, ReadsTheRecognisersProgressLinesOnly) {
    EXPECT_EQ(parseWhisperProgress("whisper_print_progress_callback: progress =  42%"), 42);
    EXPECT_EQ(parseWhisperProgress("whisper_print_progress_callback: progress = 100%"), 100);
    EXPECT_EQ(parseWhisperProgress("progress=7%"), 7);
    EXPECT_EQ(parseWhisperProgress("progress = 250%"), 250); // no upper bound here: the caller clamps
    for (const char *other : {"whisper_print_progress_callback: progress: 42%", "whisper_print_progress_callback: Progress = 42%",
                              "progress = 42", "main: processing 'a.wav' (16000 samples, 1.0 sec)", "",
                              "progress = 99999999999999%"})
        EXPECT_EQ(parseWhisperProgress(other), std::nullopt) << other;
}

class WhisperJson : public ::testing::Test {
protected:
    QString file(const QByteArray &content) { return writeFile(m_dir.filePath("out.json"), content); }
    QTemporaryDir m_dir;
};

TEST_F(WhisperJson, ReadsTextAndOffsetsInSecondsAndMissingOffsetsAsZero) {
    EXPECT_EQ(parseWhisperJSON(file(R"({"systeminfo": "AVX = 1", "result": {"language": "fr"}, "transcription": [
          {"timestamps": {"from": "00:00:00,000", "to": "00:00:02,500"}, "offsets": {"from": 0, "to": 2500}, "text": " Bonjour."},
          {"offsets": {"from": 2500, "to": 4020.5}, "text": " Ça va ?"}]})")),
              (QList<Segment>{{0, 2.5, " Bonjour."}, {2.5, 4.0205, " Ça va ?"}}));
    // A multi-byte character cut in two by the recogniser leaves an invalid byte: the rest is kept.
    EXPECT_EQ(parseWhisperJSON(file("{\"transcription\": [{\"text\": \" caf\xC3\"}, {\"text\": \" suite\"}]}")),
              (QList<Segment>{{0, 0, QStringLiteral(" caf\uFFFD")}, {0, 0, " suite"}}));
    EXPECT_EQ(parseWhisperJSON(file(R"({"transcription": [{"text": " sans temps"}, {"offsets": "0-10", "text": " a"},
        {"offsets": {"from": "1000", "to": 3000}, "text": " b"}]})")),
              (QList<Segment>{{0, 0, " sans temps"}, {0, 0, " a"}, {0, 3, " b"}}));
    EXPECT_EQ(parseWhisperJSON(file(R"({"transcription": []})")), QList<Segment>{});
    // Control characters never reach the text; a NUL byte least of all.
    const auto controls = parseWhisperJSON(file(R"({"transcription": [{"text": " Bon\u0000jour\u0007 à\ttous."}]})"));
    ASSERT_TRUE(controls);
    EXPECT_EQ(plainText(*controls), "Bonjour à\ttous.");
}

// Malformed, or texts of the wrong type: a failed result, never an empty recording.
TEST_F(WhisperJson, MalformedFilesGiveNothing) {
    EXPECT_EQ(parseWhisperJSON(m_dir.filePath("absent.json")), std::nullopt);
    for (const char *bad : {R"({"transcription": [{"text": " coupé)", "", R"([{"text": " a"}])", R"({"result": {}})",
                            R"({"transcription": {"text": " a"}})", R"({"transcription": [{"text": " a"}, " b"]})",
                            R"({"transcription": [{"text": 5}]})", R"({"transcription": [{}]})",
                            R"({"transcription": [{"text": " a"}, {"text": null}]})",
                            R"({"transcription": [{"text": ["a"]}]})"})
        EXPECT_EQ(parseWhisperJSON(file(bad)), std::nullopt) << bad;
}

TEST(TranscriptCleaning, DropsInventedCreditsAndBareSoundLabels) {
    const QStringList lines = {"Sous-titres réalisés par la communauté d'Amara.org", "[Musique]", "la musique était belle",
                               "  MUSIQUE  ", "Merci d'avoir regardé cette vidéo !", "N'HÉSITEZ PAS À VOUS ABONNER",
                               "Sous-titrage ST' 501", "[applaudissements] et la suite", "Abonnez-vous à la chaîne",
                               "À bientôt pour une nouvelle vidéo"};
    EXPECT_EQ(cleanTranscriptLines(lines), (QStringList{"la musique était belle", "[applaudissements] et la suite"}));
}

TEST(TranscriptCleaning, KeepsAtMostTwoLinesThatSayTheSameThing) {
    EXPECT_EQ(cleanTranscriptLines({"Bonjour.", "bonjour", "BONJOUR !", "Bonjour"}),
              (QStringList{"Bonjour.", "bonjour"}));
    // A different line ends the run; the same words may then come back twice again.
    EXPECT_EQ(cleanTranscriptLines({"oui", "oui", "non", "oui", "oui…", "- oui -"}),
              (QStringList{"oui", "oui", "non", "oui", "oui…"}));
    // Only the ends are ignored: inner punctuation makes a different line.
    EXPECT_EQ(cleanTranscriptLines({"a, b", "a b", "a b"}), (QStringList{"a, b", "a b", "a b"}));
    // Dropped lines do not break a run; kept lines are trimmed.
    EXPECT_EQ(cleanTranscriptLines({"Encore.", "", "[Musique]", "encore", "   ", "Abonnez-vous !", "ENCORE"}),
              (QStringList{"Encore.", "encore"}));
    EXPECT_EQ(cleanTranscriptLines({"  Bonjour à tous \n", "\tsuite\r\n"}), (QStringList{"Bonjour à tous", "suite"}));
}

TEST(TranscriptCleaning, PlainTextJoinsTheCleanedSegmentsWhichKeepTheirOwnTimes) {
    EXPECT_EQ(plainText(segmentsOf({" Bonjour.", " [Musique]", " Ceci est un test.", " "})),
              "Bonjour.\nCeci est un test.");
    EXPECT_EQ(plainText(segmentsOf({" Sous-titres par la communauté", " [MUSIC]", "Merci d'avoir regardé"})),
              QString());
    const QList<Segment> heard{{0, 1, " Oui."},    {1, 2, " [Musique]"}, {2.5, 3, "oui "},
                               {3, 4, " OUI !"},  {4, 5.5, "\tNon."},    {6, 5, " Abonnez-vous !"}};
    EXPECT_EQ(cleanSegments(heard), (QList<Segment>{{0, 1, "Oui."}, {2.5, 3, "oui"}, {4, 5.5, "Non."}}));
    EXPECT_EQ(plainText(heard), "Oui.\noui\nNon.");
}

TEST(LastLines, KeepsTheLastNonEmptyLines) {
    EXPECT_EQ(lastLines("un\ndeux\ntrois", 6), "un\ndeux\ntrois");
    EXPECT_EQ(lastLines("a\n\n\nb", 6), "a\nb");
    EXPECT_EQ(lastLines("1\r\n2\r3\n4\n5\n6\n7\n8\n", 6), "3\n4\n5\n6\n7\n8");
    EXPECT_EQ(lastLines("a\nb", 0), QString());
}

// ---------------------------------------------------------------- one file alone

struct PipelineBench {
    TempHome home;
    EventLog log;
    ParlivoSettings settings;
    Tools tools; // none: any call to a program would fail the file
    ProcessRunner processes;
    OllamaRuntime ollama{settings, log, std::nullopt, [](const QUrl &) {}};
    FileQueue queue{log, [] { return QStringList(); }};
    Scheduler run{queue, log, processes, settings};
    RunCorrection correction{settings, log, ollama};
    FilePipeline pipeline{queue, run, correction, processes, tools, settings, log};

    QUuid add(const QString &name, const QByteArray &bytes) {
        writeFile(home.file("src/" + name), bytes);
        queue.setSourceFolder(QUrl::fromLocalFile(home.file("src")));
        for (const auto &f : queue.files())
            if (f.fileName() == name) {
                queue.setStatus(f.id, FileStatus::running);
                return f.id;
            }
        return {};
    }
    const AudioFile &process(const QUuid &id) {
        EXPECT_TRUE(runTask(pipeline.process(id)));
        return *queue.entry(id);
    }
};

// Whole runs drop a vanished file before its turn: here it reaches the pipeline.
TEST(PipelineAlone, AVanishedFileFailsWithItsReason) {
    PipelineBench bench;
    const QUuid gone = bench.add("parti.m4a", "audio");
    QFile::remove(bench.home.file("src/parti.m4a"));
    const AudioFile &file = bench.process(gone);
    EXPECT_EQ(file.status, FileStatus::error);
    EXPECT_EQ(file.errorMessage,
              std::optional<QString>("Fichier introuvable : il a été déplacé ou supprimé depuis le scan."));
    EXPECT_TRUE(bench.log.lines().last().endsWith(
        "Erreur sur parti.m4a : Fichier introuvable : il a été déplacé ou supprimé depuis le scan."));
}

// ---------------------------------------------------------------- the stand-in recogniser

// It must refuse what whisper-cli refuses, or the whole-run tests built on it
// would not see a bad conversion.
class FakeWhisper : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString model = writeFile(dir.filePath("ggml-base.bin"), "not a real model");
    QString wav = makeAudio(dir.filePath("memo.wav"), 1, {"-ar", "16000"});
    QString json = dir.filePath("result.json");
    QStringList arguments(const QString &audio) const {
        return {"-m", model, "-l", "auto", "-oj", "-of", dir.filePath("result"), "-pp", "-mc", "0", "-sns",
                "-t", "2", "-p", "1", audio};
    }
    CliResult run(const QStringList &args, const QStringList &env = {}) {
        return runProgram(buildPath("fake-whisper-cli"), args, env, 30000);
    }
};

TEST_F(FakeWhisper, UnknownArgumentsUnconvertedAudioAndMissingModelsWriteNoJson) {
    auto args = arguments(wav);
    args.insert(0, "-np");
    const auto unknown = run(args);
    EXPECT_EQ(unknown.code, 0); // as the real program does
    EXPECT_TRUE(unknown.err.contains("error: unknown argument: -np"));
    EXPECT_FALSE(QFile::exists(json));

    const QString notWav = writeFile(dir.filePath("memo.m4a.wav"), QByteArray(4096, 'x'));
    for (const auto &audio : {makeAudio(dir.filePath("stereo.wav"), 1, {"-ac", "2"}), notWav, dir.filePath("absent.wav")}) {
        const auto outcome = run(arguments(audio));
        EXPECT_NE(outcome.code, 0) << audio.toStdString();
        EXPECT_TRUE(outcome.err.contains(audio)) << outcome.err.toStdString();
        EXPECT_FALSE(QFile::exists(json)) << audio.toStdString();
    }
    QFile::remove(model);
    EXPECT_NE(run(arguments(wav)).code, 0);
    EXPECT_FALSE(QFile::exists(json));
}

} // namespace
