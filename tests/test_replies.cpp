// Bad input, replies: what the language model and the recogniser send back
// when it is not what was asked. A refusal or a bare "OK" must never become
// the transcript; a result of the wrong shape must never pass for an empty
// recording.
#include <QFileInfo>

#include "correction/corrector.h"
#include "correction/raw_transcripts.h"
#include "support/call_outcome.h"
#include "support/correction_test_support.h"
#include "support/engine_fixture.h"
#include "support/fake_llm_server.h"

using namespace testing_support;
using namespace std::chrono_literals;

namespace {

const QString spoken = "bon alors je voulais te dire que la réunion de demain est déplacée à jeudi matin";

// ---------------------------------------------------------------- is it a correction

TEST(RepliesPure, ACorrectionIsCloseInLengthAndMadeOfTheTextsWords) {
    // 10 words: 39 characters. 0.4 × 39 = 15.6 and 2 × 39 = 78.
    const QString words = "mot mot mot mot mot mot mot mot mot mot";
    const QString chat = "le chat dort sur le canapé du salon ce matin";
    const struct {
        QString text, answer;
        bool plausible;
    } cases[] = {
        {spoken, "Bon, alors je voulais te dire que la réunion de demain est déplacée à jeudi matin.", true},
        // Accents and capitals put right are still the same words.
        {"la reunion est deplacee a jeudi parce que le client est malade",
         "La réunion est déplacée à jeudi, parce que le client est malade.", true},
        {spoken, "OK", false},
        {spoken, "Je suis désolé, je ne peux pas corriger ce texte.", false},
        {spoken, "I'm sorry, but I cannot help with correcting this text today.", false},
        {words, "mot mot mot mot", false}, // 15 characters
        {words, "mot mot mot mot.", true}, // 16
        {words, QString("mot ").repeated(18) + "mot", true},  // 75
        {words, QString("mot ").repeated(19) + "mot", false}, // 79
        // Distinct words of the answer found in the text: 4 of 10 is too few, 8 of 9 is enough.
        {chat, "Le chien mange dans la cuisine du salon ce soir.", false},
        {chat, "Le chat dort sur le canapé du salon, ce soir.", true},
    };
    for (const auto &c : cases)
        EXPECT_EQ(Corrector::isPlausibleCorrection(c.text, c.answer), c.plausible) << c.answer.toStdString();
}

// ---------------------------------------------------------------- the model's replies

ParlivoSettings ollamaAt(const FakeLlmServer &server) {
    ParlivoSettings settings;
    settings.ollamaEndpoint = server.endpoint();
    return settings;
}

TEST(ModelReplies, AReplyThatIsNotJsonSaysSo) {
    FakeLlmServer server;
    server.failWith(200, "<html>proxy</html>");
    const auto corrected = runCall(Corrector::correct(spoken, ollamaAt(server)));
    ASSERT_TRUE(corrected.error);
    EXPECT_EQ(corrected.error->errorDescription(), "Réponse illisible du modèle");
    EXPECT_FALSE(corrected.error->isBackendDown());

    ScopedEnv anthropic{{"PARLIVO_ANTHROPIC_URL", server.anthropicUrl()}};
    ParlivoSettings cloud;
    cloud.correctionBackend = CorrectionBackend::anthropic;
    cloud.anthropicKey = "sk";
    server.failWith(200, R"({"content": "pas une liste"})");
    EXPECT_EQ(runCall(Corrector::correct(spoken, cloud)).error->kind(), CorrectionError::Kind::unreadable);
}

// What the stand-in recogniser hears: one sentence worth correcting.
class RepliesInABatch : public CorrectionFixture {
protected:
    ScopedEnv heard{{"FAKE_WHISPER_SEGMENTS", QString::fromStdString(Json::array({utf8(spoken)}).dump())}};

    void SetUp() override {
        CorrectionFixture::SetUp(); // txt, the default format
        makeAudio(src + "/memo.m4a", 1.2);
        engine->setSourceFolder(QUrl::fromLocalFile(src));
    }
};

TEST_F(RepliesInABatch, ARefusalOrABareOkNeverReplacesWhatWasSaid) {
    for (const QString &reply : {QString("Je suis désolé, je ne peux pas corriger ce texte."), QString("OK")}) {
        server.answerWith(reply);
        engine->transcribeSelection({entryNamed("memo.m4a").id});
        ASSERT_TRUE(runTask(engine->waitForRun()));
        EXPECT_EQ(entryNamed("memo.m4a").status, FileStatus::done);
        const QString transcript = readText(out + "/memo.txt");
        EXPECT_TRUE(transcript.endsWith("\n\n" + spoken + "\n")) << transcript.toStdString();
        EXPECT_FALSE(transcript.contains(reply));
    }
    EXPECT_EQ(logCount("Correction échouée sur memo.m4a, texte brut conservé : Réponse du modèle sans rapport avec le "
                       "texte"),
              2);
}

TEST_F(RepliesInABatch, ARecogniserResultOfTheWrongTypesIsAnError) {
    // A recogniser that writes a result whose texts are numbers.
    const QString script = writeFile(home.file("bin/whisper-cli"),
                                     "#!/bin/sh\n"
                                     "while [ $# -gt 0 ]; do [ \"$1\" = -of ] && prefix=$2; shift; done\n"
                                     "printf '{\"transcription\": [{\"text\": 5}]}' > \"$prefix.json\"\n");
    QFile::setPermissions(script, QFile::permissions(script) | QFileDevice::ExeOwner);
    Tools tools = this->tools();
    tools.whisper = script;
    engine->saveNow();
    engine = std::make_unique<Transcriber>(tools);
    ASSERT_TRUE(runQueue());
    EXPECT_EQ(entryNamed("memo.m4a").status, FileStatus::error);
    EXPECT_EQ(entryNamed("memo.m4a").errorMessage, "Échec de whisper-cli (code 0).\n");
    EXPECT_FALSE(QFileInfo::exists(out + "/memo.txt"));
}

// ---------------------------------------------------------------- the correction pass

TEST_F(RepliesInABatch, APassThatCorrectedNothingSaysSo) {
    updateSettings([](ParlivoSettings &s) { s.correctionEnabled = false; });
    writeRawTranscript(out, "ancien", dictation("Ancien", 80));
    server.answerWith("OK");
    engine->startCorrectionPass();
    ASSERT_TRUE(runTask(engine->waitForCorrectionPass(), 20000));
    EXPECT_TRUE(logHas("Correction échouée : ancien.md"));
    EXPECT_TRUE(logHas("Correction IA terminée : 0/1."));
    EXPECT_TRUE(isRawTranscript(readText(out + "/ancien.md")));
}

} // namespace
