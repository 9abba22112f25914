// The correction area on its own objects, against the stand-in model server:
// the batch's stage and the pass, with only what they are handed.

#include "correction/correction_pass.h"
#include "correction/run_correction.h"
#include "support/correction_test_support.h"

using namespace testing_support;
using namespace std::chrono_literals;

namespace {

class CorrectionAlone : public ::testing::Test {
protected:
    TempHome home;
    FakeLlmServer server;
    EventLog log;
    ParlivoSettings settings;
    OllamaRuntime ollama{settings, log, std::nullopt, [](const QUrl &) {}};
    QString out = home.file("out");
    bool batchRunning = false;
    QList<CorrectionPassEnd> ends; // what the pass handed over, in order
    CorrectionPass pass{settings, log, ollama,
                        CorrectionPassHooks{[this] { return std::optional(out); }, [] { return std::nullopt; },
                                            [this] { return batchRunning; },
                                            [this](CorrectionPassEnd end) { ends << end; }}};
    RunCorrection stage{settings, log, ollama};

    void SetUp() override {
        ASSERT_NE(server.port(), 0);
        server.setModels({"qwen2.5:7b"});
        ollama.setTimings({3, 10ms, 50ms});
        settings.ollamaEndpoint = server.endpoint();
    }
    bool logHas(const QString &text) const { return !log.lines().filter(text).isEmpty(); }
};

TEST_F(CorrectionAlone, ThePassWaitsForTheBatchAndSaysWhyItCannotRun) {
    writeRawTranscript(out, "a", dictation("A", 60));
    batchRunning = true;
    pass.start();
    EXPECT_FALSE(pass.active());
    EXPECT_TRUE(ends.isEmpty());

    batchRunning = false;
    settings.correctionBackend = CorrectionBackend::none;
    pass.start();
    EXPECT_EQ(pass.lastEnd(), CorrectionPassEnd::noService);
    EXPECT_TRUE(log.lines().last().endsWith("Aucun service de correction choisi : les transcriptions restent brutes."));
}

TEST_F(CorrectionAlone, TheBatchStageCorrectsOnlyWhenItsServiceAnsweredBeforeTheRun) {
    server.echo([](QString text) { return text.replace("avance", "progresse"); });
    ASSERT_TRUE(runTask(stage.preflight()));
    EXPECT_TRUE(stage.activeThisRun());
    EXPECT_FALSE(stage.wants("  \n"));
    Cancellation cancel;
    QStringList names; // the file with the model, as the window sees it
    QObject::connect(&stage, &RunCorrection::changed, [&] { names << stage.correctingName().value_or("-"); });
    const QString said = "Alors : on avance sur le projet, on avance sur le budget et sur le calendrier.";
    EXPECT_EQ(runTaskFor(stage.correct("memo.m4a", said, cancel)).value_or(std::nullopt),
              std::optional<QString>(
                  "Alors : on progresse sur le projet, on progresse sur le budget et sur le calendrier."));
    EXPECT_EQ(names, (QStringList{"memo.m4a", "-"}));

    server.stop();
    ASSERT_TRUE(runTask(stage.preflight()));
    EXPECT_FALSE(stage.activeThisRun());
    EXPECT_TRUE(log.lines().last().endsWith(
        QString("Ollama n'a pas pu démarrer (%1). Le lot produit le texte brut.").arg(server.endpoint())));
}

} // namespace
