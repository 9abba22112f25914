// parlivo-cli correct, install-ollama, and run waiting for the pass it
// chains: a real child process, served by the stand-ins of this process.
#include <QHttpServer>
#include <QHttpServerResponse>

#include "correction/correction_pass_end.h"
#include "correction/raw_transcripts.h"
#include "support/cli_fixture.h"
#include "support/correction_test_support.h"
#include "support/fake_llm_server.h"

using namespace testing_support;

namespace {

class CliCorrection : public CliFixture {
protected:
    FakeLlmServer server;

    void SetUp() override {
        CliFixture::SetUp();
        ASSERT_NE(server.port(), 0);
        server.setModels({"qwen2.5:7b"});
        QDir().mkpath(src);
        ASSERT_EQ(cli({"settings", "correctionEnabled", "true"}).code, 0);
        ASSERT_EQ(cli({"settings", "outputFormat", "md"}).code, 0);
        ASSERT_EQ(cli({"settings", "ollamaEndpoint", server.endpoint()}).code, 0);
    }
};

TEST_F(CliCorrection, CorrectNeedsAnOutputRootRunsThePassAndReportsWhatStayedRaw) {
    const CliResult unknown = runCli({"correct"});
    EXPECT_EQ(unknown.code, 2);
    EXPECT_TRUE(unknown.err.contains("Dossier de sortie inconnu")) << unknown.err.toStdString();
    EXPECT_EQ(runCli({"correct", "extra"}).code, 2);

    const QString a = writeRawTranscript(src, "a", dictation("A", 60));
    const QString b = writeRawTranscript(src + "/sous", "b", dictation("B", 90));
    ASSERT_EQ(runCli({"scan", src}).code, 0);

    server.enqueue(FakeReply::error(500, "surcharge")); // a fails in the first round only
    server.failWith(500, "surcharge");
    server.enqueue(FakeReply::answer(dictation("B", 90).toUpper()));
    const CliResult failing = cli({"correct"});
    EXPECT_EQ(failing.code, 1) << failing.err.toStdString();
    EXPECT_TRUE(failing.err.contains("Correction IA de 2 transcription(s) brute(s)…"));
    EXPECT_EQ(failing.out, "brute\t" + a + "\n");
    EXPECT_TRUE(readText(b).contains(dictation("B", 90).toUpper()));

    server.echo();
    const CliResult passing = cli({"correct"});
    EXPECT_EQ(passing.code, 0) << passing.err.toStdString();
    EXPECT_TRUE(passing.err.contains("Correction IA terminée : 1/1."));
    EXPECT_TRUE(passing.out.isEmpty());
    EXPECT_TRUE(rawTranscripts(src).isEmpty());
}

TEST_F(CliCorrection, RunWaitsForThePassItChains) {
    const QString earlier = writeRawTranscript(src, "ancien", dictation("Ancien", 80));
    makeAudio(src + "/nouveau.m4a", 1.2);
    const CliResult run = cli({"run", src});
    EXPECT_EQ(run.code, 0) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains("Lot terminé : 1 transcrits, 0 sautés, 0 en erreur."));
    EXPECT_TRUE(run.err.contains("Correction IA terminée : 1/1."));
    EXPECT_TRUE(readText(earlier).contains("\ncorrection: Ollama (qwen2.5:7b)\n"));
    EXPECT_TRUE(rawTranscripts(src).isEmpty());
}

TEST_F(CliCorrection, InstallOllamaReportsAFailedDownload) {
    QHttpServer archives;
    archives.route("/ollama-linux-amd64.tgz", [] {
        return QHttpServerResponse("text/html", "<html>introuvable</html>", QHttpServerResponse::StatusCode::NotFound);
    });
    const quint16 port = archives.listen(QHostAddress::LocalHost, 0);
    ASSERT_NE(port, 0);
    const CliResult result =
        cli({"install-ollama"},
            {QStringLiteral("PARLIVO_OLLAMA_DOWNLOAD_URL=http://127.0.0.1:%1/ollama-linux-amd64.tgz").arg(port)});
    EXPECT_EQ(result.code, 1);
    EXPECT_TRUE(result.err.contains("Installation Ollama échouée : Téléchargement impossible : Réponse HTTP 404"))
        << result.err.toStdString();
    EXPECT_EQ(result.out, "Téléchargement du moteur (~190 Mo, ça peut prendre 1 à 2 min)…\n");
    EXPECT_FALSE(QFileInfo::exists(home.file(".local/bin/ollama")));
}

} // namespace
