// The local Ollama server on its own objects: finding and starting it,
// waiting for it, pulling the model on the streamed /api/pull, watching it,
// and the one-action install. The server is the in-process stand-in; the
// `ollama` program is a script that only records how it was started.
#include <QHttpServer>
#include <QHttpServerResponse>
#include <QProcess>
#include <QSignalSpy>
#include <QTimer>

#include "provisioning/ollama_pull.h"
#include "support/correction_test_support.h"
#include "provisioning/ollama_installer.h"
#include "provisioning/ollama_runtime.h"

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
    QHttpServer archives;
    QByteArray archiveBody;
    int archiveStatus = 200;
    int archiveRequests = 0;
    std::optional<ScopedEnv> downloadUrl;

    void SetUp() override {
        OllamaServer::SetUp();
        archives.route("/ollama-linux-amd64.tgz", [this] {
            ++archiveRequests;
            return QHttpServerResponse("application/octet-stream", archiveBody,
                                       QHttpServerResponse::StatusCode(archiveStatus));
        });
        const quint16 port = archives.listen(QHostAddress::LocalHost, 0);
        ASSERT_NE(port, 0);
        downloadUrl.emplace("PARLIVO_OLLAMA_DOWNLOAD_URL",
                            QStringLiteral("http://127.0.0.1:%1/ollama-linux-amd64.tgz").arg(port));
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
        archiveBody = *readWholeFile(home.file("archive.tgz"));
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
    EXPECT_EQ(archiveRequests, 1);
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
    archiveStatus = 404;
    ASSERT_TRUE(install());
    EXPECT_TRUE(logHas("Installation Ollama échouée : Téléchargement impossible : Réponse HTTP 404"));
    EXPECT_FALSE(QFileInfo::exists(home.file(".local/bin/ollama")));
    EXPECT_DOUBLE_EQ(installer.progress(), 0.05);
    EXPECT_EQ(installer.error(), "Téléchargement impossible : Réponse HTTP 404");

    archiveStatus = 200;
    archiveBody = "<html>not an archive</html>";
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

} // namespace
