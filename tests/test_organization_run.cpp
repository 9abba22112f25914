// Organization runs through the engine against the stand-in model server:
// transcripts in, a themed archive with its index out.
#include <QDirIterator>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSignalSpy>

#include "engine/transcriber.h"
#include "pipeline/transcript_files.h"
#include "provisioning/ollama_local.h"
#include "support/organize_test_support.h"

using namespace testing_support;

namespace {

class Organization : public ::testing::Test {
protected:
    TempHome home;
    FakeLlmServer server;
    QString src = home.file("memos");
    QString archive = src + "/Archive organisée";
    std::unique_ptr<Transcriber> engine;

    void SetUp() override {
        server.setModels({"qwen2.5:7b"});
        server.respondWith(modelLike);
        launch();
        memo("client.m4a", "Il faut rappeler le client pour le devis de la cuisine avant vendredi.");
        memo("famille.m4a", "Dimanche repas de famille chez les parents, penser au gâteau.");
        memo("meteo.m4a", "Il pleut encore, rien de spécial à noter sur cette journée grise.");
        engine->setSourceFolder(QUrl::fromLocalFile(src));
    }

    void launch(const Tools &tools = {}) {
        engine.reset(); // its last writes land before the next engine reads
        engine = std::make_unique<Transcriber>(tools);
        engine->setOllamaTimings({2, std::chrono::milliseconds(10), std::chrono::milliseconds(50)});
        ParlivoSettings s = engine->settings();
        s.ollamaEndpoint = server.endpoint();
        s.outputFormat = OutputFormat::md;
        s.correctionEnabled = false;
        engine->setSettings(s);
    }

    // A recording and its Markdown transcript, as a batch leaves them.
    void memo(const QString &audioName, const QString &text) {
        const QString audio = writeFile(src + "/" + audioName, "audio of " + audioName.toUtf8());
        const auto paths = transcriptPaths(audio, src);
        ASSERT_FALSE(writeOutputs({{0, 3, text}}, std::nullopt, audio, 3.0, paths.txt, paths.md, engine->settings()));
    }

    bool organize(int timeoutMs = 30000) {
        engine->startOrganization();
        return runTask(engine->waitForOrganization(), timeoutMs);
    }

    QStringList memoFolders() const {
        QStringList found;
        QDirIterator it(archive, {"structure.md"}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) found << QFileInfo(it.next()).absolutePath().mid(archive.size() + 1);
        found.sort();
        return found;
    }
    int chatCalls() const { return server.count(FakeLlmServer::chatPath); }
};

TEST_F(Organization, TranscriptsBecomeAThemedArchiveWithAnIndex) {
    QList<QUrl> opened;
    engine->setUrlOpener([&](const QUrl &url) { opened << url; });
    engine->revealOrganizedArchive(); // not there yet: nothing to show
    EXPECT_TRUE(opened.isEmpty());
    QSignalSpy notified(engine.get(), &Transcriber::notificationPosted);
    ASSERT_TRUE(organize());
    engine->revealOrganizedArchive();
    EXPECT_EQ(opened, QList<QUrl>{QUrl::fromLocalFile(archive)});
    ASSERT_EQ(notified.size(), 1);
    EXPECT_EQ(notified[0][0].toString(), "Organisation terminée");
    EXPECT_EQ(notified[0][1].toString(), "3 vocaux rangés par thème. Ouvre l'archive dans Parlivo.");
    const QStringList folders = memoFolders();
    ASSERT_EQ(folders.size(), 3) << folders.join(" ; ").toStdString();
    EXPECT_TRUE(folders[0].startsWith("Transcription non catégorisée/")) << folders[0].toStdString();
    EXPECT_TRUE(folders[1].startsWith("Vie perso/Famille/") && folders[1].endsWith(" - Dimanche en famille"));
    EXPECT_TRUE(folders[2].startsWith("Vie pro/Clients/") && folders[2].endsWith(" - Relance du client"));
    const QString pro = archive + "/" + folders[2];
    EXPECT_TRUE(QFileInfo::exists(pro + "/transcription.md"));
    EXPECT_EQ(readText(pro + "/client.m4a"), "audio of client.m4a"); // copied
    EXPECT_FALSE(QFileInfo(pro + "/client.m4a").isSymLink());

    const QString index = readText(archive + "/INDEX.md");
    EXPECT_TRUE(index.contains("\n## Vie pro\n\n### Clients\n- [Relance du client](Vie%20pro/Clients/"))
        << index.toStdString();
    // Every link opens a structure file of the archive.
    int links = 0;
    auto it = QRegularExpression(R"(\]\(([^)]+)\))").globalMatch(index);
    while (it.hasNext()) {
        const QString target = QUrl::fromPercentEncoding(it.next().captured(1).toUtf8());
        EXPECT_TRUE(QFileInfo::exists(archive + "/" + target)) << target.toStdString();
        EXPECT_TRUE(target.endsWith("/structure.md"));
        ++links;
    }
    EXPECT_EQ(links, 3);
    EXPECT_EQ(engine->orgOrganizedCount(), 3);
    EXPECT_EQ(engine->orgPhase(), "Terminé");
    EXPECT_EQ(engine->pendingOrganizationCount(), 0);
    EXPECT_FALSE(engine->logLines().filter("Organisation terminée : 3 vocal(aux) rangé(s) dans " + archive + ".").isEmpty());
    EXPECT_TRUE(QFileInfo::exists(home.supportDir() + "/organize.json"));

    // A second run asks the model nothing and places every memo where it was.
    const int calls = chatCalls();
    launch(); // the ledger comes back from organize.json
    ASSERT_TRUE(organize());
    EXPECT_EQ(chatCalls(), calls);
    EXPECT_EQ(memoFolders(), folders);

    // A deleted memo folder makes that memo pending, and the next run puts it
    // back, with its audio linked now that copying is off.
    QDir(pro).removeRecursively();
    EXPECT_EQ(engine->pendingOrganizationCount(), 1);
    ParlivoSettings s = engine->settings();
    s.organizeCopyAudio = false;
    engine->setSettings(s);
    ASSERT_TRUE(organize());
    EXPECT_EQ(memoFolders(), folders);
    EXPECT_TRUE(QFileInfo(pro + "/client.m4a").isSymLink());
    EXPECT_EQ(QFileInfo(pro + "/client.m4a").symLinkTarget(), src + "/client.m4a");

    // An index that cannot be written is said once, not taken for written.
    QFile::remove(archive + "/INDEX.md");
    QDir().mkpath(archive + "/INDEX.md/occupé");
    ASSERT_TRUE(organize());
    const QStringList said = engine->logLines().filter("Impossible d'écrire l'index de l'archive : ");
    ASSERT_EQ(said.size(), 1) << engine->logLines().join('\n').toStdString();
    EXPECT_TRUE(said.first().endsWith("Impossible d'écrire l'index de l'archive : « " + archive +
                                      "/INDEX.md » : un dossier porte ce nom"))
        << said.first().toStdString();
}

TEST_F(Organization, BrokenRepliesFallBackAndAFailingServerLeavesMemosPending) {
    int structureCalls = 0;
    server.respondWith([&](const FakeRequest &request) {
        if (request.systemMessage() == structurePrompt()) {
            if (++structureCalls == 1) return FakeReply::answer("Pas de front matter, juste un texte.");
            if (structureCalls == 2) return FakeReply::error(500, "panne");
            return modelLike(request);
        }
        return FakeReply::answer("{\"attributions\": [ this is not json");
    });
    ASSERT_TRUE(organize());
    // The memo whose structuring failed stays pending; the others are placed once.
    EXPECT_EQ(memoFolders().size(), 2);
    EXPECT_EQ(engine->pendingOrganizationCount(), 1);
    EXPECT_FALSE(engine->logLines().filter("Structuration échouée : ").isEmpty());

    server.respondWith(modelLike);
    ASSERT_TRUE(organize());
    EXPECT_EQ(memoFolders().size(), 3);
    EXPECT_EQ(engine->pendingOrganizationCount(), 0);
}

TEST_F(Organization, CancellingMidRunSavesTheLedgerAndRewritesTheIndex) {
    ASSERT_TRUE(organize()); // everything placed once
    memo("client2.m4a", "Nouveau client à rappeler pour un second devis la semaine prochaine.");
    memo("famille2.m4a", "Anniversaire de la famille, réserver le restaurant pour samedi soir.");
    QFile::remove(archive + "/INDEX.md");
    server.setDelay(400);
    engine->startOrganization();
    engine->startOrganization(); // a second start while active does nothing
    ASSERT_TRUE(spinUntil([&] { return engine->orgPhase() == "Structuration par l'IA" && chatCalls() >= 1; }));
    engine->cancelOrganization();
    ASSERT_TRUE(runTask(engine->waitForOrganization(), 20000));
    EXPECT_FALSE(engine->orgActive());
    EXPECT_FALSE(engine->orgCurrent());
    EXPECT_TRUE(QFileInfo::exists(archive + "/INDEX.md"));
    EXPECT_TRUE(engine->logLines().filter("Organisation terminée").size() == 1); // only the first run's
    EXPECT_GE(engine->pendingOrganizationCount(), 1);
}

TEST_F(Organization, WithoutTheServerNothingIsTouchedAndHostileTitlesAndThemesStayInsideTheArchive) {
    server.stop();
    ASSERT_TRUE(organize());
    EXPECT_FALSE(engine->logLines().filter("Organisation : Ollama indisponible.").isEmpty());
    EXPECT_FALSE(QFileInfo::exists(archive));

    ASSERT_TRUE(server.resume());
    server.respondWith([](const FakeRequest &request) {
        if (request.systemMessage() == structurePrompt())
            return FakeReply::answer("---\ntitre: ../../../../evil\x01name/..\ntype: idee\ncategorie: pro\n"
                                     "themes: ../../escape\nconfiance: 1\nresume: x\n---\n\ncorps\n");
        return FakeReply::answer(R"({"attributions":[{"id":1,"categorie":"pro","theme":"../../.."},)"
                                 R"({"id":2,"categorie":"pro","theme":"/etc"},{"id":3,"categorie":"pro","theme":".."}]})");
    });
    ASSERT_TRUE(organize());
    QDirIterator it(home.path(), {"structure.md"}, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) EXPECT_TRUE(it.next().startsWith(archive + "/")) << it.filePath().toStdString();
    EXPECT_EQ(memoFolders().size(), 3);
    EXPECT_FALSE(QFileInfo::exists(home.path() + "/evil"));
}

TEST_F(Organization, AFinishedBatchWithNothingToCorrectGoesOnToOrganization) {
    ScopedEnv segments{{"FAKE_WHISPER_SEGMENTS", R"([" Rappeler le client pour le devis de la toiture."])"}};
    Tools tools;
    tools.whisper = buildPath("fake-whisper-cli");
    tools.ffmpeg = "/usr/bin/ffmpeg";
    launch(tools);
    ParlivoSettings s = engine->settings();
    s.modelPath = writeFile(home.file(".hestia/ggml-base.bin"), "model");
    engine->setSettings(s);
    makeAudio(src + "/nouveau.m4a", 1.2);
    engine->rescan();
    engine->start();
    ASSERT_TRUE(runTask(engine->waitForRun(), 30000));
    EXPECT_TRUE(engine->orgActive()); // chained at the end of the batch
    ASSERT_TRUE(runTask(engine->waitForOrganization(), 30000));
    EXPECT_EQ(memoFolders().size(), 4);
    EXPECT_EQ(engine->pendingOrganizationCount(), 0);
}

TEST_F(Organization, CommandLineOrganizesAndReports) {
    engine->saveNow(); // the source folder and the server's address, for the child
    const CliResult cli = runCli({"organize"});
    EXPECT_EQ(cli.code, 0) << cli.err.toStdString();
    EXPECT_EQ(cli.out, "3 vocal(aux) rangé(s) dans " + archive + "\n");
    EXPECT_TRUE(cli.err.contains("Organisation de 3 transcription(s) : structuration, tri, rangement."));
    EXPECT_EQ(memoFolders().size(), 3);
}

} // namespace
