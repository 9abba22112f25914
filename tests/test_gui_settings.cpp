// The settings window over a real engine: each control edits the record at
// once; the recognition servers written into the settings and read back, the
// test of a server (an in-process stand-in of whisper-server) and the machine
// shown beside the running file. Then the AI stages: the banners come and go
// with the engine's state, driven for real against the stand-in
// language-model server, and their buttons (and the settings window's own)
// call the engine.
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTreeWidget>

#include "app/gui/ai_stage_texts.h"
#include "app/gui/correction_banner.h"
#include "app/gui/elided_label.h"
#include "app/gui/main_window.h"
#include "app/gui/ollama_banner.h"
#include "app/gui/organization_banner.h"
#include "app/gui/progress_panel.h"
#include "app/gui/settings_ai_runs.h"
#include "app/gui/settings_pages.h"
#include "app/gui/settings_servers_box.h"
#include "app/gui/settings_support.h"
#include "app/gui/settings_window.h"
#include "app/gui/source_bar.h"
#include "app/gui/status_text.h"
#include "support/correction_test_support.h"
#include "support/organize_test_support.h"
#include "support/window_fixture.h"

using namespace testing_support;
using namespace std::chrono_literals;

namespace {

class Settings : public Window {
protected:
    SettingsWindow *settingsWindow() const { return window->settingsWindow(); }
};

TEST_F(Settings, EachControlWritesTheRecordAtOnceAndChangesMadeElsewhereShow) {
    TranscriptionPage *t = settingsWindow()->transcriptionPage();
    t->language()->setCurrentIndex(t->language()->findData("fr"));
    emit t->language()->activated(t->language()->currentIndex());
    t->parallelism()->setValue(t->parallelism()->maximum());
    t->timestamps()->setChecked(true);
    t->autoResume()->setChecked(false);
    EXPECT_EQ(engine->settings().language, "fr");
    EXPECT_EQ(engine->settings().parallelism, engine->maxParallelism());
    EXPECT_TRUE(engine->settings().timestamps);
    EXPECT_FALSE(engine->settings().autoResume);
    EXPECT_EQ(t->parallelism()->minimum(), 1);

    DestinationPage *d = settingsWindow()->destinationPage();
    d->format()->setCurrentIndex(d->format()->findData("both"));
    emit d->format()->activated(d->format()->currentIndex());
    EXPECT_EQ(engine->settings().outputFormat, OutputFormat::both);
    EXPECT_EQ(d->subtitles()->currentText(), "Aucun");
    d->subtitles()->setCurrentIndex(d->subtitles()->findData("vtt"));
    emit d->subtitles()->activated(d->subtitles()->currentIndex());
    EXPECT_EQ(engine->settings().subtitleFormat, SubtitleFormat::vtt);
    EXPECT_FALSE(d->folder()->isEnabled());
    d->mode()->button(int(DestinationMode::custom))->click();
    EXPECT_EQ(engine->settings().destinationMode, DestinationMode::custom);
    EXPECT_TRUE(d->folder()->isEnabled());
    QLineEdit *folder = d->folder()->edit();
    type(folder, home.file("sortie"));
    EXPECT_EQ(engine->settings().customDestination, home.file("sortie"));
    EXPECT_EQ(window->findChild<ElidedLabel *>("outputLocation")->fullText(),
              "Les transcriptions sont dans : " + home.file("sortie"));
    // Emptied, the folder is no folder at all.
    folder->selectAll();
    QTest::keyClick(folder, Qt::Key_Backspace);
    EXPECT_EQ(engine->settings().customDestination, std::nullopt);

    // The edits are on disk after the engine's delayed save.
    ASSERT_TRUE(spinUntil([&] { return !engine->hasPendingSave(); }, 5000));
    const auto stored = readWholeFile(home.supportDir() + "/settings.json");
    ASSERT_TRUE(stored);
    EXPECT_TRUE(stored->contains("\"outputFormat\":\"both\""));
    EXPECT_TRUE(stored->contains("\"subtitleFormat\":\"vtt\""));
    EXPECT_TRUE(stored->contains("\"timestamps\":true"));

    // Changes made elsewhere show in the window.
    updateSettings([&](ParlivoSettings &s) {
        s.language = "en";
        s.parallelism = 0; // behaves as 1
        s.outputFormat = OutputFormat::md;
        s.subtitleFormat = SubtitleFormat::both;
        s.destinationMode = DestinationMode::custom;
        s.customDestination = home.file("ailleurs");
        s.correctionBackend = CorrectionBackend::none;
        s.ollamaEndpoint = "http://127.0.0.1:9";
        s.organizeRoot = home.file("rangement");
    });
    EXPECT_EQ(t->language()->currentData(), "en");
    EXPECT_EQ(t->parallelism()->value(), 1);
    EXPECT_EQ(engine->settings().parallelism, 0); // showing it does not rewrite it
    EXPECT_EQ(d->format()->currentData(), "md");
    EXPECT_EQ(d->subtitles()->currentText(), "Les deux");
    EXPECT_TRUE(d->mode()->button(int(DestinationMode::custom))->isChecked());
    EXPECT_EQ(d->folder()->edit()->text(), home.file("ailleurs"));
    EXPECT_EQ(settingsWindow()->correctionPage()->backend()->currentText(), "Aucune");
    EXPECT_EQ(settingsWindow()->correctionPage()->ollamaEndpoint()->text(), "http://127.0.0.1:9");
    EXPECT_EQ(settingsWindow()->organizationPage()->root()->edit()->text(), home.file("rangement"));

    // The correction and organization fields, and the prompt reset.
    CorrectionPage *c = settingsWindow()->correctionPage();
    c->enabled()->setChecked(true);
    c->backend()->setCurrentIndex(c->backend()->findData("anthropic"));
    emit c->backend()->activated(c->backend()->currentIndex());
    QTest::keyClicks(c->anthropicKey(), "sk-test");
    c->keepRaw()->setChecked(false);
    c->ollamaModel()->selectAll();
    QTest::keyClicks(c->ollamaModel(), "mistral:7b ");
    EXPECT_TRUE(engine->settings().correctionEnabled);
    EXPECT_EQ(engine->settings().correctionBackend, CorrectionBackend::anthropic);
    EXPECT_EQ(engine->settings().anthropicKey, "sk-test");
    EXPECT_FALSE(engine->settings().keepRawTranscript);
    EXPECT_EQ(engine->settings().ollamaModel, "mistral:7b"); // trimmed in the record
    EXPECT_EQ(c->ollamaModel()->text(), "mistral:7b ");     // the typing is left alone

    EXPECT_FALSE(c->resetPrompt()->isEnabled());
    c->prompt()->setPlainText("Corrige tout.");
    EXPECT_EQ(engine->settings().correctionPrompt, "Corrige tout.");
    ASSERT_TRUE(c->resetPrompt()->isEnabled());
    c->resetPrompt()->click();
    EXPECT_EQ(engine->settings().correctionPrompt, ParlivoSettings::defaultCorrectionPrompt);
    EXPECT_EQ(c->prompt()->toPlainText(), ParlivoSettings::defaultCorrectionPrompt);
    EXPECT_FALSE(c->resetPrompt()->isEnabled());

    OrganizationPage *o = settingsWindow()->organizationPage();
    bool labelled = false;
    for (QLabel *label : o->findChildren<QLabel *>())
        labelled = labelled || (label->text() == "Modèle Ollama pour l'organisation (vide = celui de la correction)" &&
                                label->buddy() == o->model());
    EXPECT_TRUE(labelled);
    QTest::keyClicks(o->model(), "llama3.1:8b");
    o->enabled()->setChecked(true);
    o->copyAudio()->setChecked(false);
    type(o->root()->edit(), home.file("archive"));
    EXPECT_EQ(engine->settings().organizeModel, "llama3.1:8b");
    EXPECT_TRUE(engine->settings().organizeEnabled);
    EXPECT_FALSE(engine->settings().organizeCopyAudio);
    EXPECT_EQ(engine->settings().organizeRoot, home.file("archive"));
}

TEST_F(Settings, TheWatchSettingWatchesTheSourceWhileTheWindowIsOpenAndTheSourceBarSaysSo) {
    QDir().mkpath(src);
    chooseSource();
    engine->setWatchSettleDelay(std::chrono::milliseconds(300));
    engine->startBackgroundWork(); // what the application does once the window is up
    QLabel *state = window->sourceBar()->watchState();
    EXPECT_FALSE(state->isVisible());
    EXPECT_FALSE(engine->isWatching());

    QCheckBox *box = settingsWindow()->transcriptionPage()->watchFolder();
    EXPECT_FALSE(box->isChecked());
    EXPECT_EQ(box->text(), "Surveiller le dossier source et transcrire les vocaux qui y arrivent");
    box->setChecked(true);
    EXPECT_TRUE(engine->settings().watchFolder);
    EXPECT_TRUE(engine->isWatching());
    EXPECT_TRUE(state->isVisible());
    EXPECT_EQ(state->text(), "Surveillance du dossier active");

    makeAudio(src + "/arrivé.m4a", 1.2);
    ASSERT_TRUE(spinUntil([&] { return engine->doneCount() == 1 && !engine->isRunning(); }, 30000));
    EXPECT_EQ(model().rowCount(), 1);
    EXPECT_EQ(cell(0, QueueModel::NameColumn), "arrivé.m4a");
    EXPECT_EQ(cell(0, QueueModel::StatusColumn), "Terminé");

    box->setChecked(false);
    EXPECT_FALSE(engine->isWatching());
    EXPECT_FALSE(state->isVisible());
    EXPECT_TRUE(logHas("Surveillance du dossier arrêtée : " + src));
}

TEST_F(Settings, ModelsPageListsChoosesAndDownloadsWithItsOwnDownloader) {
    const QString other = writeFile(home.file(".hestia/ggml-medium.bin"), "medium");
    engine->refreshModels();
    ModelsPage *m = settingsWindow()->modelsPage();
    ASSERT_EQ(m->localModels()->topLevelItemCount(), 2);
    EXPECT_EQ(m->localModels()->topLevelItem(0)->text(0), "ggml-base.bin (utilisé)");
    m->localModels()->setCurrentItem(m->localModels()->topLevelItem(1));
    m->useSelected()->click();
    EXPECT_EQ(engine->settings().modelPath, other);
    EXPECT_EQ(window->findChild<QLabel *>("modelName")->text(), "Modèle : ggml-medium.bin");

    // The catalogue, in its order, with what is already there marked.
    ASSERT_EQ(m->catalogue()->count(), 6);
    EXPECT_EQ(m->catalogue()->itemText(0), "Large v3 (qualité maximale, ~3.1 Go)");
    EXPECT_EQ(m->catalogue()->itemText(3), "Medium (~1.5 Go) — déjà téléchargé");

    // A download of the page's own, from a local repository; with no usable
    // model left, the downloaded one is taken.
    const QString repository = home.file("depot/");
    writeFile(repository + "ggml-small-q8_0.bin", QByteArray(300000, 's'));
    ScopedEnv base{{"PARLIVO_MODEL_BASE_URL", QUrl::fromLocalFile(repository).toString()}};
    QFile::remove(other);
    m->catalogue()->setCurrentIndex(m->catalogue()->findData("ggml-small-q8_0.bin"));
    m->download()->click();
    EXPECT_FALSE(engine->modelDownloadProgress()); // not the engine's automatic download
    ASSERT_TRUE(spinUntil([&] { return !m->downloader().isDownloading(); }, 10000));
    EXPECT_EQ(m->downloadStatus()->text(), "Téléchargé : ggml-small-q8_0.bin");
    EXPECT_EQ(m->downloadProgress()->value(), 1000);
    const QString downloaded = home.file(".hestia/ggml-small-q8_0.bin");
    EXPECT_EQ(QFileInfo(downloaded).size(), 300000);
    EXPECT_EQ(engine->settings().modelPath, downloaded);
    EXPECT_TRUE(m->download()->isEnabled());
}

const QByteArray verboseReply =
    R"({"task":"transcribe","segments":[{"id":0,"text":" Depuis le serveur.","start":0.0,"end":1.0}]})";

class SettingsServers : public Window {
protected:
    FakeLlmServer server;

    TranscriptionPage *page() const { return window->settingsWindow()->transcriptionPage(); }
    ServersBox *box() const { return page()->servers(); }
    ServerRow *row(int index) const { return box()->rows().at(index); }
    // Clicks "Tester" and waits for its result.
    QString tested(ServerRow *r) {
        r->test()->click();
        EXPECT_FALSE(r->test()->isEnabled());
        EXPECT_EQ(r->result()->text(), "Test en cours…");
        EXPECT_TRUE(spinUntil([&] { return r->test()->isEnabled(); }, 20000));
        return r->result()->text();
    }
};

TEST_F(SettingsServers, TheListIsWrittenIntoTheSettingsAndReadBack) {
    ASSERT_NE(server.port(), 0);
    QSpinBox *parallelism = page()->parallelism();
    EXPECT_TRUE(box()->rows().isEmpty());
    EXPECT_EQ(parallelism->minimum(), 1);
    EXPECT_EQ(box()->findChild<QLabel *>("serversPrivacy")->text(),
              "L'audio des vocaux qu'elles transcrivent est envoyé à ces machines.");

    box()->add()->click();
    ASSERT_EQ(box()->rows().size(), 1);
    EXPECT_TRUE(engine->settings().recognitionServers.isEmpty()); // nothing typed yet
    type(row(0)->address(), "192.168.1.20:8080");
    EXPECT_TRUE(engine->settings().recognitionServers.isEmpty());
    EXPECT_EQ(row(0)->result()->text(),
              "Adresse invalide : elle commence par http:// ou https://, par exemple http://192.168.1.20:8080.");
    type(row(0)->address(), " http://192.168.1.20:8080 ");
    type(row(0)->accessKey(), "jeton-42");
    EXPECT_TRUE(row(0)->result()->isHidden());
    EXPECT_EQ(engine->settings().recognitionServers,
              (QList<RecognitionServer>{{"http://192.168.1.20:8080", "jeton-42"}}));

    // With a server, none on this machine is allowed.
    EXPECT_EQ(parallelism->minimum(), 0);
    parallelism->setValue(0);
    EXPECT_EQ(parallelism->text(), "0 (aucun travail local)");
    EXPECT_EQ(engine->settings().parallelism, 0);
    EXPECT_EQ(engine->settings().localWorkers(), 0);

    box()->add()->click();
    type(row(1)->address(), "https://gpu.example.org");
    EXPECT_EQ(engine->settings().recognitionServers,
              (QList<RecognitionServer>{{"http://192.168.1.20:8080", "jeton-42"}, {"https://gpu.example.org", ""}}));
    ASSERT_TRUE(spinUntil([&] { return !engine->hasPendingSave(); }, 5000));
    const auto stored = readWholeFile(home.supportDir() + "/settings.json");
    ASSERT_TRUE(stored);
    EXPECT_TRUE(stored->contains(R"("recognitionServers":[{"address":"http://192.168.1.20:8080","accessKey":"jeton-42"},)"
                                 R"({"address":"https://gpu.example.org"}])"))
        << stored->toStdString();

    // Removing every server brings a local worker back.
    row(0)->remove()->click();
    EXPECT_EQ(engine->settings().recognitionServers, (QList<RecognitionServer>{{"https://gpu.example.org", ""}}));
    EXPECT_EQ(engine->settings().parallelism, 0);
    row(0)->remove()->click();
    EXPECT_TRUE(box()->rows().isEmpty());
    EXPECT_TRUE(engine->settings().recognitionServers.isEmpty());
    EXPECT_EQ(engine->settings().parallelism, 1);
    EXPECT_EQ(parallelism->minimum(), 1);
    EXPECT_EQ(parallelism->text(), "1");

    // Set elsewhere (the command line), the list shows in the window.
    updateSettings([&](ParlivoSettings &s) {
        s.recognitionServers = {{"http://10.0.0.2:8080", "k"}, {"http://10.0.0.3:9000", ""}};
        s.parallelism = 0;
    });
    ASSERT_EQ(box()->rows().size(), 2);
    EXPECT_EQ(row(0)->address()->text(), "http://10.0.0.2:8080");
    EXPECT_EQ(row(0)->accessKey()->text(), "k");
    EXPECT_EQ(row(1)->address()->text(), "http://10.0.0.3:9000");
    EXPECT_EQ(parallelism->value(), 0);
}

TEST_F(SettingsServers, TheWindowShowsTheMachineThatHasTheRunningFileAndTheTesterSaysWhetherItAnswers) {
    ASSERT_NE(server.port(), 0);
    server.respondWith([](const FakeRequest &) { return FakeReply::raw(200, verboseReply).delayed(1500); });
    updateSettings([&](ParlivoSettings &s) {
        s.recognitionServers = {{server.endpoint(), "clé-1"}};
        s.language = "fr";
        s.parallelism = 0;
    });
    ASSERT_EQ(box()->rows().size(), 1);
    makeMemos(1);
    chooseSource();
    engine->start();
    auto *state = window->findChild<StatusText *>("runState");
    const QString expected = QStringLiteral("En cours : memo 01.m4a (sur 127.0.0.1:%1)").arg(server.port());
    EXPECT_TRUE(spinUntil(
        [&] {
            window->progressPanel()->refreshNow();
            return state->text() == expected;
        },
        20000))
        << state->text().toStdString();
    ASSERT_TRUE(runTask(engine->waitForRun(), 30000));
    EXPECT_EQ(engine->doneCount(), 1);
    EXPECT_EQ(recogniserCalls(), 0);

    // "Tester" says whether the server answers, and why not.
    server.clearRequests();
    server.respondWith([](const FakeRequest &) { return FakeReply::raw(200, verboseReply); });
    EXPECT_EQ(tested(row(0)), "Joignable : le serveur a transcrit un court essai.");
    ASSERT_EQ(server.count(FakeLlmServer::inferencePath), 1);
    const FakeRequest &request = server.requests(FakeLlmServer::inferencePath).first();
    EXPECT_EQ(request.header("Authorization"), QByteArray("Bearer clé-1"));
    EXPECT_TRUE(request.body.contains("Content-Type: audio/wav\r\n\r\nRIFF"));
    EXPECT_TRUE(request.body.contains("name=\"language\"\r\n\r\nfr\r\n"));

    server.respondWith([](const FakeRequest &) { return FakeReply::raw(502, "Bad Gateway"); });
    EXPECT_EQ(tested(row(0)), "Échec : réponse HTTP 502.");
    server.respondWith([](const FakeRequest &) { return FakeReply::raw(200, "<html>pas un serveur</html>"); });
    EXPECT_EQ(tested(row(0)), "Échec : réponse illisible.");
    server.respondWith([](const FakeRequest &) { return FakeReply::raw(415, "unsupported"); });
    EXPECT_EQ(tested(row(0)), "Joignable, mais l'essai n'a pas abouti. Le serveur de reconnaissance refuse "
                              "l'audio (HTTP 415) : unsupported");
    server.stop();
    EXPECT_EQ(tested(row(0)), "Échec : injoignable (Connexion refusée).");
    // Testing is not running: no server was set aside, nothing was logged.
    EXPECT_FALSE(logHas("Serveur de reconnaissance"));
}

// ---- When a banner is relevant, and what it says ----

TEST(AiStageTexts, WhenEachBannerIsRelevantAndWhatItSays) {
    ParlivoSettings s;
    s.organizeEnabled = false;
    const LocalServerFacts missing{}, ready{true, true, true, false}, noModel{true, true, false, false};
    EXPECT_TRUE(localServerBannerRelevant(s, missing));
    EXPECT_FALSE(localServerBannerRelevant(s, ready));
    EXPECT_TRUE(localServerBannerRelevant(s, noModel));
    EXPECT_TRUE(localServerBannerRelevant(s, {true, true, true, true})); // installing
    // A server that answers with its model is enough, wherever it came from.
    EXPECT_FALSE(localServerBannerRelevant(s, {false, true, true, false}));
    s.correctionBackend = CorrectionBackend::anthropic;
    EXPECT_FALSE(localServerBannerRelevant(s, missing));
    s.organizeEnabled = true; // the organization always asks the local server
    EXPECT_TRUE(localServerBannerRelevant(s, missing));
    EXPECT_EQ(localServerAdviceText(s, missing), "Ollama n'est pas installé : l'organisation des vocaux en a besoin.");
    s.correctionBackend = CorrectionBackend::ollama;
    EXPECT_EQ(localServerAdviceText(s, missing),
              "Ollama n'est pas installé : la correction locale et l'organisation des vocaux en ont besoin.");
    EXPECT_EQ(
        localServerAdviceText(s, {true, false, std::nullopt, false}),
        "Ollama est installé mais ne répond pas : lance-le pour la correction locale et l'organisation des vocaux.");
    EXPECT_EQ(localServerFactsText(missing, "qwen2.5:7b"),
              "Installé : non · Démarré : non · Modèle qwen2.5:7b : non vérifié");
    EXPECT_EQ(localServerFactsText({false, true, false, false}, "m"),
              "Installé : oui · Démarré : oui · Modèle m : absent");

    // The pass and run banners, and their French counts.
    s = ParlivoSettings();
    EXPECT_TRUE(correctionBannerRelevant(false, 2, false, s));
    EXPECT_FALSE(correctionBannerRelevant(false, 2, true, s)); // the batch's end chains the pass
    EXPECT_FALSE(correctionBannerRelevant(false, 0, false, s));
    s.correctionBackend = CorrectionBackend::none; // a pass would mark them corrected untouched
    EXPECT_FALSE(correctionBannerRelevant(false, 2, false, s));
    EXPECT_TRUE(correctionBannerRelevant(true, 0, false, s));
    EXPECT_TRUE(organizationBannerRelevant(false, true, 3, false));
    EXPECT_FALSE(organizationBannerRelevant(false, true, 3, true));
    EXPECT_FALSE(organizationBannerRelevant(false, false, 3, false));
    EXPECT_TRUE(organizationBannerRelevant(true, false, 0, true));

    EXPECT_EQ(rawCountText(1), "1 transcription attend la correction par l'IA.");
    EXPECT_EQ(rawCountText(12), "12 transcriptions attendent la correction par l'IA.");
    EXPECT_EQ(pendingMemosText(1), "1 vocal attend d'être rangé dans l'archive.");
    EXPECT_EQ(pendingMemosText(4), "4 vocaux attendent d'être rangés dans l'archive.");
    EXPECT_EQ(organizedCountText(0), "Aucun vocal rangé pour l'instant.");
    EXPECT_EQ(correctionFiguresText(0, 12, {}), "0 sur 12");
    EXPECT_EQ(correctionFiguresText(3, 12, {2.5, 190}), "3 sur 12 · 2,5 transcriptions/min · Reste : 3 min 10 s");
    EXPECT_EQ(organizationProgressText("Préparation", 0, 0), "Préparation");
    EXPECT_EQ(organizationProgressText("Tri par thèmes", 2, 7), "Tri par thèmes : 2 sur 7");
}

TEST(AiStageTexts, TheSettingsInstallFlowTellsItsStepsAndItsEnd) {
    EXPECT_TRUE(installStepTexts({}, "m").isEmpty());
    const QString download = "Téléchargement d'Ollama (version officielle, la plus récente)…";
    const InstallState downloading{true, 0.05, "x", {}}, starting{true, 0.68, "x", {}}, ready{false, 1, "Prêt.", {}};
    EXPECT_EQ(installStepTexts(downloading, "m"), QStringList{download});
    const QStringList started{download, "Installation dans Applications…", "Ollama installé.", "Lancement d'Ollama…"};
    EXPECT_EQ(installStepTexts(starting, "m"), started);
    EXPECT_EQ(installStepTexts(ready, "qwen2.5:7b"),
              started + QStringList({"Téléchargement du modèle qwen2.5:7b (une seule fois)…",
                                     "Prêt. La correction locale est opérationnelle."}));
    // Installed, but the server waits for a first start by hand: the engine's instruction.
    const InstallState manual{false, 0.68, "Ouvre-le une fois.", {}};
    EXPECT_EQ(installStepTexts(manual, "m"), started + QStringList{"Ouvre-le une fois."});
    const InstallState failed{false, 0.6, "Installation…", QString("Décompression impossible (code 2).")};
    EXPECT_EQ(installStepTexts(failed, "m"), (QStringList{download, "Installation dans Applications…",
                                                          "Installation Ollama : Décompression impossible (code 2)."}));
}

// ---- The banners over a real engine and the stand-in server ----

class Banners : public CorrectionFixture {
protected:
    std::unique_ptr<MainWindow> window;
    QList<QUrl> opened;

    void SetUp() override {
        CorrectionFixture::SetUp();
        engine->setUrlOpener([this](const QUrl &url) { opened << url; });
        window = std::make_unique<MainWindow>(*engine);
        window->resize(980, 760);
        window->show();
    }
    template <typename T> T *banner() const { return window->findChild<T *>(); }
    static bool shown(QWidget *w) { return !w->isHidden(); }
};

TEST_F(Banners, TheServerBannerSaysWhatIsMissingAndOffersTheWayOut) {
    auto *b = banner<OllamaBanner>();
    server.stop();
    engine->startOllamaMonitor();
    ASSERT_TRUE(spinUntil([&] { return shown(b) && shown(b->installButton()); }));
    EXPECT_FALSE(shown(b->launchButton()));
    EXPECT_EQ(b->advice()->text(), "Ollama n'est pas installé : la correction locale en a besoin.");
    EXPECT_EQ(b->facts()->text(), "Installé : non · Démarré : non · Modèle qwen2.5:7b : non vérifié");

    // Installed but stopped: the banner launches it.
    const QString calls = home.file("ollama-calls.log");
    writeStandInOllama(home.file(".local/bin/ollama"), calls);
    ASSERT_TRUE(spinUntil([&] { return shown(b->launchButton()); }));
    EXPECT_FALSE(shown(b->installButton()));
    b->launchButton()->click();
    ASSERT_TRUE(spinUntil([&] { return linesOf(calls) == QStringList{"serve own-session"}; }));

    // Up without the model: the banner fetches it once, then goes.
    server.setModels({});
    ASSERT_TRUE(server.resume());
    ASSERT_TRUE(spinUntil([&] { return shown(b->modelButton()); }));
    EXPECT_EQ(b->facts()->text(), "Installé : oui · Démarré : oui · Modèle qwen2.5:7b : absent");
    engine->stopOllamaMonitor(); // the stand-in's list would not gain the model
    b->modelButton()->click();
    EXPECT_FALSE(b->modelButton()->isEnabled());
    ASSERT_TRUE(spinUntil([&] { return b->isHidden(); }));
    EXPECT_EQ(server.count(FakeLlmServer::pullPath), 1);
    EXPECT_TRUE(window->bannerArea()->isHidden());

    // No stage needs the server: no banner, whatever is missing.
    server.stop();
    engine->launchOllama();
    ASSERT_TRUE(spinUntil([&] { return shown(b); }));
    updateSettings([](ParlivoSettings &s) { s.correctionEnabled = false; });
    EXPECT_TRUE(b->isHidden());
}

TEST_F(Banners, AFailedInstallIsToldInTheBannerAndInTheSettingsWindow) {
    ScopedEnv url{"PARLIVO_OLLAMA_DOWNLOAD_URL", QUrl::fromLocalFile(home.file("absent/ollama.tgz")).toString()};
    auto *b = banner<OllamaBanner>();
    auto *box = window->settingsWindow()->findChild<OllamaInstallBox *>();
    ASSERT_TRUE(shown(b));
    b->installButton()->click();
    EXPECT_TRUE(engine->installingOllama());
    EXPECT_FALSE(shown(b->installButton()));
    EXPECT_TRUE(shown(b->installProgress()));
    EXPECT_EQ(b->advice()->text(), "Installation d'Ollama et du modèle qwen2.5:7b en cours.");
    EXPECT_EQ(b->installProgress()->value(), 50);
    EXPECT_EQ(b->installStatus()->text(), "Téléchargement du moteur (~190 Mo, ça peut prendre 1 à 2 min)…");
    EXPECT_EQ(box->steps()->text(), "Téléchargement d'Ollama (version officielle, la plus récente)…");
    EXPECT_FALSE(box->installButton()->isEnabled());

    ASSERT_TRUE(runTask(engine->waitForInstall(), 20000));
    EXPECT_TRUE(b->installStatus()->text().startsWith("Installation Ollama échouée : Téléchargement impossible : "))
        << b->installStatus()->text().toStdString();
    EXPECT_FALSE(shown(b->installProgress()));
    EXPECT_TRUE(shown(b->installButton()));
    EXPECT_TRUE(box->steps()->text().startsWith("Installation Ollama : Téléchargement impossible : "));
    EXPECT_TRUE(box->installButton()->isEnabled());

    // The settings window's button runs the same sequence.
    box->installButton()->click();
    EXPECT_TRUE(engine->installingOllama());
    EXPECT_EQ(box->steps()->text(), "Téléchargement d'Ollama (version officielle, la plus récente)…");
    ASSERT_TRUE(runTask(engine->waitForInstall(), 20000));
}

TEST_F(Banners, TheCorrectionBannerFollowsARealPassAndItsCancellation) {
    auto *b = banner<CorrectionBanner>();
    for (const char *name : {"a", "b", "c"}) writeRawTranscript(out, name, dictation(name, 60));
    EXPECT_TRUE(b->isHidden());
    engine->refreshRawCount();
    ASSERT_TRUE(spinUntil([&] { return shown(b); }));
    EXPECT_EQ(b->state()->text(), "3 transcriptions attendent la correction par l'IA.");
    EXPECT_FALSE(shown(b->cancelButton()));

    server.setDelay(300);
    b->startButton()->click();
    ASSERT_TRUE(engine->correctionPassActive());
    ASSERT_TRUE(spinUntil([&] { return engine->correctionPassDone() == 1; }));
    EXPECT_TRUE(b->state()->text().startsWith("En cours : ")) << b->state()->text().toStdString();
    EXPECT_TRUE(b->figures()->text().startsWith("1 sur 3 · ")) << b->figures()->text().toStdString();
    EXPECT_TRUE(b->figures()->text().contains(" transcriptions/min · Reste : "));
    EXPECT_EQ(b->progress()->value(), 333);
    EXPECT_FALSE(shown(b->startButton()));
    b->cancelButton()->click();
    EXPECT_FALSE(b->cancelButton()->isEnabled());
    ASSERT_TRUE(runTask(engine->waitForCorrectionPass(), 20000));
    EXPECT_LT(engine->correctionPassDone(), 3);

    // Back to what is still raw, then a full pass leaves nothing to show.
    ASSERT_TRUE(spinUntil([&] { return b->state()->text() == rawCountText(3 - engine->correctionPassDone()); }));
    EXPECT_TRUE(shown(b->startButton()));
    server.setDelay(0);
    b->startButton()->click();
    ASSERT_TRUE(runTask(engine->waitForCorrectionPass(), 20000));
    ASSERT_TRUE(spinUntil([&] { return b->isHidden(); }));
    EXPECT_EQ(engine->rawCount(), 0);

    // Another output folder has raw transcripts of its own.
    writeRawTranscript(home.file("ailleurs"), "d", dictation("d", 60));
    updateSettings([&](ParlivoSettings &s) { s.customDestination = home.file("ailleurs"); });
    ASSERT_TRUE(spinUntil([&] { return shown(b); }));
    EXPECT_EQ(b->state()->text(), rawCountText(1));
}

TEST_F(Banners, TheOrganizationBannerAndTheSettingsButtonFollowARealRun) {
    updateSettings([&](ParlivoSettings &s) {
        s.correctionEnabled = false;
        s.organizeEnabled = true;
        s.outputFormat = OutputFormat::md;
    });
    for (const char *name : {"un", "deux", "trois"}) {
        const QString audio = writeFile(src + "/" + name + ".m4a", "audio");
        const auto paths = transcriptPaths(audio, out);
        ASSERT_FALSE(writeOutputs(
            {{0, 3, QStringLiteral("Il faut rappeler le client numéro %1. Le devis de la cuisine attend.").arg(name)}},
            std::nullopt, audio, 3, paths.txt, paths.md, engine->settings()));
    }
    auto *b = banner<OrganizationBanner>();
    auto *box = window->settingsWindow()->findChild<OrganizationRunBox *>();
    // Counted when the source changes or some work ends, not on every change.
    EXPECT_TRUE(b->isHidden());
    engine->setSourceFolder(QUrl::fromLocalFile(src));
    ASSERT_TRUE(spinUntil([&] { return shown(b); }));
    EXPECT_EQ(b->state()->text(), "3 vocaux attendent d'être rangés dans l'archive.");
    EXPECT_FALSE(b->openArchiveButton()->isEnabled()); // no archive yet
    EXPECT_EQ(box->state()->text(), "Aucun vocal rangé pour l'instant.");

    server.respondWith(modelLike);
    server.setDelay(200);
    box->startButton()->click();
    ASSERT_TRUE(engine->orgActive());
    EXPECT_FALSE(box->startButton()->isEnabled());
    ASSERT_TRUE(spinUntil([&] { return engine->orgDone() == 1; }));
    EXPECT_EQ(b->state()->text(), "Structuration par l'IA : 1 sur 3");
    EXPECT_EQ(box->state()->text(), "Structuration par l'IA : 1 sur 3");
    EXPECT_TRUE(b->current()->text().startsWith("Vocal : "));
    EXPECT_FALSE(shown(b->startButton()));

    // Cancelled while structuring: nothing placed, the memos wait again.
    b->cancelButton()->click();
    EXPECT_FALSE(b->cancelButton()->isEnabled());
    ASSERT_TRUE(runTask(engine->waitForOrganization(), 30000));
    ASSERT_TRUE(spinUntil([&] { return shown(b->startButton()); }));
    EXPECT_EQ(b->state()->text(), "3 vocaux attendent d'être rangés dans l'archive.");

    server.setDelay(0);
    b->startButton()->click();
    ASSERT_TRUE(runTask(engine->waitForOrganization(), 30000));
    ASSERT_TRUE(spinUntil([&] { return b->isHidden(); })) << b->state()->text().toStdString();
    EXPECT_EQ(box->state()->text(), "3 vocaux rangés dans l'archive.");
    box->openArchiveButton()->click();
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened.first().toLocalFile(), *engine->organizeRootFolder());
}

} // namespace
