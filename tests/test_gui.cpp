// The window over a real engine: real ffmpeg, the stand-in recogniser, real
// files, offscreen. What a user sees and what the buttons do.
#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTableView>
#include <QTest>
#include <QTreeWidget>

#include <csignal>

#include "app/gui/app_actions.h"
#include "app/gui/app_shell.h"
#include "app/gui/banner_area.h"
#include "app/gui/display_texts.h"
#include "app/gui/elided_label.h"
#include "app/gui/log_panel.h"
#include "app/gui/main_window.h"
#include "app/gui/progress_panel.h"
#include "app/gui/queue_model.h"
#include "app/gui/queue_view.h"
#include "app/gui/settings_pages.h"
#include "app/gui/settings_support.h"
#include "app/gui/settings_window.h"
#include "app/gui/single_instance.h"
#include "app/gui/source_bar.h"
#include "app/gui/status_text.h"
#include "app/gui/termination_signals.h"
#include "core/atomic_file.h"
#include "core/folders.h"
#include "support/engine_fixture.h"
#include "support/fake_llm_server.h"

using namespace testing_support;

namespace {

// ---- Texts shown for the engine's values ----

TEST(DisplayTexts, CountersNameOnlyTheStatusesPresentWithFrenchPlurals) {
    EXPECT_EQ(countersText({}), "Aucun fichier");
    EXPECT_EQ(countersText({0, 0, 1, 0, 0, 0}), "1 fichier : 1 terminé");
    EXPECT_EQ(countersText({12, 2, 30, 0, 1, 3}),
              "48 fichiers : 12 en attente · 2 en cours · 30 terminés · 1 en erreur · 3 vides");
    EXPECT_EQ(countersText({0, 0, 0, 2, 0, 0}), "2 fichiers : 2 sautés");
}

TEST(DisplayTexts, LiveFiguresAppearOnceKnownWithFrenchNumbers) {
    EXPECT_EQ(liveFiguresText(4, 0, std::nullopt), "Écoulé : 4 s");
    EXPECT_EQ(liveFiguresText(125, 12.5, 190), "Écoulé : 2 min 5 s · 12,5 fichiers/min · Reste : 3 min 10 s");
    EXPECT_EQ(liveFiguresText(3725, 0.25, 3725), "Écoulé : 1 h 2 min · 0,3 fichiers/min · Reste : 1 h 2 min");
}

TEST(DisplayTexts, PercentagesAreClampedRoundedAndFrenchSpaced) {
    EXPECT_EQ(percentText(0.456), QStringLiteral("46\u00a0%"));
    EXPECT_EQ(percentText(1.7), QStringLiteral("100\u00a0%"));
    EXPECT_EQ(percentText(-0.2), QStringLiteral("0\u00a0%"));
    EXPECT_EQ(percentText(std::nan("")), QStringLiteral("0\u00a0%"));
}

TEST(DisplayTexts, LanguageRunningFilesAndSizes) {
    EXPECT_EQ(languageDisplay("auto"), "Détection automatique");
    EXPECT_EQ(languageDisplay("fr"), "Français");
    EXPECT_EQ(languageDisplay("de"), "de"); // set from the command line: shown as it is
    EXPECT_EQ(runningFilesText("a.m4a", 1), "a.m4a");
    EXPECT_EQ(runningFilesText("a.m4a", 2), "a.m4a (+1 autre)");
    EXPECT_EQ(runningFilesText("a.m4a", 4), "a.m4a (+3 autres)");
    EXPECT_EQ(sizeText(1'600'000'000), QStringLiteral("1,6\u00a0Go"));
    EXPECT_EQ(sizeText(148'000'000), QStringLiteral("148\u00a0Mo"));
    EXPECT_EQ(sizeText(1), QStringLiteral("1\u00a0Ko"));
}

// ---- The main window over a real engine ----

class Window : public EngineFixture {
protected:
    std::unique_ptr<MainWindow> window;
    QList<QUrl> opened;

    void SetUp() override {
        EngineFixture::SetUp();
        openWindow();
    }
    void openWindow() {
        window.reset();
        engine->setUrlOpener([this](const QUrl &url) { opened << url; });
        window = std::make_unique<MainWindow>(*engine);
        window->show();
    }
    AppActions &actions() const { return window->actions(); }
    QueueModel &model() const { return *window->queueView()->model(); }
    void chooseSource() { engine->setSourceFolder(QUrl::fromLocalFile(src)); }
    void makeMemos(int count, double seconds = 1.5) {
        for (int i = 1; i <= count; ++i) makeAudio(src + QStringLiteral("/memo %1.m4a").arg(i, 2, 10, QChar('0')), seconds);
    }
    QString cell(int row, int column, int role = Qt::DisplayRole) const {
        return model().index(row, column).data(role).toString();
    }
    bool logHas(const QString &text) const { return !engine->logLines().filter(text).isEmpty(); }
    QPushButton *button(const QString &text) const {
        for (QPushButton *b : window->findChildren<QPushButton *>())
            if (b->text() == text) return b;
        ADD_FAILURE() << "no button " << text.toStdString();
        return nullptr;
    }
    void selectRows(std::initializer_list<int> rows) {
        QItemSelectionModel *selection = window->queueView()->table()->selectionModel();
        selection->clearSelection();
        selection->setCurrentIndex(model().index(*rows.begin(), 0), QItemSelectionModel::NoUpdate);
        for (int row : rows) selection->select(model().index(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        window->queueView()->updateSelectionActions();
    }
};

TEST_F(Window, TableFollowsTheQueueRowByRowDuringARealBatch) {
    makeMemos(4);
    QSignalSpy resets(&model(), &QAbstractItemModel::modelReset);
    chooseSource();
    ASSERT_EQ(model().rowCount(), 4);
    EXPECT_EQ(resets.size(), 1);
    EXPECT_EQ(cell(0, QueueModel::NameColumn), "memo 01.m4a");
    EXPECT_EQ(cell(0, QueueModel::StatusColumn), "En attente");
    EXPECT_EQ(cell(0, QueueModel::DurationColumn), "-");

    ScopedEnv slow{{"FAKE_WHISPER_DELAY", "1"}};
    QSignalSpy changes(&model(), &QAbstractItemModel::dataChanged);
    actions().start->trigger();
    ASSERT_TRUE(engine->isRunning());

    // While a file is recognised its row says so, with its progress.
    bool sawProgress = false;
    spinUntil([&] {
        for (int row = 0; row < model().rowCount(); ++row) {
            const AudioFile &file = engine->files()[row];
            if (file.status == FileStatus::running && file.progress > 0.2) {
                sawProgress = cell(row, QueueModel::StatusColumn) == "En cours" &&
                              cell(row, QueueModel::ProgressColumn) == percentText(file.progress) &&
                              cell(row, QueueModel::DurationColumn) == file.durationDisplay();
                return true;
            }
        }
        return false;
    });
    EXPECT_TRUE(sawProgress);
    ASSERT_TRUE(runTask(engine->waitForRun(), 60000));

    // Progress ticks repainted one row each; nothing reset the table.
    EXPECT_EQ(resets.size(), 1);
    EXPECT_GT(changes.size(), 20);
    for (const auto &change : changes) {
        EXPECT_EQ(change.at(0).toModelIndex().row(), change.at(1).toModelIndex().row());
    }
    for (int row = 0; row < 4; ++row) {
        EXPECT_EQ(cell(row, QueueModel::StatusColumn), "Terminé");
        EXPECT_EQ(cell(row, QueueModel::DurationColumn), "0:02");
        EXPECT_EQ(cell(row, QueueModel::ProgressColumn), percentText(1));
    }
    window->progressPanel()->refreshNow();
    EXPECT_EQ(window->findChild<StatusText *>("runState")->text(), "Lot terminé : tous les fichiers ont été traités.");
    EXPECT_EQ(window->findChild<StatusText *>("counters")->text(), "4 fichiers : 4 terminés");
    EXPECT_EQ(window->findChild<QProgressBar *>("overallProgress")->value(), 1000);
}

TEST_F(Window, FirstModelDownloadShowsItsProgressThenTheBatchStarts) {
    makeMemos(1);
    chooseSource();
    const QString repository = home.file("depot/");
    writeFile(repository + "ggml-large-v3.bin", QByteArray(200000, 'l'));
    ScopedEnv base{{"PARLIVO_MODEL_BASE_URL", QUrl::fromLocalFile(repository).toString()}};
    updateSettings([](ParlivoSettings &s) { s.modelPath.clear(); });

    actions().start->trigger();
    QWidget *download = window->findChild<QWidget *>("modelDownload");
    EXPECT_FALSE(download->isHidden());
    EXPECT_EQ(download->findChild<StatusText *>()->text(), "Téléchargement de ggml-large-v3.bin…");
    EXPECT_FALSE(actions().start->isEnabled()); // one download, one batch

    ASSERT_TRUE(spinUntil([&] { return engine->isRunning() || engine->doneCount() == 1; }, 10000));
    EXPECT_TRUE(download->isHidden());
    EXPECT_EQ(window->findChild<QLabel *>("modelName")->text(), "Modèle : ggml-large-v3.bin");
    ASSERT_TRUE(runTask(engine->waitForRun(), 30000));
    EXPECT_EQ(engine->doneCount(), 1);
}

TEST_F(Window, ControlsThatWouldReplaceTheQueueAreDisabledWhileRunning) {
    makeMemos(3);
    chooseSource();
    QPushButton *choose = button("Choisir un dossier…");
    QPushButton *memos = button("Mémos vocaux");
    QPushButton *rescan = button("Nouveau scan");
    QPushButton *start = button("Lancer la transcription");
    QPushButton *pause = button("Mettre en pause");
    QPushButton *cancel = button("Annuler le lot");
    for (QPushButton *b : {choose, memos, rescan, start}) EXPECT_TRUE(b->isEnabled()) << b->text().toStdString();
    EXPECT_FALSE(pause->isEnabled());
    EXPECT_FALSE(cancel->isEnabled());

    ScopedEnv slow{{"FAKE_WHISPER_DELAY", "2"}};
    start->click();
    ASSERT_TRUE(engine->isRunning());
    for (QPushButton *b : {choose, memos, rescan, start}) EXPECT_FALSE(b->isEnabled()) << b->text().toStdString();
    for (QAction *a : {actions().chooseFolder, actions().voiceMemos, actions().rescan, actions().start})
        EXPECT_FALSE(a->isEnabled()) << a->text().toStdString();
    EXPECT_TRUE(pause->isEnabled());
    EXPECT_TRUE(cancel->isEnabled());

    // The live figures are there, inside the window.
    window->resize(900, 700);
    window->progressPanel()->refreshNow();
    QCoreApplication::processEvents();
    auto *figures = window->findChild<StatusText *>("liveFigures");
    EXPECT_TRUE(figures->text().startsWith("Écoulé : "));
    EXPECT_TRUE(figures->isVisible());
    EXPECT_LE(figures->geometry().right(), window->progressPanel()->width());
    EXPECT_TRUE(window->findChild<StatusText *>("runState")->text().startsWith("En cours : memo 01.m4a"));

    // Pause and resume through the same button, which says what it will do.
    pause->click();
    EXPECT_TRUE(engine->isPaused());
    EXPECT_EQ(pause->text(), "Reprendre");
    EXPECT_EQ(actions().pauseResume->text(), "Reprendre");
    window->progressPanel()->refreshNow();
    EXPECT_TRUE(window->findChild<StatusText *>("runState")->text().startsWith("En pause"));
    pause->click();
    EXPECT_FALSE(engine->isPaused());
    EXPECT_EQ(pause->text(), "Mettre en pause");

    // The engine's own guard holds even if a stale click gets through.
    actions().chooseFolder->setEnabled(true);
    actions().chooseFolder->trigger();
    EXPECT_EQ(window->findChild<QFileDialog *>(), nullptr);

    cancel->click();
    ASSERT_TRUE(runTask(engine->waitForRun(), 30000));
    EXPECT_TRUE(engine->logLines().last().endsWith("Lot interrompu."));
    for (QPushButton *b : {choose, memos, rescan, start}) EXPECT_TRUE(b->isEnabled()) << b->text().toStdString();
    EXPECT_FALSE(pause->isEnabled());
    EXPECT_EQ(engine->runningCount(), 0);
}

TEST_F(Window, FolderChooserHasItsTextsAndAConfirmedFolderBecomesTheSource) {
    makeMemos(2);
    actions().chooseFolder->trigger();
    auto *dialog = window->findChild<QFileDialog *>("folderChooser");
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->labelText(QFileDialog::Accept), "Choisir ce dossier");
    EXPECT_EQ(dialog->windowTitle(), "Sélectionne le dossier contenant les fichiers audio à transcrire.");
    EXPECT_EQ(dialog->fileMode(), QFileDialog::Directory);
    EXPECT_TRUE(dialog->testOption(QFileDialog::ShowDirsOnly));
    emit dialog->fileSelected(src);
    dialog->close();
    ASSERT_TRUE(engine->sourceFolder());
    EXPECT_EQ(engine->sourceFolder()->toLocalFile(), src);
    EXPECT_EQ(model().rowCount(), 2);
    EXPECT_EQ(window->sourceBar()->folderText(), src);

    // A cancelled chooser changes nothing.
    actions().chooseFolder->trigger();
    dialog = window->findChild<QFileDialog *>("folderChooser");
    ASSERT_NE(dialog, nullptr);
    dialog->reject();
    EXPECT_EQ(engine->sourceFolder()->toLocalFile(), src);
}

TEST_F(Window, MenuActionsCallTheEngine) {
    makeMemos(2);
    chooseSource();
    makeAudio(src + "/memo 03.m4a", 1.5);
    actions().rescan->trigger();
    EXPECT_TRUE(logHas("Nouveau scan : 3 fichier(s)."));
    EXPECT_EQ(model().rowCount(), 3);

    actions().voiceMemos->trigger();
    EXPECT_TRUE(logHas("Dossier des mémos vocaux du Mac introuvable."));

    actions().revealOutput->trigger();
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened.first().toLocalFile(), src);

    QPlainTextEdit *log = window->logPanel()->view();
    EXPECT_FALSE(log->toPlainText().isEmpty());
    button("Effacer")->click();
    EXPECT_TRUE(engine->logLines().isEmpty());
    EXPECT_TRUE(log->toPlainText().isEmpty());

    actions().showSettings->trigger();
    EXPECT_TRUE(window->settingsWindow()->isVisible());
    // A child of the main window: closing the main window still ends the application.
    EXPECT_EQ(window->settingsWindow()->parentWidget(), window.get());
    EXPECT_TRUE(window->settingsWindow()->isWindow());
}

TEST_F(Window, RecogniserMissingIsShownAndStartIsRefused) {
    EXPECT_TRUE(window->findChild<QLabel *>("missingTools")->isHidden());
    window.reset();
    Tools none;
    none.ffmpeg = QStringLiteral("/usr/bin/ffmpeg");
    engine = std::make_unique<Transcriber>(none);
    openWindow();
    auto *message = window->findChild<QLabel *>("missingTools");
    EXPECT_FALSE(message->isHidden());
    EXPECT_EQ(message->text(), "whisper-cli introuvable. Lance scripts/setup, qui le construit, ou installe le "
                               "paquet whisper.cpp de ta distribution.");
    EXPECT_FALSE(actions().start->isEnabled());
}

TEST_F(Window, ModelAndLanguageFollowTheSettings) {
    EXPECT_EQ(window->findChild<QLabel *>("modelName")->text(), "Modèle : ggml-base.bin");
    EXPECT_EQ(window->findChild<QLabel *>("languageName")->text(), "Langue : Détection automatique");
    updateSettings([](ParlivoSettings &s) {
        s.language = "en";
        s.modelPath.clear();
    });
    EXPECT_EQ(window->findChild<QLabel *>("modelName")->text(), "Modèle : Aucun");
    EXPECT_EQ(window->findChild<QLabel *>("languageName")->text(), "Langue : Anglais");
}

TEST_F(Window, SelectionActionsRetranscribeRequeueOpenAndReveal) {
    makeMemos(3);
    writeFile(src + "/cassé.m4a", "pas de l'audio");
    chooseSource();
    ASSERT_TRUE(runQueue());
    ASSERT_EQ(engine->doneCount(), 3);
    ASSERT_EQ(engine->errorCount(), 1);
    const int errorRow = model().rowOf(entryNamed("cassé.m4a").id);
    const int doneRow = model().rowOf(entryNamed("memo 02.m4a").id);

    // The failure is explained where the user points.
    EXPECT_EQ(cell(errorRow, QueueModel::NameColumn, Qt::ToolTipRole), *entryNamed("cassé.m4a").errorMessage);
    EXPECT_EQ(cell(doneRow, QueueModel::NameColumn, Qt::ToolTipRole), src + "/memo 02.m4a");

    QueueView *view = window->queueView();
    selectRows({doneRow});
    EXPECT_TRUE(view->openTranscriptAction()->isEnabled());
    view->openTranscriptAction()->trigger();
    view->revealFileAction()->trigger();
    ASSERT_EQ(opened.size(), 2);
    EXPECT_EQ(opened[0].toLocalFile(), *entryNamed("memo 02.m4a").outputPath);
    EXPECT_EQ(opened[1].toLocalFile(), src);

    // A failed file has no transcript to open.
    selectRows({errorRow});
    EXPECT_FALSE(view->openTranscriptAction()->isEnabled());
    EXPECT_TRUE(view->retrySelectionAction()->isEnabled());
    view->retrySelectionAction()->trigger();
    EXPECT_EQ(cell(errorRow, QueueModel::StatusColumn), "En attente");
    EXPECT_FALSE(engine->isRunning()); // put back in the queue, not started

    // Transcribing a finished selection again runs the recogniser on exactly those.
    const int calls = recogniserCalls();
    selectRows({doneRow, model().rowOf(entryNamed("memo 03.m4a").id)});
    EXPECT_EQ(view->selectedIds().size(), 2);
    view->transcribeSelectionAction()->trigger();
    ASSERT_TRUE(engine->isRunning());
    ASSERT_TRUE(runTask(engine->waitForRun(), 60000));
    EXPECT_EQ(recogniserCalls(), calls + 2);
    EXPECT_EQ(cell(errorRow, QueueModel::StatusColumn), "En attente"); // not part of that run
}

TEST_F(Window, RetryErrorsPutsEveryFailedFileBackInTheQueue) {
    writeFile(src + "/a.m4a", "pas de l'audio");
    writeFile(src + "/b.m4a", "pas de l'audio");
    makeMemos(1);
    chooseSource();
    EXPECT_FALSE(actions().retryErrors->isEnabled());
    ASSERT_TRUE(runQueue());
    ASSERT_EQ(engine->errorCount(), 2);
    QPushButton *retry = button("Réessayer les erreurs");
    ASSERT_TRUE(retry->isEnabled());
    retry->click();
    EXPECT_EQ(engine->errorCount(), 0);
    EXPECT_EQ(engine->pendingCount(), 2);
    EXPECT_FALSE(retry->isEnabled());
}

TEST_F(Window, LogKeepsTheLast500LinesWithTheNewestInView) {
    window->resize(900, 700);
    for (int i = 1; i <= 620; ++i) engine->log(QStringLiteral("ligne %1").arg(i));
    QPlainTextEdit *log = window->logPanel()->view();
    EXPECT_EQ(log->blockCount(), 500);
    EXPECT_TRUE(log->toPlainText().endsWith("ligne 620"));
    EXPECT_TRUE(log->toPlainText().split('\n').first().endsWith("ligne 121"));
    EXPECT_EQ(log->verticalScrollBar()->value(), log->verticalScrollBar()->maximum());
}

TEST_F(Window, FileListPreferenceAndExpandedHeightOutliveTheWindow) {
    window->resize(900, 700);
    QCoreApplication::processEvents();
    actions().toggleFileList->setChecked(false);
    EXPECT_FALSE(window->queueView()->table()->isVisibleTo(window.get()));
    EXPECT_LT(window->height(), 700);
    EXPECT_FALSE(folders::preferences()->value("showFileList").toBool());
    EXPECT_EQ(folders::preferences()->value("expandedWindowHeight").toDouble(), 700.0);

    // Shown again, the window takes back the height it had with the list.
    actions().toggleFileList->setChecked(true);
    EXPECT_EQ(window->height(), 700);
    actions().toggleFileList->setChecked(false);

    openWindow();
    EXPECT_FALSE(window->preferences().showFileList);
    EXPECT_FALSE(actions().toggleFileList->isChecked());
    EXPECT_FALSE(window->queueView()->table()->isVisibleTo(window.get()));
    EXPECT_EQ(window->preferences().expandedWindowHeight, 700.0);
}

TEST_F(Window, PreferencesStartAtTheirDefaultsAndIgnoreNonsense) {
    EXPECT_TRUE(window->preferences().showFileList);
    EXPECT_EQ(window->preferences().expandedWindowHeight, 760.0);
    folders::preferences()->setValue("expandedWindowHeight", "beaucoup");
    EXPECT_EQ(WindowPreferences::load().expandedWindowHeight, 760.0);
    folders::preferences()->setValue("expandedWindowHeight", -5);
    EXPECT_EQ(WindowPreferences::load().expandedWindowHeight, 760.0);
}

TEST_F(Window, BannerAreaTakesNoRoomUntilABannerShows) {
    BannerArea *area = window->bannerArea();
    EXPECT_TRUE(area->isHidden());
    auto *banner = new Banner("Correction IA");
    banner->hide();
    area->addBanner(banner);
    EXPECT_TRUE(area->isHidden());
    banner->show();
    EXPECT_FALSE(area->isHidden());
    banner->hide();
    EXPECT_TRUE(area->isHidden());
}

// ---- The settings window edits the record ----

class Settings : public Window {
protected:
    SettingsWindow *settingsWindow() const { return window->settingsWindow(); }
};

TEST_F(Settings, TranscriptionAndDestinationControlsWriteTheRecordAtOnce) {
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
    folder->setFocus();
    folder->selectAll();
    QTest::keyClicks(folder, home.file("sortie"));
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
}

TEST_F(Settings, CorrectionAndOrganizationFieldsAndThePromptReset) {
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
    QTest::keyClicks(o->root()->edit(), home.file("archive"));
    EXPECT_EQ(engine->settings().organizeModel, "llama3.1:8b");
    EXPECT_TRUE(engine->settings().organizeEnabled);
    EXPECT_FALSE(engine->settings().organizeCopyAudio);
    EXPECT_EQ(engine->settings().organizeRoot, home.file("archive"));
}

TEST_F(Settings, ChangesMadeElsewhereShowInTheWindow) {
    settingsWindow();
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
    EXPECT_EQ(settingsWindow()->transcriptionPage()->language()->currentData(), "en");
    EXPECT_EQ(settingsWindow()->transcriptionPage()->parallelism()->value(), 1);
    EXPECT_EQ(engine->settings().parallelism, 0); // showing it does not rewrite it
    EXPECT_EQ(settingsWindow()->destinationPage()->format()->currentData(), "md");
    EXPECT_EQ(settingsWindow()->destinationPage()->subtitles()->currentText(), "Les deux");
    EXPECT_TRUE(settingsWindow()->destinationPage()->mode()->button(int(DestinationMode::custom))->isChecked());
    EXPECT_EQ(settingsWindow()->destinationPage()->folder()->edit()->text(), home.file("ailleurs"));
    EXPECT_EQ(settingsWindow()->correctionPage()->backend()->currentText(), "Aucune");
    EXPECT_EQ(settingsWindow()->correctionPage()->ollamaEndpoint()->text(), "http://127.0.0.1:9");
    EXPECT_EQ(settingsWindow()->organizationPage()->root()->edit()->text(), home.file("rangement"));
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

// ---- Life cycle ----

TEST(SingleInstance, ASecondLaunchWakesTheFirstAndAnotherHomeIsAnotherInstance) {
    TempHome home;
    const QString dir = home.file("support");
    SingleInstance first(dir);
    ASSERT_EQ(first.claim(), SingleInstance::Claim::owner);
    QSignalSpy woken(&first, &SingleInstance::activationRequested);
    SingleInstance second(dir);
    EXPECT_EQ(second.claim(), SingleInstance::Claim::handedOver);
    EXPECT_TRUE(spinUntil([&] { return woken.size() == 1; }, 5000));

    SingleInstance elsewhere(home.file("autre"));
    EXPECT_EQ(elsewhere.claim(), SingleInstance::Claim::owner);
    EXPECT_NE(SingleInstance::serverName(dir), SingleInstance::serverName(home.file("autre")));
    EXPECT_EQ(SingleInstance::serverName(dir), SingleInstance::serverName(dir + "/"));
}

TEST(SingleInstance, AWindowDoesNotOpenWhileACommandHoldsTheState) {
    TempHome home;
    const QString bin = home.file("bin");
    QDir().mkpath(bin);
    QFile::link(buildPath("fake-whisper-cli"), bin + "/whisper-cli");
    writeFile(home.file(".hestia/ggml-base.bin"), "model");
    ASSERT_EQ(runCli({"settings", "modelPath", home.file(".hestia/ggml-base.bin")}).code, 0);
    ASSERT_EQ(runCli({"settings", "correctionEnabled", "false"}).code, 0);
    makeAudio(home.file("memos/a.m4a"), 1.2);
    QProcess run;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("PATH", bin + ":" + env.value("PATH"));
    env.insert("FAKE_WHISPER_HANG", "1");
    run.setProcessEnvironment(env);
    run.start(buildPath("parlivo-cli"), {"run", home.file("memos")});
    ASSERT_TRUE(spinUntil([&] { return QFileInfo::exists(home.supportDir() + "/instance.lock"); }, 20000));

    SingleInstance window(home.supportDir());
    EXPECT_EQ(window.claim(), SingleInstance::Claim::refused);
    EXPECT_EQ(window.refusal(), QStringLiteral("Le dossier d'état « %1 » est déjà utilisé par parlivo-cli (processus "
                                               "%2). Attends la fin de son travail ou ferme-le, puis réessaie.")
                                    .arg(home.supportDir())
                                    .arg(run.processId()));
    run.kill();
    run.waitForFinished();
    // The command is gone: the window takes over its lock.
    SingleInstance later(home.supportDir());
    EXPECT_EQ(later.claim(), SingleInstance::Claim::owner);
}

TEST(TerminationSignals, ASignalReachesTheEventLoopInsteadOfKillingTheProcess) {
    TerminationSignals bridge;
    QSignalSpy requested(&bridge, &TerminationSignals::terminationRequested);
    std::raise(SIGTERM);
    ASSERT_TRUE(spinUntil([&] { return requested.size() == 1; }, 5000));
    EXPECT_EQ(requested.first().first().toInt(), SIGTERM);
    std::raise(SIGINT);
    ASSERT_TRUE(spinUntil([&] { return requested.size() == 2; }, 5000));
    EXPECT_EQ(requested.last().first().toInt(), SIGINT);
}

class LifeCycle : public EngineFixture {};

TEST_F(LifeCycle, ABatchInterruptedByQuittingResumesAtTheNextLaunch) {
    for (int i = 1; i <= 3; ++i) makeAudio(src + QStringLiteral("/m%1.m4a").arg(i), 1.5);
    engine->setSourceFolder(QUrl::fromLocalFile(src));
    FakeLlmServer server;
    updateSettings([&](ParlivoSettings &s) { s.ollamaEndpoint = server.endpoint(); });
    {
        ScopedEnv slow{{"FAKE_WHISPER_DELAY", "3"}};
        engine->start();
        ASSERT_TRUE(engine->isRunning());
        engine->saveNow(); // what quitting does
        engine.reset();    // the children go with it
    }
    AppShell shell(tools());
    EXPECT_FALSE(shell.engine().isRunning());
    shell.start();
    EXPECT_TRUE(shell.engine().isRunning());
    EXPECT_TRUE(shell.engine().logLines().last().endsWith("Reprise automatique du lot après redémarrage."));
    // The local server is watched from the start.
    EXPECT_TRUE(spinUntil([&] { return server.count(FakeLlmServer::tagsPath) > 0; }));
    ASSERT_TRUE(runTask(shell.engine().waitForRun(), 60000));
    EXPECT_EQ(shell.engine().doneCount(), 3);
}

// The real program: one instance per support folder, and the state saved on SIGTERM.
TEST(Program, SecondLaunchHandsOverAndSigtermSavesTheState) {
    TempHome home;
    // The program watches the stand-in server, never whatever listens on the usual port.
    FakeLlmServer server;
    {
        Transcriber seed{Tools{}};
        ParlivoSettings settings = seed.settings();
        settings.ollamaEndpoint = server.endpoint();
        seed.setSettings(settings);
        seed.saveNow();
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    QProcess first;
    first.setProcessEnvironment(env);
    first.start(buildPath("parlivo"), {});
    ASSERT_TRUE(first.waitForStarted(10000));
    const QString lock = home.supportDir() + "/instance.lock";
    ASSERT_TRUE(spinUntil([&] { return QFileInfo::exists(lock); }, 20000));
    spin(500); // listening and the window up
    EXPECT_TRUE(spinUntil([&] { return server.count(FakeLlmServer::tagsPath) > 0; }, 10000));

    QProcess second;
    second.setProcessEnvironment(env);
    second.start(buildPath("parlivo"), {});
    ASSERT_TRUE(second.waitForFinished(15000));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(first.state(), QProcess::Running);

    // Commands that would change the state are refused beside the window; one that looks is not.
    for (const QStringList &command : {QStringList{"run"}, QStringList{"settings", "language", "fr"}}) {
        const CliResult refused = runCli(command);
        EXPECT_EQ(refused.code, 2) << command.join(' ').toStdString();
        EXPECT_EQ(refused.err, QStringLiteral("Le dossier d'état « %1 » est déjà utilisé par la fenêtre de Parlivo "
                                              "(processus %2). Attends la fin de son travail ou ferme-le, puis "
                                              "réessaie.\n")
                                   .arg(home.supportDir())
                                   .arg(first.processId()));
    }
    const CliResult status = runCli({"status"});
    EXPECT_EQ(status.code, 0);
    EXPECT_TRUE(status.out.startsWith("En attente 0, En cours 0")) << status.out.toStdString();

    const QString settingsFile = home.supportDir() + "/settings.json";
    QFile::remove(settingsFile);
    ::kill(pid_t(first.processId()), SIGTERM);
    ASSERT_TRUE(first.waitForFinished(15000));
    EXPECT_EQ(first.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(first.exitCode(), 0);
    EXPECT_TRUE(QFileInfo::exists(settingsFile));
    EXPECT_TRUE(QFileInfo::exists(home.supportDir() + "/queue.json"));
}

} // namespace
