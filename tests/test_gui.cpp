// The window over a real engine: real ffmpeg, the stand-in recogniser, real
// files, offscreen. What a user sees and what the buttons do.
#include <QAction>
#include <QFileDialog>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QScrollBar>
#include <QSignalSpy>

#include "app/gui/display_texts.h"
#include "app/gui/log_panel.h"
#include "app/gui/progress_panel.h"
#include "app/gui/settings_window.h"
#include "app/gui/source_bar.h"
#include "app/gui/status_text.h"
#include "core/folders.h"
#include "support/window_fixture.h"

using namespace testing_support;

namespace {

// ---- Texts shown for the engine's values ----

TEST(DisplayTexts, CountersFiguresPercentagesLanguagesFilesAndSizesInFrench) {
    // Counters name only the statuses present, with French plurals.
    EXPECT_EQ(countersText({}), "Aucun fichier");
    EXPECT_EQ(countersText({0, 0, 1, 0, 0, 0}), "1 fichier : 1 terminé");
    EXPECT_EQ(countersText({12, 2, 30, 0, 1, 3}),
              "48 fichiers : 12 en attente · 2 en cours · 30 terminés · 1 en erreur · 3 vides");
    EXPECT_EQ(countersText({0, 0, 0, 2, 0, 0}), "2 fichiers : 2 sautés");
    // Live figures appear once known.
    EXPECT_EQ(liveFiguresText(4, 0, std::nullopt), "Écoulé : 4 s");
    EXPECT_EQ(liveFiguresText(125, 12.5, 190), "Écoulé : 2 min 5 s · 12,5 fichiers/min · Reste : 3 min 10 s");
    EXPECT_EQ(liveFiguresText(3725, 0.25, 3725), "Écoulé : 1 h 2 min · 0,3 fichiers/min · Reste : 1 h 2 min");
    // Percentages are clamped and rounded.
    EXPECT_EQ(percentText(0.456), QStringLiteral("46\u00a0%"));
    EXPECT_EQ(percentText(1.7), QStringLiteral("100\u00a0%"));
    EXPECT_EQ(percentText(-0.2), QStringLiteral("0\u00a0%"));
    EXPECT_EQ(percentText(std::nan("")), QStringLiteral("0\u00a0%"));
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

TEST_F(Window, MenuActionsFromTheFolderChooserToTheSettingsAndTheLogKeepsItsLast500Lines) {
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

    // The other menu actions call the engine.
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
    // The log keeps its last 500 lines, the newest in view.
    window->resize(900, 700);
    for (int i = 1; i <= 620; ++i) engine->log(QStringLiteral("ligne %1").arg(i));
    EXPECT_EQ(log->blockCount(), 500);
    EXPECT_TRUE(log->toPlainText().endsWith("ligne 620"));
    EXPECT_TRUE(log->toPlainText().split('\n').first().endsWith("ligne 121"));
    EXPECT_EQ(log->verticalScrollBar()->value(), log->verticalScrollBar()->maximum());

    actions().showSettings->trigger();
    EXPECT_TRUE(window->settingsWindow()->isVisible());
    // A child of the main window: closing the main window still ends the application.
    EXPECT_EQ(window->settingsWindow()->parentWidget(), window.get());
    EXPECT_TRUE(window->settingsWindow()->isWindow());
}

TEST_F(Window, ModelAndLanguageFollowTheSettingsAndAMissingRecogniserIsShown) {
    EXPECT_EQ(window->findChild<QLabel *>("modelName")->text(), "Modèle : ggml-base.bin");
    EXPECT_EQ(window->findChild<QLabel *>("languageName")->text(), "Langue : Détection automatique");
    updateSettings([](ParlivoSettings &s) {
        s.language = "en";
        s.modelPath.clear();
    });
    EXPECT_EQ(window->findChild<QLabel *>("modelName")->text(), "Modèle : Aucun");
    EXPECT_EQ(window->findChild<QLabel *>("languageName")->text(), "Langue : Anglais");

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

TEST_F(Window, SelectionActionsRetranscribeRequeueOpenAndRevealAndRetryErrorsRequeuesTheRest) {
    makeMemos(3);
    writeFile(src + "/cassé.m4a", "pas de l'audio");
    writeFile(src + "/cassé 2.m4a", "pas de l'audio");
    chooseSource();
    EXPECT_FALSE(actions().retryErrors->isEnabled());
    ASSERT_TRUE(runQueue());
    ASSERT_EQ(engine->doneCount(), 3);
    ASSERT_EQ(engine->errorCount(), 2);
    const int errorRow = model().rowOf(entryNamed("cassé.m4a").id);
    const int doneRow = model().rowOf(entryNamed("memo 02.m4a").id);

    // The failure is explained where the user points.
    EXPECT_EQ(cell(errorRow, QueueModel::NameColumn, Qt::ToolTipRole), *entryNamed("cassé.m4a").errorMessage);
    EXPECT_EQ(cell(doneRow, QueueModel::NameColumn, Qt::ToolTipRole), src + "/memo 02.m4a");

    QueueView *view = window->queueView();
    // The file list's menu, as the user reads it.
    EXPECT_EQ(view->transcribeSelectionAction()->text(), "Transcrire la sélection");
    EXPECT_EQ(view->retrySelectionAction()->text(), "Remettre en attente");
    EXPECT_EQ(view->openTranscriptAction()->text(), "Ouvrir la transcription");
    EXPECT_EQ(view->revealFileAction()->text(), "Afficher dans le dossier");
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

    // "Réessayer les erreurs" puts every failed file left back in the queue.
    QPushButton *retry = button("Réessayer les erreurs");
    ASSERT_TRUE(retry->isEnabled());
    retry->click();
    EXPECT_EQ(engine->errorCount(), 0);
    EXPECT_EQ(engine->pendingCount(), 2);
    EXPECT_FALSE(retry->isEnabled());
}

TEST_F(Window, FileListPreferenceAndExpandedHeightOutliveTheWindowAndNonsenseIsIgnored) {
    EXPECT_TRUE(window->preferences().showFileList);
    EXPECT_EQ(window->preferences().expandedWindowHeight, 760.0);
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
    for (const QVariant &nonsense : {QVariant("beaucoup"), QVariant(-5)}) {
        folders::preferences()->setValue("expandedWindowHeight", nonsense);
        EXPECT_EQ(WindowPreferences::load().expandedWindowHeight, 760.0);
    }
}

} // namespace
