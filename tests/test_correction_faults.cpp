// The correction pass under faults: sent nowhere, into the archive, or
// cancelled mid-request. Nothing is lost and nothing is labelled wrongly.
#include <QElapsedTimer>

#include "correction/correction_pass_end.h"
#include "correction/raw_transcripts.h"
#include "support/correction_test_support.h"
#include "support/engine_fixture.h"
#include "support/fake_llm_server.h"

using namespace testing_support;

namespace {

class CorrectionFaults : public CorrectionFixture {
protected:
    void SetUp() override {
        CorrectionFixture::SetUp();
        updateSettings([](ParlivoSettings &s) { s.outputFormat = OutputFormat::both; });
    }
};

TEST_F(CorrectionFaults, ServiceNoneStartsNoPassAndLabelsNothing) {
    updateSettings([](ParlivoSettings &s) { s.correctionBackend = CorrectionBackend::none; });
    makeAudio(src + "/a.m4a", 1.2);
    engine->setSourceFolder(QUrl::fromLocalFile(src));
    ASSERT_TRUE(runQueue());
    ASSERT_EQ(engine->doneCount(), 1);
    spin(200); // whatever the end of the run would start
    EXPECT_FALSE(engine->correctionPassActive());
    EXPECT_FALSE(logHas("Correction IA"));

    engine->startCorrectionPass(); // asked for by hand
    EXPECT_FALSE(engine->correctionPassActive());
    EXPECT_TRUE(logHas("Aucun service de correction choisi : les transcriptions restent brutes."));
    EXPECT_EQ(engine->lastCorrectionPassEnd(), Transcriber::CorrectionPassEnd::noService);
    const QString md = readText(out + "/a.md");
    EXPECT_TRUE(md.contains("\ncorrection: aucune\n")) << md.toStdString();
    EXPECT_EQ(md.count("## Transcription brute"), 0);
    EXPECT_EQ(server.count(FakeLlmServer::chatPath), 0);
}

TEST_F(CorrectionFaults, ThePassLeavesTheArchiveCopiesAlone) {
    const QString memo = writeRawTranscript(out, "a", dictation("A", 60));
    const QString copy = writeRawTranscript(out + "/Archive organisée/Vie pro/Projet/2026-12-05 14h07 - A", "a",
                                            dictation("A", 60));
    const QByteArray copyBefore = *readWholeFile(copy);
    server.echo([](const QString &text) { return text.toUpper(); });

    engine->startCorrectionPass();
    ASSERT_TRUE(runTask(engine->waitForCorrectionPass(), 20000));
    EXPECT_EQ(server.count(FakeLlmServer::chatPath), 1);
    EXPECT_TRUE(logHas("Correction IA terminée : 1/1."));
    EXPECT_FALSE(isRawTranscript(readText(memo)));
    EXPECT_EQ(*readWholeFile(copy), copyBefore);
    EXPECT_TRUE(spinUntil([&] { return engine->rawCount() == 0; }));
}

TEST_F(CorrectionFaults, CancelCutsTheRequestInFlightAndTheFileStaysRaw) {
    const QString memo = writeRawTranscript(out, "a", dictation("A", 60));
    const QByteArray before = *readWholeFile(memo);
    server.enqueue(FakeReply::answer("Trop tard.").delayed(20000));

    engine->startCorrectionPass();
    ASSERT_TRUE(spinUntil([&] { return server.count(FakeLlmServer::chatPath) == 1; }));
    QElapsedTimer sinceCancel;
    sinceCancel.start();
    engine->cancelCorrectionPass();
    ASSERT_TRUE(runTask(engine->waitForCorrectionPass(), 5000)) << "the pass waited for the model";
    EXPECT_LT(sinceCancel.elapsed(), 2000);
    EXPECT_EQ(engine->lastCorrectionPassEnd(), Transcriber::CorrectionPassEnd::cancelled);
    EXPECT_EQ(engine->correctionPassDone(), 0);
    EXPECT_FALSE(logHas("Correction échouée"));
    EXPECT_TRUE(logHas("Correction IA terminée : 0/1."));
    EXPECT_EQ(*readWholeFile(memo), before);
    EXPECT_TRUE(spinUntil([&] { return engine->rawCount() == 1; }));
}

} // namespace
