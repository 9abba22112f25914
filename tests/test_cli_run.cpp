// parlivo-cli run, retry, force and models, as a user types them: a real
// child process with the stand-in recogniser on its PATH.
#include <QFile>
#include <QFileInfo>

#include "core/atomic_file.h"
#include "support/cli_fixture.h"
#include "support/fake_llm_server.h"

using namespace testing_support;

namespace {

class CliRun : public CliFixture {};

TEST_F(CliRun, RunsABatchThenHasNothingLeftToDoAndNothingRunsWithoutRecogniserOrFolder) {
    for (const char *n : {"un.m4a", "sous/deux.mp3"}) makeAudio(src + "/" + n, 1.2);
    writeFile(src + "/casse.m4a", "not audio");
    CliResult first = cli({"run", src});
    EXPECT_EQ(first.code, 1) << first.err.toStdString(); // one file failed
    EXPECT_TRUE(first.err.contains("Lot terminé : 2 transcrits, 0 sautés, 1 en erreur."));
    EXPECT_FALSE(first.err.contains("\r")); // not a terminal: plain log lines
    EXPECT_EQ(transcripts(), (QStringList{"deux.txt", "un.txt"}));
    EXPECT_EQ(recogniserCalls(), 2);

    CliResult status = cli({"status"});
    EXPECT_TRUE(status.out.startsWith("En attente 0, En cours 0, Terminé 2, Sauté 0, Erreur 1, Vide 0\n"));
    EXPECT_TRUE(status.out.contains("error\t-\t" + src + "/casse.m4a\tÉchec de la conversion audio (code "));
    EXPECT_EQ(cli({"retry"}).code, 0);
    EXPECT_TRUE(cli({"status"}).out.contains("pending\t-\t" + src + "/casse.m4a\t\n"));
    EXPECT_EQ(cli({"retry", src + "/casse.m4a"}).code, 0);

    QFile::remove(src + "/casse.m4a");
    CliResult second = cli({"run", src});
    EXPECT_EQ(second.code, 0);
    EXPECT_TRUE(second.err.contains("Rien à transcrire : aucun fichier en attente."));
    EXPECT_EQ(recogniserCalls(), 2);

    CliResult forced = cli({"force", src + "/un.m4a"});
    EXPECT_EQ(forced.code, 0) << forced.err.toStdString();
    EXPECT_EQ(recogniserCalls(), 3);
    EXPECT_EQ(cli({"force", src + "/absent.m4a"}).code, 2);

    // Without a recogniser or a folder, nothing runs.
    CliResult noTool = runCli({"run", src}, {"PARLIVO_WHISPER_CLI=" + home.file("absent/whisper-cli")});
    EXPECT_EQ(noTool.code, 2);
    EXPECT_TRUE(noTool.err.contains("whisper-cli introuvable. Lance scripts/setup, qui le construit, ou installe le "
                                    "paquet whisper.cpp de ta distribution."));
    EXPECT_EQ(cli({"run", home.file("nowhere")}).code, 2);
}

TEST_F(CliRun, WithServersAloneARunNeedsNoModelHere) {
    FakeLlmServer server;
    ASSERT_NE(server.port(), 0);
    server.respondWith([](const FakeRequest &) {
        return FakeReply::raw(200, R"({"segments":[{"id":0,"text":" Du serveur.","start":0.0,"end":1.0}]})");
    });
    makeAudio(src + "/un.m4a", 1.2);
    QFile::remove(home.file(".hestia/ggml-base.bin"));
    ASSERT_EQ(cli({"settings", "recognitionServers", server.endpoint()}).code, 0);
    ASSERT_EQ(cli({"settings", "parallelism", "0"}).code, 0);
    const CliResult run = cli({"run", src}, {"PARLIVO_MODEL_BASE_URL=" + server.endpoint() + "/modeles/"});
    EXPECT_EQ(run.code, 0) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains("Lot terminé : 1 transcrits, 0 sautés, 0 en erreur.")) << run.err.toStdString();
    EXPECT_EQ(transcripts(), QStringList{"un.txt"});
    EXPECT_EQ(recogniserCalls(), 0);
    EXPECT_EQ(server.count("/modeles/ggml-large-v3.bin"), 0);
    EXPECT_EQ(server.count(FakeLlmServer::inferencePath), 1);
}

TEST_F(CliRun, ModelsListsTheCatalogueAndDownloadsOne) {
    ModelRepository repository("ggml-base.bin", 4096);
    CliResult list = cli({"models"});
    EXPECT_EQ(list.code, 0);
    EXPECT_TRUE(list.out.contains("* ggml-base.bin"));
    EXPECT_TRUE(list.out.contains("ggml-large-v3-turbo.bin\tLarge v3 Turbo (quasi identique, 5x plus rapide, ~1.6 Go)"));

    QFile::remove(home.file(".hestia/ggml-base.bin"));
    const CliResult downloaded = cli({"models", "--download", "ggml-base.bin"});
    EXPECT_EQ(downloaded.code, 0) << downloaded.err.toStdString();
    EXPECT_EQ(QFileInfo(home.file(".hestia/ggml-base.bin")).size(), 4096);
    const CliResult missing = cli({"models", "--download", "ggml-medium.bin"});
    EXPECT_EQ(missing.code, 1);
    EXPECT_TRUE(missing.err.contains("Échec : Réponse HTTP 404"));
    EXPECT_FALSE(QFileInfo::exists(home.file(".hestia/ggml-medium.bin")));
    EXPECT_EQ(cli({"models", "--download", "ggml-nope.bin"}).code, 2);
}

} // namespace
