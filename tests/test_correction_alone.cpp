// The correction pass on its own object, against the stand-in model server,
// with only what it is handed.

#include "correction/correction_pass.h"
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

    void SetUp() override {
        ASSERT_NE(server.port(), 0);
        server.setModels({"qwen2.5:7b"});
        ollama.setTimings({3, 10ms, 50ms});
        settings.ollamaEndpoint = server.endpoint();
    }
};

TEST_F(CorrectionAlone, ThePassWaitsForTheBatch) {
    writeRawTranscript(out, "a", dictation("A", 60));
    batchRunning = true;
    pass.start();
    EXPECT_FALSE(pass.active());
    EXPECT_TRUE(ends.isEmpty());
}

} // namespace
