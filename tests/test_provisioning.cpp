// Provisioning: the local Ollama server on its own objects (finding and
// starting it, waiting for it, pulling the model on the streamed /api/pull,
// watching it, the one-action install), and the local whisper models with
// their download against real HTTP on 127.0.0.1. The Ollama server is the
// in-process stand-in; the `ollama` program is a script that only records how
// it was started.
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTimer>

#include <memory>

#include "provisioning/downloader.h"
#include "provisioning/model_catalog.h"
#include "provisioning/ollama_installer.h"
#include "provisioning/ollama_pull.h"
#include "provisioning/ollama_runtime.h"
#include "support/correction_test_support.h"

using namespace testing_support;
using namespace std::chrono_literals;

namespace {

TEST(OllamaPullLines, ProgressComesFromSizesOrElseFromSuccess) {
    auto update = ollama::parsePullLine(R"({"status":"pulling 6a07","total":4000,"completed":1000})").update;
    ASSERT_TRUE(update && update->hasTotal);
    EXPECT_DOUBLE_EQ(update->fraction, 0.25);
    update = ollama::parsePullLine(R"({"status":"success"})").update;
    ASSERT_TRUE(update && !update->hasTotal);
    EXPECT_DOUBLE_EQ(update->fraction, 1.0);
    EXPECT_DOUBLE_EQ(ollama::parsePullLine(R"({"status":"pulling manifest","total":0})").update->fraction, 0.0);

    EXPECT_EQ(ollama::parsePullLine(R"({"error":"file does not exist"})").error, "file does not exist");
    const auto junk = ollama::parsePullLine("<html>502 Bad Gateway</html>");
    EXPECT_FALSE(junk.error || junk.update);
    EXPECT_FALSE(ollama::parsePullLine(R"(["status","success"])").update);

    EXPECT_EQ(ollama::progressTenth(0.19), 1);
    EXPECT_EQ(ollama::progressTenth(0.999), 9);
    EXPECT_EQ(ollama::progressTenth(1.0), 10);
}

class OllamaServer : public ::testing::Test {
protected:
    TempHome home;
    FakeLlmServer server;
    QString calls = home.file("ollama-calls.log");
    QTimer resumer; // brings the server up once the stand-in program was started
    EventLog log;
    ParlivoSettings settings;
    ProcessRunner processes;
    QList<QUrl> opened;
    ::OllamaRuntime runtime{settings, log, std::nullopt, [this](const QUrl &url) { opened << url; }};
    OllamaInstaller installer{settings, log, runtime, processes};

    void SetUp() override {
        ASSERT_NE(server.port(), 0);
        runtime.setTimings({3, 10ms, 50ms});
        settings.ollamaEndpoint = server.endpoint();
        resumer.setInterval(10);
        QObject::connect(&resumer, &QTimer::timeout, [this] {
            if (QFileInfo::exists(calls)) {
                server.resume();
                resumer.stop();
            }
        });
    }
    bool ensureRunning() { return runTaskFor(runtime.ensureRunning(), 20000).value_or(false); }
    int logCount(const QString &text) const { return int(log.lines().filter(text).size()); }
    bool logHas(const QString &text) const { return logCount(text) > 0; }
};

TEST_F(OllamaServer, AFailedOrCutPullLeavesTheModelUnknownAndAMissingModelIsPulledOnceByTenths) {
    server.setModels({});
    server.setPullReply(FakeReply::stream(FakeLlmServer::pullErrorLines("pull model manifest: file does not exist")));
    EXPECT_FALSE(ensureRunning());
    EXPECT_EQ(logCount("Téléchargement du modèle impossible : "), 1);
    EXPECT_TRUE(logHas("pull model manifest: file does not exist"));
    server.setPullReply(FakeReply::error(500, R"({"error":"busy"})"));
    EXPECT_FALSE(ensureRunning());
    EXPECT_TRUE(logHas("réponse HTTP invalide"));
    // A stream cut half-way is a failure, not a model.
    log.clear();
    server.setPullReply(FakeReply::stream(FakeLlmServer::pullSuccessLines(), 3));
    EXPECT_FALSE(ensureRunning());
    EXPECT_EQ(logCount("Téléchargement du modèle impossible : "), 1);
    EXPECT_FALSE(logHas("prêt"));
    EXPECT_FALSE(runtime.modelInstalled());

    // A model missing from the server is pulled once, its progress logged by tenths.
    log.clear();
    server.clearRequests();
    server.setModels({"llama3:8b"});
    server.setPullReply(FakeReply::stream(FakeLlmServer::pullSuccessLines(4'000'000, 20)));
    ASSERT_TRUE(ensureRunning());
    EXPECT_TRUE(logHas("Modèle qwen2.5:7b absent : téléchargement automatique (une seule fois)…"));
    QStringList progress;
    for (const QString &line : log.lines())
        if (line.contains(" %") && line.contains("Modèle qwen2.5:7b : ")) progress << line.section("] ", 1);
    // 20 steps of 5 %: one line per tenth reached, never two in a row for the same tenth.
    for (const char *tenth : {"Modèle qwen2.5:7b : 0 %", "Modèle qwen2.5:7b : 50 %", "Modèle qwen2.5:7b : 100 %"})
        EXPECT_TRUE(progress.contains(tenth)) << tenth;
    EXPECT_FALSE(progress.contains("Modèle qwen2.5:7b : 15 %"));
    for (qsizetype i = 1; i < progress.size(); ++i) EXPECT_NE(progress[i], progress[i - 1]);
    EXPECT_TRUE(log.lines().last().endsWith("Modèle qwen2.5:7b prêt."));
    EXPECT_EQ(runtime.modelInstalled(), true);
    const FakeRequest pull = server.requests(FakeLlmServer::pullPath).first();
    EXPECT_EQ(pull.json(), Json({{"name", "qwen2.5:7b"}, {"stream", true}}));

    // A bare configured name matches its tagged form: nothing more to pull.
    server.setModels({"qwen2.5:latest"});
    settings.ollamaModel = "qwen2.5";
    ASSERT_TRUE(ensureRunning());
    EXPECT_EQ(server.count(FakeLlmServer::pullPath), 1);
}

TEST_F(OllamaServer, WithNothingToStartTheWaitProbesAndGivesUp) {
    server.setTagsReply(FakeReply::error(500, "down")); // answers, but not as a ready server
    EXPECT_FALSE(runtime.findInstalled());
    EXPECT_FALSE(ensureRunning());
    EXPECT_TRUE(logHas("Ollama injoignable, démarrage automatique…"));
    EXPECT_TRUE(logHas("Ollama.app introuvable. Installe Ollama (https://ollama.com) pour activer la correction "
                       "locale."));
    EXPECT_EQ(server.count(FakeLlmServer::tagsPath), 1 + 3); // the first look, then each probe
    EXPECT_FALSE(logHas("Ollama démarré."));
}

TEST_F(OllamaServer, TheUsersLaunchStartsTheServerThenLooksOnceAndAWaitStartsItOnItsOwn) {
    writeFile(ollama::localServer(), "not a program");
    EXPECT_FALSE(runtime.findInstalled()); // only an executable counts
    writeStandInOllama(ollama::localServer(), calls);
    runtime.launch();
    ASSERT_TRUE(spinUntil([&] { return runtime.running(); }));
    ASSERT_TRUE(spinUntil([&] { return !linesOf(calls).isEmpty(); }));
    spin(200);
    EXPECT_EQ(server.count(FakeLlmServer::tagsPath), 1);
    EXPECT_EQ(linesOf(calls), QStringList{"serve own-session"});

    // Down: waiting for it starts the program, then waits for the server.
    QFile::remove(calls);
    server.setModels({"qwen2.5:7b"});
    runtime.setTimings({200, 20ms, 50ms});
    server.stop();
    resumer.start();
    EXPECT_TRUE(runtime.findInstalled());
    ASSERT_TRUE(ensureRunning());
    EXPECT_TRUE(logHas("Ollama démarré."));
    ASSERT_TRUE(spinUntil([&] { return !linesOf(calls).isEmpty(); }));
    EXPECT_EQ(linesOf(calls), QStringList{"serve own-session"});
}

TEST_F(OllamaServer, TheMonitorPublishesChangesOnly) {
    server.setModels({"qwen2.5:7b"});
    QSignalSpy changes(&runtime, &::OllamaRuntime::changed);
    runtime.startMonitor();
    ASSERT_TRUE(spinUntil([&] { return runtime.modelInstalled().has_value(); }));
    EXPECT_TRUE(runtime.running());
    EXPECT_FALSE(runtime.installed());
    EXPECT_EQ(changes.size(), 2);
    ASSERT_TRUE(spinUntil([&] { return server.count(FakeLlmServer::tagsPath) >= 8; })); // several more looks
    EXPECT_EQ(changes.size(), 2);

    server.stop();
    ASSERT_TRUE(spinUntil([&] { return !runtime.running(); }));
    EXPECT_EQ(runtime.modelInstalled(), true); // unknown while down: kept
    writeStandInOllama(ollama::localServer(), calls);
    ASSERT_TRUE(spinUntil([&] { return runtime.installed(); }));
    EXPECT_EQ(changes.size(), 4);
    runtime.stopMonitor();
}

// ---------------------------------------------------------------- the one-action install

class OllamaInstall : public OllamaServer {
protected:
    FakeLlmServer archives;
    const QString archivePath = QStringLiteral("/ollama-linux-amd64.tgz");
    ScopedEnv downloadUrl{"PARLIVO_OLLAMA_DOWNLOAD_URL", archives.endpoint() + archivePath};

    void SetUp() override {
        OllamaServer::SetUp();
        ASSERT_NE(archives.port(), 0);
        runtime.setTimings({200, 20ms, 50ms});
        server.setModels({"qwen2.5:7b"});
        server.stop(); // nothing runs before the install
        serveArchive();
    }

    // An archive laid out like the vendor's: bin/ollama and its libraries.
    void serveArchive() {
        const QString staging = home.file("staging");
        writeStandInOllama(staging + "/bin/ollama", calls);
        writeFile(staging + "/lib/ollama/libggml-base.so", "lib");
        QProcess tar;
        tar.start("tar", {"-czf", home.file("archive.tgz"), "-C", staging, "bin", "lib"});
        ASSERT_TRUE(tar.waitForFinished());
        ASSERT_EQ(tar.exitCode(), 0);
        archives.serve(archivePath, FakeReply::raw(200, *readWholeFile(home.file("archive.tgz"))));
    }
    bool install() {
        installer.install();
        return runTask(installer.waitForEnd(), 30000);
    }
};

TEST_F(OllamaInstall, DownloadsUnpacksStartsAndPullsWithMilestones) {
    resumer.start();
    std::vector<double> milestones;
    QObject::connect(&installer, &OllamaInstaller::changed, [&] {
        if (milestones.empty() || milestones.back() != installer.progress())
            milestones.push_back(installer.progress());
    });
    installer.install(); // asking twice runs one sequence
    ASSERT_TRUE(install());

    EXPECT_EQ(installer.status(), "Prêt à corriger.");
    EXPECT_DOUBLE_EQ(installer.progress(), 1.0);
    EXPECT_FALSE(installer.installing());
    EXPECT_TRUE(runtime.installed());
    EXPECT_EQ(logCount("Ollama installé et modèle qwen2.5:7b prêt."), 1);
    EXPECT_EQ(archives.count(archivePath), 1);
    EXPECT_TRUE(QFileInfo(home.file(".local/bin/ollama")).isExecutable());
    EXPECT_TRUE(QFileInfo::exists(home.file(".local/lib/ollama/libggml-base.so")));
    ASSERT_TRUE(spinUntil([&] { return !linesOf(calls).isEmpty(); }));
    EXPECT_EQ(linesOf(calls), QStringList{"serve own-session"});
    EXPECT_TRUE(home.scratchFiles().filter("ollama-linux-amd64.tgz").isEmpty()); // the archive has served

    ASSERT_GE(milestones.size(), 5u);
    EXPECT_EQ(std::vector<double>(milestones.begin(), milestones.begin() + 4),
              (std::vector<double>{0.05, 0.6, 0.68, 0.72}));
    EXPECT_TRUE(std::is_sorted(milestones.begin(), milestones.end()));
    EXPECT_EQ(server.count(FakeLlmServer::pullPath), 1);
}

TEST_F(OllamaInstall, AnErrorPageIsNeverUnpackedAndARejectedArchiveEndsWithTheUnpackingStatus) {
    archives.unserve(archivePath);
    ASSERT_TRUE(install());
    EXPECT_TRUE(logHas("Installation Ollama échouée : Téléchargement impossible : Réponse HTTP 404"));
    EXPECT_DOUBLE_EQ(installer.progress(), 0.05);
    EXPECT_EQ(installer.error(), "Téléchargement impossible : Réponse HTTP 404");
    // The command line says so too, and fails.
    const CliResult cli = runCli({"install-ollama"});
    EXPECT_EQ(cli.code, 1);
    EXPECT_TRUE(cli.err.contains("Installation Ollama échouée : Téléchargement impossible : Réponse HTTP 404"))
        << cli.err.toStdString();
    EXPECT_EQ(cli.out, "Téléchargement du moteur (~190 Mo, ça peut prendre 1 à 2 min)…\n");
    EXPECT_FALSE(QFileInfo::exists(home.file(".local/bin/ollama")));

    archives.serve(archivePath, FakeReply::raw(200, "<html>not an archive</html>"));
    ASSERT_TRUE(install());
    EXPECT_TRUE(logHas("Installation Ollama échouée : Installation impossible : Décompression impossible (code "));
    EXPECT_FALSE(installer.installing());
    EXPECT_FALSE(runtime.installed());
    EXPECT_EQ(installer.status(), "Installation…");
    ASSERT_TRUE(installer.error());
    EXPECT_TRUE(installer.error()->startsWith("Installation impossible : Décompression impossible (code "));
}

TEST_F(OllamaInstall, AServerThatDoesNotAnswerLeavesTheManualStepAndPullsNothing) {
    runtime.setTimings({3, 10ms, 50ms});
    server.resume();
    server.setTagsReply(FakeReply::error(503, "starting")); // up, but never ready
    ASSERT_TRUE(install());
    EXPECT_EQ(installer.status(),
              "Ollama installé. Ouvre-le une fois manuellement (alerte de sécurité macOS), puis reviens.");
    EXPECT_DOUBLE_EQ(installer.progress(), 0.68);
    EXPECT_EQ(server.count(FakeLlmServer::pullPath), 0);
    EXPECT_TRUE(runtime.installed());
    EXPECT_FALSE(installer.installing());
    EXPECT_FALSE(logHas("Installation Ollama échouée"));
}

// ---------------------------------------------------------------- whisper models

QByteArray modelBytes(int size) {
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i) bytes[i] = char('a' + i % 26);
    return bytes;
}

const QByteArray model = modelBytes(4 * 1024 * 1024);

// The stand-in as a download host: /models/ggml-test.bin and ggml-base.bin,
// a redirect to the first, and 404 elsewhere.
struct ModelHost : FakeLlmServer {
    ModelHost() {
        for (const char *name : {"ggml-test.bin", "ggml-base.bin"})
            serve(QStringLiteral("/models/") + name, FakeReply::raw(200, model));
        serve("/moved/ggml-test.bin", FakeReply::redirect(endpoint() + "/models/ggml-test.bin"));
    }
    QUrl url(const QString &path) const { return QUrl(endpoint() + "/" + path); }
};

// Announces a large body and sends two pieces of it, the second late enough
// for a progress report; then hangs up or keeps waiting.
QUrl partialDownload(FakeLlmServer &server, bool hangUp) {
    server.serve("/partiel.bin", FakeReply::partial(1000000, modelBytes(50000), hangUp));
    return QUrl(server.endpoint() + "/partiel.bin");
}

// Every completion of one start, as it arrived.
struct Completions {
    int calls = 0;
    std::optional<QString> error;
};

std::shared_ptr<Completions> start(Downloader &downloader, const QUrl &url, const QString &destination) {
    auto outcome = std::make_shared<Completions>();
    downloader.start(url, destination, [outcome](std::optional<QString> e) {
        ++outcome->calls;
        outcome->error = std::move(e);
    });
    return outcome;
}

bool finished(const std::shared_ptr<Completions> &outcome) { return spinUntil([&] { return outcome->calls > 0; }); }

QStringList folderContents(const QString &path) {
    return QDir(path).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

QByteArray contents(const QString &path) { return readWholeFile(path).value_or(QByteArray()); }

TEST(ModelCatalog, ListsModelFilesInAnyCaseSortedByName) {
    QTemporaryDir dir;
    const QString hestia = dir.filePath(".hestia");
    writeFile(hestia + "/ggml-small.BIN", "12345");
    writeFile(hestia + "/ggml-base.bin", "123");
    writeFile(hestia + "/notes.txt", "x");
    writeFile(hestia + "/nested/ggml-medium.bin", "x");
    const QString elsewhere = writeFile(dir.filePath("elsewhere/custom.bin"), "1234567");

    const QList<ModelInfo> models = listModels(hestia, elsewhere);
    ASSERT_EQ(models.size(), 3);
    EXPECT_EQ(models[0].path, elsewhere);
    EXPECT_EQ(models[0].sizeBytes, 7);
    EXPECT_EQ(models[1].name, "ggml-base.bin");
    EXPECT_EQ(models[2].name, "ggml-small.BIN");
    // The chosen model is listed once even when named in another way; one that is gone is not listed.
    EXPECT_EQ(listModels(hestia, hestia + "/../.hestia/ggml-base.bin").size(), 2);
    EXPECT_EQ(listModels(hestia, dir.filePath("gone.bin")).size(), 2);
    EXPECT_TRUE(listModels(dir.filePath("absent"), QString()).isEmpty());

    qunsetenv("PARLIVO_MODEL_BASE_URL");
    EXPECT_EQ(modelDownloadUrl("ggml-base.bin").toString(),
              "https://huggingface.co/ggerganov/whisper.cpp/resolve/main/ggml-base.bin");
    ScopedEnv base{"PARLIVO_MODEL_BASE_URL", "http://127.0.0.1:9/models/"};
    EXPECT_EQ(modelDownloadUrl("ggml-base.bin").toString(), "http://127.0.0.1:9/models/ggml-base.bin");
}

TEST(Downloader, DownloadsIntoPlaceWithProgressAndANewStartReplacesTheRunningTransfer) {
    ModelHost server;
    QTemporaryDir dir;
    const QString destination = writeFile(dir.filePath("models/deep/ggml-test.bin"), "an older copy");
    Downloader downloader;
    QList<double> progress;
    QObject::connect(&downloader, &Downloader::progressChanged, [&](double p) { progress.append(p); });
    // The address redirects, as the real model host does.
    const auto outcome = start(downloader, server.url("moved/ggml-test.bin"), destination);
    EXPECT_TRUE(downloader.isDownloading());
    EXPECT_EQ(downloader.statusText(), "Téléchargement de ggml-test.bin…");
    EXPECT_EQ(outcome->calls, 0) << "the completion must not run inside start()";

    ASSERT_TRUE(finished(outcome));
    EXPECT_EQ(outcome->calls, 1);
    EXPECT_FALSE(outcome->error) << outcome->error->toStdString();
    EXPECT_FALSE(downloader.isDownloading());
    EXPECT_EQ(downloader.progress(), 1.0);
    EXPECT_EQ(downloader.statusText(), "Téléchargé : ggml-test.bin");
    EXPECT_EQ(contents(destination), model);
    EXPECT_EQ(folderContents(dir.filePath("models/deep")), QStringList{"ggml-test.bin"});
    ASSERT_FALSE(progress.isEmpty());
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));

    // A new start replaces the running transfer.
    FakeLlmServer stalled;
    const auto first = start(downloader, partialDownload(stalled, false), dir.filePath("first/ggml-large-v3.bin"));
    ASSERT_TRUE(spinUntil([&] { return downloader.progress() > 0; }));

    const auto second = start(downloader, server.url("models/ggml-base.bin"), dir.filePath("second/ggml-base.bin"));
    EXPECT_EQ(downloader.statusText(), "Téléchargement de ggml-base.bin…");
    ASSERT_TRUE(finished(second));
    spin(100);
    EXPECT_EQ(first->calls, 1);
    EXPECT_TRUE(first->error);
    EXPECT_EQ(second->calls, 1);
    EXPECT_FALSE(second->error);
    EXPECT_EQ(downloader.statusText(), "Téléchargé : ggml-base.bin");
    EXPECT_TRUE(folderContents(dir.filePath("first")).isEmpty()) << "the abandoned transfer left a file";
    EXPECT_EQ(contents(dir.filePath("second/ggml-base.bin")), model);
}

TEST(Downloader, ErrorStatusRefusedConnectionUnwritableDestinationAndACutTransferLeaveNoFile) {
    ModelHost server;
    QTemporaryDir dir;
    const QString destination = writeFile(dir.filePath("ggml-base.bin"), "the model in use");
    Downloader downloader;
    auto outcome = start(downloader, server.url("nothing/ggml-base.bin"), destination);
    ASSERT_TRUE(finished(outcome));
    EXPECT_EQ(outcome->error, "Réponse HTTP 404");
    EXPECT_EQ(downloader.statusText(), "Échec : Réponse HTTP 404");
    EXPECT_FALSE(downloader.isDownloading());
    EXPECT_EQ(contents(destination), "the model in use");
    EXPECT_EQ(folderContents(dir.path()), QStringList{"ggml-base.bin"});

    // Nothing listening: a French reason, no file.
    outcome = start(downloader, QUrl("http://127.0.0.1:1/ggml-small.bin"), dir.filePath("other/ggml-small.bin"));
    ASSERT_TRUE(finished(outcome));
    EXPECT_TRUE(outcome->error);
    EXPECT_EQ(downloader.statusText(), "Échec : connexion refusée par le serveur");
    EXPECT_FALSE(QFile::exists(dir.filePath("other/ggml-small.bin")));

    outcome = start(downloader, server.url("models/ggml-base.bin"), destination + "/ggml-base.bin");
    ASSERT_TRUE(finished(outcome));
    EXPECT_TRUE(outcome->error);
    EXPECT_EQ(downloader.statusText(), "Échec de l'enregistrement");

    // A transfer cut midway leaves no partial file.
    FakeLlmServer cut;
    outcome = start(downloader, partialDownload(cut, true), dir.filePath("cut/ggml-base.bin"));
    ASSERT_TRUE(finished(outcome));
    EXPECT_TRUE(outcome->error);
    EXPECT_TRUE(downloader.statusText().startsWith("Échec : ")) << downloader.statusText().toStdString();
    EXPECT_GT(downloader.progress(), 0.0);
    EXPECT_LT(downloader.progress(), 1.0);
    EXPECT_TRUE(folderContents(dir.filePath("cut")).isEmpty()) << folderContents(dir.filePath("cut")).join(' ').toStdString();
}

} // namespace
