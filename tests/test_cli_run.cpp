// parlivo-cli run, retry, force and models, as a user types them: a real
// child process with the stand-in recogniser on its PATH.
#include <QFile>
#include <QFileInfo>
#include <QHttpServer>
#include <QHttpServerResponse>
#include <QProcess>

#include <csignal>

#include "core/atomic_file.h"
#include "support/cli_fixture.h"
#include "support/fake_llm_server.h"

using namespace testing_support;

namespace {

class CliRun : public CliFixture {
protected:
    // A run in the background, for interrupting it.
    std::unique_ptr<QProcess> startRun(const QStringList &more) { return startCli({"run", src}, more); }
};

TEST_F(CliRun, RunsABatchThenHasNothingLeftToDo) {
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

TEST_F(CliRun, MissingRecogniserOrFolderExitsWithTwo) {
    makeAudio(src + "/un.m4a", 1.2);
    CliResult noTool = runCli({"run", src}, {"PARLIVO_WHISPER_CLI=" + home.file("absent/whisper-cli")});
    EXPECT_EQ(noTool.code, 2);
    EXPECT_TRUE(noTool.err.contains("whisper-cli introuvable. Lance scripts/setup, qui le construit, ou installe le "
                                    "paquet whisper.cpp de ta distribution."));
    EXPECT_EQ(cli({"run", home.file("nowhere")}).code, 2);
}

TEST_F(CliRun, AKilledRunIsFinishedByTheNextOneWithOneTranscriptPerFile) {
    const QStringList names = {"a.m4a", "b.m4a", "c.m4a", "d.m4a"};
    for (const QString &n : names) makeAudio(src + "/" + n, 1.2);
    auto run = startRun({"FAKE_WHISPER_DELAY=1"});
    ASSERT_TRUE(spinUntil([&] { return recogniserCalls() >= 2; }, 30000));
    ::kill(pid_t(run->processId()), SIGKILL);
    run->waitForFinished();

    CliResult again = cli({"run", src});
    EXPECT_EQ(again.code, 0) << again.err.toStdString();
    EXPECT_EQ(transcripts(), (QStringList{"a.txt", "b.txt", "c.txt", "d.txt"}));
    EXPECT_TRUE(scratch().isEmpty()) << scratch().join(' ').toStdString();
    // Files finished just before the kill may not be in the history yet: their
    // up-to-date transcripts make them skipped rather than transcribed twice.
    const QString counters = cli({"status"}).out.section('\n', 0, 0);
    EXPECT_TRUE(counters.startsWith("En attente 0, En cours 0, ")) << counters.toStdString();
    EXPECT_TRUE(counters.endsWith("Erreur 0, Vide 0")) << counters.toStdString();
}

// Live processes (zombies aside) whose environment holds `text`.
int processesWithEnvironment(const QString &text) {
    int count = 0;
    for (const QString &pid : QDir("/proc").entryList({"[0-9]*"}, QDir::Dirs)) {
        const QByteArray status = readWholeFile("/proc/" + pid + "/stat").value_or(QByteArray());
        if (status.isEmpty() || status.contains(") Z ")) continue;
        if (readWholeFile("/proc/" + pid + "/environ").value_or(QByteArray()).contains(text.toUtf8())) ++count;
    }
    return count;
}

TEST_F(CliRun, AKilledRunTakesItsRecogniserAlong) {
    makeAudio(src + "/a.m4a", 1.2);
    auto run = startRun({"FAKE_WHISPER_HANG=1"});
    ASSERT_TRUE(spinUntil([&] { return recogniserCalls() == 1; }, 30000));
    // The recogniser inherits the call log's path: that finds it among the processes.
    EXPECT_EQ(processesWithEnvironment(argsLog), 2);
    ::kill(pid_t(run->processId()), SIGKILL);
    run->waitForFinished();
    EXPECT_TRUE(spinUntil([&] { return processesWithEnvironment(argsLog) == 0; }, 5000));
}

TEST_F(CliRun, CtrlCCancelsSavesAndExitsWithOne) {
    for (const char *n : {"a.m4a", "b.m4a"}) makeAudio(src + "/" + n, 1.2);
    auto run = startRun({"FAKE_WHISPER_HANG=1"});
    ASSERT_TRUE(spinUntil([&] { return recogniserCalls() >= 1; }, 30000));
    ::kill(pid_t(run->processId()), SIGINT);
    ASSERT_TRUE(spinUntil([&] { return run->state() == QProcess::NotRunning; }, 15000));
    EXPECT_EQ(run->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(run->exitCode(), 1);
    const QString err = QString::fromUtf8(run->readAllStandardError());
    EXPECT_TRUE(err.contains("Annulation demandée.")) << err.toStdString();
    EXPECT_TRUE(err.contains("Lot interrompu."));
    EXPECT_FALSE(err.contains("délai dépassé"));
    EXPECT_TRUE(cli({"status"}).out.startsWith("En attente 2, En cours 0"));
    EXPECT_TRUE(scratch().isEmpty());
}

TEST_F(CliRun, ModelsListsTheCatalogueAndDownloadsOne) {
    QHttpServer server;
    server.route("/<arg>", [](const QString &name) {
        if (name == "ggml-base.bin") return QHttpServerResponse(QByteArray(4096, 'b'));
        return QHttpServerResponse(QByteArray(), QHttpServerResponse::StatusCode::NotFound);
    });
    const quint16 port = server.listen(QHostAddress::LocalHost, 0);
    CliResult list = cli({"models"});
    EXPECT_EQ(list.code, 0);
    EXPECT_TRUE(list.out.contains("* ggml-base.bin"));
    EXPECT_TRUE(list.out.contains("ggml-large-v3-turbo.bin\tLarge v3 Turbo (quasi identique, 5x plus rapide, ~1.6 Go)"));

    QFile::remove(home.file(".hestia/ggml-base.bin"));
    const QStringList base{QStringLiteral("PARLIVO_MODEL_BASE_URL=http://127.0.0.1:%1/").arg(port)};
    const CliResult downloaded = cli({"models", "--download", "ggml-base.bin"}, base);
    EXPECT_EQ(downloaded.code, 0) << downloaded.err.toStdString();
    EXPECT_EQ(QFileInfo(home.file(".hestia/ggml-base.bin")).size(), 4096);
    const CliResult missing = cli({"models", "--download", "ggml-medium.bin"}, base);
    EXPECT_EQ(missing.code, 1);
    EXPECT_TRUE(missing.err.contains("Échec : Réponse HTTP 404"));
    EXPECT_FALSE(QFileInfo::exists(home.file(".hestia/ggml-medium.bin")));
    EXPECT_EQ(cli({"models", "--download", "ggml-nope.bin"}).code, 2);
}

} // namespace
