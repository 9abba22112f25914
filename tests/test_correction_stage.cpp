// Correction inside a batch: real ffmpeg, the stand-in recogniser and the
// stand-in language-model server. What the transcripts hold, what is sent,
// and what happens when the server goes away half-way.
#include <QFileInfo>

#include "correction/raw_transcripts.h"
#include "support/correction_test_support.h"

using namespace testing_support;
using namespace std::chrono_literals;

namespace {

// What the stand-in recogniser hears in every file: one line of `length` characters.
QString heardText(int length) { return dictation(QStringLiteral("Réunion"), length); }

class CorrectionStage : public CorrectionFixture {
protected:
    std::optional<ScopedEnv> segments;

    void SetUp() override {
        CorrectionFixture::SetUp();
        hear(heardText(120));
        updateSettings([&](ParlivoSettings &s) { s.outputFormat = OutputFormat::both; });
    }
    void hear(const QString &text) {
        segments.reset();
        segments.emplace("FAKE_WHISPER_SEGMENTS", QString::fromStdString(Json::array({utf8(text)}).dump()));
    }
    void record(const QStringList &names) {
        for (const QString &name : names) makeAudio(src + "/" + name + ".m4a", 1.2);
        engine->setSourceFolder(QUrl::fromLocalFile(src));
    }
    QString md(const QString &name) const { return readText(out + "/" + name + ".md"); }
    QString txt(const QString &name) const { return readText(out + "/" + name + ".txt"); }
    // Log lines up to the end of the batch, before anything it chains.
    QStringList batchLog() const {
        QStringList lines;
        for (const QString &line : engine->logLines()) {
            lines << line;
            if (line.contains("Lot terminé")) break;
        }
        return lines;
    }
};

TEST_F(CorrectionStage, ABatchWritesCorrectedTranscriptsSendsTheExpectedRequestAndGoesOnPastAFailedOne) {
    hear(heardText(2000));
    server.echo([](const QString &text) { return "```\n" + text.toUpper() + "\n```"; });
    record({"memo"});
    ASSERT_TRUE(runQueue());
    EXPECT_EQ(logCount("Correction LLM active : Ollama (local) (qwen2.5:7b)."), 1);
    EXPECT_EQ(entryNamed("memo.m4a").status, FileStatus::done);

    const QString markdown = md("memo");
    EXPECT_TRUE(markdown.contains("\ncorrection: Ollama (local) (qwen2.5:7b)\n"));
    EXPECT_TRUE(markdown.endsWith("\n\n" + heardText(2000).toUpper() + "\n\n## Transcription brute\n\n" +
                                  heardText(2000) + "\n"));
    EXPECT_TRUE(txt("memo").endsWith(QString(56, '=') + "\n\n" + heardText(2000).toUpper() + "\n"));
    EXPECT_FALSE(txt("memo").contains(heardText(2000)));

    ASSERT_EQ(server.count(FakeLlmServer::chatPath), 1);
    const Json messages = Json::array({{{"role", "system"}, {"content", utf8(ParlivoSettings::defaultCorrectionPrompt)}},
                                       {{"role", "user"}, {"content", utf8(heardText(2000))}}});
    const Json options = {{"temperature", 0.2}, {"num_ctx", 8192}, {"num_predict", 1321}, {"repeat_penalty", 1.1}};
    EXPECT_EQ(server.requests(FakeLlmServer::chatPath).first().json(),
              Json({{"model", "qwen2.5:7b"}, {"stream", false}, {"messages", messages}, {"options", options}}));

    // Nothing raw is left, so nothing is chained.
    EXPECT_FALSE(engine->correctionPassActive());
    EXPECT_TRUE(rawTranscripts(out).isEmpty());

    // A failed or empty correction keeps the raw text and the batch goes on.
    hear(heardText(120));
    server.enqueue({FakeReply::error(500, "surcharge"), FakeReply::answer("Voici le texte corrigé :\n\n")});
    record({"a", "b", "c"});
    ASSERT_TRUE(runQueue());
    EXPECT_EQ(engine->doneCount(), 4); // with the memo above
    EXPECT_EQ(logCount("Correction échouée sur a.m4a, texte brut conservé : Réponse HTTP 500 : surcharge"), 1);
    EXPECT_EQ(logCount("Correction échouée sur b.m4a, texte brut conservé : Réponse vide du modèle"), 1);
    EXPECT_TRUE(isRawTranscript(md("a")) && isRawTranscript(md("b")));
    EXPECT_FALSE(isRawTranscript(md("c")));
    EXPECT_TRUE(engine->correctionActiveThisRun()); // a failed text is not a dead backend
    EXPECT_EQ(logCount("Ollama injoignable"), 0);
}

TEST_F(CorrectionStage, TheFileBeingCorrectedIsShownAtNinetySevenPercentAndWithoutTheRawTextOnlyTheCorrectionIsKept) {
    updateSettings([](ParlivoSettings &s) {
        s.keepRawTranscript = false;
        s.outputFormat = OutputFormat::md;
    });
    server.echo([](const QString &text) { return text.toUpper(); });
    server.setDelay(300);
    record({"memo"});
    engine->start();
    ASSERT_TRUE(spinUntil([&] { return server.count(FakeLlmServer::chatPath) == 1; }, 30000));
    EXPECT_EQ(engine->correctingName(), "memo.m4a");
    EXPECT_DOUBLE_EQ(entryNamed("memo.m4a").progress, 0.97);
    engine->startCorrectionPass(); // a pass waits for the batch
    EXPECT_FALSE(engine->correctionPassActive());
    ASSERT_TRUE(runTask(engine->waitForRun()));
    EXPECT_FALSE(engine->correctingName());

    const QString markdown = md("memo");
    EXPECT_TRUE(markdown.endsWith("\n\n" + heardText(120).toUpper() + "\n"));
    EXPECT_FALSE(markdown.contains("Transcription brute"));
    EXPECT_FALSE(QFileInfo::exists(out + "/memo.txt"));
    EXPECT_EQ(entryNamed("memo.m4a").outputPath, out + "/memo.md");
}

TEST_F(CorrectionStage, TheServerStoppingMidBatchLeavesTheRestRawUntilThePassCorrectsIt) {
    // The server answers the first file, then quits while the second is sent.
    const QString firstAnswer = heardText(120).replace("avance", "progresse");
    server.enqueue({FakeReply::answer(firstAnswer), FakeReply::stopServer()});
    record({"a", "b", "c"});
    ASSERT_TRUE(runQueue());
    EXPECT_EQ(engine->doneCount(), 3);
    EXPECT_EQ(server.count(FakeLlmServer::chatPath), 2);

    const QStringList batch = batchLog();
    EXPECT_EQ(batch.filter("Correction échouée sur b.m4a, texte brut conservé : Service injoignable : ").size(), 1);
    EXPECT_EQ(batch.filter("Ollama injoignable, démarrage automatique…").size(), 1); // one restart
    EXPECT_EQ(batch.filter("Ollama.app introuvable. Installe Ollama (https://ollama.com) pour activer la "
                           "correction locale.").size(), 1);
    EXPECT_EQ(batch.filter("Correction désactivée pour la suite du lot (Ollama indisponible).").size(), 1);
    EXPECT_TRUE(md("a").contains(firstAnswer));
    EXPECT_TRUE(isRawTranscript(md("b")) && isRawTranscript(md("c")));
    EXPECT_TRUE(md("b").contains(heardText(120)));
    EXPECT_TRUE(txt("c").endsWith(heardText(120) + "\n"));

    // The batch chained the pass, which found the server still away.
    ASSERT_TRUE(runTask(engine->waitForCorrectionPass()));
    EXPECT_EQ(logCount("Ollama indisponible : correction impossible."), 1);

    // Back up: the pass finds exactly the two raw files and corrects them.
    ASSERT_TRUE(server.resume());
    server.clearRequests();
    server.echo([](const QString &text) { return text.toUpper(); });
    engine->startCorrectionPass();
    ASSERT_TRUE(runTask(engine->waitForCorrectionPass()));
    EXPECT_EQ(logCount("Correction IA de 2 transcription(s) brute(s)…"), 1);
    EXPECT_EQ(server.count(FakeLlmServer::chatPath), 2);
    EXPECT_TRUE(rawTranscripts(out).isEmpty());
    for (const char *name : {"b", "c"}) {
        EXPECT_TRUE(md(name).contains("\ncorrection: Ollama (qwen2.5:7b)\n"));
        EXPECT_TRUE(md(name).contains(heardText(120).toUpper() + "\n\n## Transcription brute\n\n" + heardText(120)));
        EXPECT_TRUE(txt(name).endsWith("\n\n" + heardText(120).toUpper() + "\n"));
    }
    EXPECT_TRUE(md("a").contains(firstAnswer)); // untouched
}

TEST_F(CorrectionStage, ThePreflightLeavesTheBatchRawWhenTheBackendCannotServe) {
    // Ollama: the server away and nothing to start.
    server.stop();
    record({"a"});
    ASSERT_TRUE(runQueue());
    EXPECT_EQ(logCount(QStringLiteral("Ollama n'a pas pu démarrer (%1). Le lot produit le texte brut.")
                           .arg(server.endpoint())),
              1);
    EXPECT_FALSE(engine->correctionActiveThisRun());
    EXPECT_TRUE(isRawTranscript(md("a")));
    ASSERT_TRUE(runTask(engine->waitForCorrectionPass()));

    // Anthropic without a key: no request at all.
    server.resume();
    server.clearRequests();
    updateSettings([](ParlivoSettings &s) {
        s.correctionBackend = CorrectionBackend::anthropic;
        s.correctionEnabled = true;
    });
    engine->transcribeSelection({entryNamed("a.m4a").id});
    ASSERT_TRUE(runTask(engine->waitForRun()));
    EXPECT_EQ(logCount("Clé API Anthropic manquante. Le lot produit le texte brut."), 1);
    ASSERT_TRUE(runTask(engine->waitForCorrectionPass()));
    EXPECT_EQ(server.count(FakeLlmServer::messagesPath), 0);
}

TEST_F(CorrectionStage, ARefusedKeyStopsCloudCorrectionForTheRestOfTheBatch) {
    ScopedEnv anthropic{{"PARLIVO_ANTHROPIC_URL", server.anthropicUrl()}};
    updateSettings([](ParlivoSettings &s) {
        s.correctionBackend = CorrectionBackend::anthropic;
        s.anthropicKey = "sk-ant-test";
        s.outputFormat = OutputFormat::txt; // nothing for a pass to find afterwards
    });
    server.failWith(401, R"({"type":"error","error":{"type":"authentication_error"}})");
    record({"a", "b"});
    ASSERT_TRUE(runQueue());
    EXPECT_EQ(logCount("Correction LLM active : API Anthropic (cloud) (claude-haiku-4-5-20251001)."), 1);
    EXPECT_EQ(logCount("Correction désactivée pour la suite du lot."), 1);
    EXPECT_EQ(server.count(FakeLlmServer::messagesPath), 1);
    EXPECT_EQ(logCount("Ollama injoignable"), 0);
    EXPECT_TRUE(txt("b").endsWith(heardText(120) + "\n"));
}

} // namespace
