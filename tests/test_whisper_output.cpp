#include <QTemporaryDir>

#include "pipeline/whisper_output.h"
#include "support/test_support.h"

using testing_support::writeFile;

void PrintTo(const Segment &s, std::ostream *os) {
    *os << "{" << s.start << ", " << s.end << ", \"" << s.text.toStdString() << "\"}";
}

namespace {
QList<Segment> segmentsOf(const QStringList &texts) {
    QList<Segment> out;
    for (const auto &text : texts) out.append({0, 1, text});
    return out;
}
} // namespace

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
