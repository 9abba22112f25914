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

TEST(WhisperProgress, ReadsTheRecognisersProgressLines) {
    EXPECT_EQ(parseWhisperProgress("whisper_print_progress_callback: progress =  42%"), 42);
    EXPECT_EQ(parseWhisperProgress("whisper_print_progress_callback: progress =   5%"), 5);
    EXPECT_EQ(parseWhisperProgress("whisper_print_progress_callback: progress = 100%"), 100);
    EXPECT_EQ(parseWhisperProgress("progress=7%"), 7);
    // No upper bound here: the caller clamps.
    EXPECT_EQ(parseWhisperProgress("progress = 250%"), 250);
}

TEST(WhisperProgress, OtherLinesGiveNothing) {
    EXPECT_EQ(parseWhisperProgress("whisper_print_progress_callback: progress: 42%"), std::nullopt);
    EXPECT_EQ(parseWhisperProgress("whisper_print_progress_callback: Progress = 42%"), std::nullopt);
    EXPECT_EQ(parseWhisperProgress("progress = 42"), std::nullopt);
    EXPECT_EQ(parseWhisperProgress("main: processing 'a.wav' (16000 samples, 1.0 sec)"), std::nullopt);
    EXPECT_EQ(parseWhisperProgress(""), std::nullopt);
    EXPECT_EQ(parseWhisperProgress("progress = 99999999999999%"), std::nullopt); // overflow
}

class WhisperJson : public ::testing::Test {
protected:
    QString file(const QByteArray &content) { return writeFile(m_dir.filePath("out.json"), content); }
    QTemporaryDir m_dir;
};

TEST_F(WhisperJson, ReadsTextAndOffsetsInSeconds) {
    const auto segments = parseWhisperJSON(file(R"({
        "systeminfo": "AVX = 1", "result": {"language": "fr"},
        "transcription": [
          {"timestamps": {"from": "00:00:00,000", "to": "00:00:02,500"},
           "offsets": {"from": 0, "to": 2500}, "text": " Bonjour."},
          {"offsets": {"from": 2500, "to": 4020.5}, "text": " Ça va ?"}
        ]})"));
    ASSERT_TRUE(segments);
    ASSERT_EQ(segments->size(), 2);
    EXPECT_EQ(segments->at(0), (Segment{0, 2.5, " Bonjour."}));
    EXPECT_EQ(segments->at(1), (Segment{2.5, 4.0205, QStringLiteral(" Ça va ?")}));
}

TEST_F(WhisperJson, MissingPartsOfAnElementDefaultToZeroAndEmpty) {
    const auto segments = parseWhisperJSON(file(R"({"transcription": [
        {"text": " sans temps"},
        {"offsets": "0-10", "text": " offsets pas objet"},
        {"offsets": {"from": "1000", "to": 3000}, "text": 42},
        {}
    ]})"));
    ASSERT_TRUE(segments);
    ASSERT_EQ(segments->size(), 4);
    EXPECT_EQ(segments->at(0), (Segment{0, 0, " sans temps"}));
    EXPECT_EQ(segments->at(1), (Segment{0, 0, " offsets pas objet"}));
    EXPECT_EQ(segments->at(2), (Segment{0, 3, ""}));
    EXPECT_EQ(segments->at(3), (Segment{0, 0, ""}));
}

TEST_F(WhisperJson, AnEmptyTranscriptionIsAValidEmptyResult) {
    const auto segments = parseWhisperJSON(file(R"({"transcription": []})"));
    ASSERT_TRUE(segments);
    EXPECT_TRUE(segments->isEmpty());
    EXPECT_EQ(plainText(*segments), QString());
}

TEST_F(WhisperJson, MalformedFilesGiveNothing) {
    EXPECT_EQ(parseWhisperJSON(m_dir.filePath("absent.json")), std::nullopt);
    EXPECT_EQ(parseWhisperJSON(file(R"({"transcription": [{"text": " coupé)")), std::nullopt);
    EXPECT_EQ(parseWhisperJSON(file("")), std::nullopt);
    EXPECT_EQ(parseWhisperJSON(file(R"([{"text": " a"}])")), std::nullopt);
    EXPECT_EQ(parseWhisperJSON(file(R"({"result": {"language": "fr"}})")), std::nullopt);
    EXPECT_EQ(parseWhisperJSON(file(R"({"transcription": {"text": " a"}})")), std::nullopt);
    EXPECT_EQ(parseWhisperJSON(file(R"({"transcription": [{"text": " a"}, " b"]})")), std::nullopt);
    EXPECT_EQ(parseWhisperJSON(file(R"({"transcription": [null]})")), std::nullopt);
}

TEST_F(WhisperJson, AStrayInvalidByteDoesNotLoseTheTranscript) {
    // A multi-byte character cut in two by the recogniser leaves an invalid UTF-8 byte.
    const auto segments = parseWhisperJSON(file("{\"transcription\": [{\"text\": \" caf\xC3\"}, {\"text\": \" suite\"}]}"));
    ASSERT_TRUE(segments);
    ASSERT_EQ(segments->size(), 2);
    EXPECT_EQ(segments->at(0).text, QStringLiteral(" caf\uFFFD"));
    EXPECT_EQ(segments->at(1).text, " suite");
}

TEST(TranscriptCleaning, DropsInventedCreditsAndBareSoundLabels) {
    const QStringList lines = {
        QStringLiteral("Sous-titres réalisés par la communauté d'Amara.org"),
        QStringLiteral("[Musique]"),
        QStringLiteral("la musique était belle"),
        QStringLiteral("  MUSIQUE  "),
        QStringLiteral("Merci d'avoir regardé cette vidéo !"),
        QStringLiteral("N'HÉSITEZ PAS À VOUS ABONNER"),
        QStringLiteral("Sous-titrage ST' 501"),
        QStringLiteral("[applaudissements] et la suite"),
        QStringLiteral("Abonnez-vous à la chaîne"),
        QStringLiteral("À bientôt pour une nouvelle vidéo"),
    };
    EXPECT_EQ(cleanTranscriptLines(lines),
              (QStringList{QStringLiteral("la musique était belle"), QStringLiteral("[applaudissements] et la suite")}));
}

TEST(TranscriptCleaning, KeepsAtMostTwoLinesThatSayTheSameThing) {
    EXPECT_EQ(cleanTranscriptLines({"Bonjour.", "bonjour", "BONJOUR !", "Bonjour"}),
              (QStringList{"Bonjour.", "bonjour"}));
    // A different line ends the run; the same words may then come back twice again.
    EXPECT_EQ(cleanTranscriptLines({"oui", "oui", "non", "oui", "oui…", "- oui -"}),
              (QStringList{"oui", "oui", "non", "oui", "oui…"}));
    // Only the ends are ignored: inner punctuation makes a different line.
    EXPECT_EQ(cleanTranscriptLines({"a, b", "a b", "a b"}), (QStringList{"a, b", "a b", "a b"}));
}

TEST(TranscriptCleaning, DroppedLinesDoNotBreakARun) {
    EXPECT_EQ(cleanTranscriptLines({"Encore.", "", "[Musique]", "encore", "   ", "Abonnez-vous !", "ENCORE"}),
              (QStringList{"Encore.", "encore"}));
}

TEST(TranscriptCleaning, TrimsEachKeptLine) {
    EXPECT_EQ(cleanTranscriptLines({"  Bonjour à tous \n", "\tsuite\r\n"}), (QStringList{"Bonjour à tous", "suite"}));
}

TEST(TranscriptCleaning, PlainTextJoinsTheCleanedSegments) {
    EXPECT_EQ(plainText(segmentsOf({" Bonjour.", " [Musique]", " Ceci est un test.", " "})),
              "Bonjour.\nCeci est un test.");
    EXPECT_EQ(plainText(segmentsOf({" Sous-titres par la communauté", " [MUSIC]", "Merci d'avoir regardé"})),
              QString());
}

TEST(LastLines, KeepsTheLastNonEmptyLines) {
    EXPECT_EQ(lastLines("un\ndeux\ntrois", 6), "un\ndeux\ntrois");
    EXPECT_EQ(lastLines("a\n\n\nb", 6), "a\nb");
    EXPECT_EQ(lastLines("1\r\n2\r3\n4\n5\n6\n7\n8\n", 6), "3\n4\n5\n6\n7\n8");
    EXPECT_EQ(lastLines("", 6), QString());
    EXPECT_EQ(lastLines("a\nb", 0), QString());
}

TEST(HallucinationPatterns, AllCompileCaseInsensitive) {
    const auto &patterns = whisperHallucinationPatterns();
    EXPECT_EQ(patterns.size(), 8);
    EXPECT_EQ(&patterns, &whisperHallucinationPatterns()); // built once
    for (const auto &pattern : patterns)
        EXPECT_TRUE(pattern.patternOptions() & QRegularExpression::CaseInsensitiveOption) << pattern.pattern().toStdString();
}
