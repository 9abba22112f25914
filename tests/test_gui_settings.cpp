// The settings window over a real engine: each control edits the record at once.
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QSpinBox>
#include <QTest>
#include <QTreeWidget>

#include "app/gui/elided_label.h"
#include "app/gui/settings_pages.h"
#include "app/gui/settings_support.h"
#include "app/gui/settings_window.h"
#include "app/gui/source_bar.h"

#include "support/window_fixture.h"

using namespace testing_support;

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

} // namespace
