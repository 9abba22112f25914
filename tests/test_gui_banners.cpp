// The AI stages in the window: the banners come and go with the engine's
// state, driven for real against the stand-in language-model server, and
// their buttons (and the settings window's own) call the engine.
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include "app/gui/ai_stage_texts.h"
#include "app/gui/correction_banner.h"
#include "app/gui/main_window.h"
#include "app/gui/ollama_banner.h"
#include "app/gui/organization_banner.h"
#include "app/gui/settings_ai_runs.h"
#include "app/gui/settings_window.h"
#include "app/gui/status_text.h"
#include "support/correction_test_support.h"
#include "support/organize_test_support.h"

using namespace testing_support;
using namespace std::chrono_literals;

namespace {

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
