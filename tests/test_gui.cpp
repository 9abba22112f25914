// The window over a real engine: real ffmpeg, the stand-in recogniser, real
// files, offscreen. What a user sees and what the buttons do; the memo library
// in the window (its player never heard: offscreen runs have no sound card);
// and the application's life: one instance per state folder, termination
// signals, a batch that outlives a quit.
#include <QAction>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTextBrowser>
#include <QThreadPool>
#include <QTimer>
#include <QTreeWidget>

#include <csignal>

#include "app/gui/app_shell.h"
#include "app/gui/display_texts.h"
#include "app/gui/library_search.h"
#include "app/gui/library_window.h"
#include "app/gui/log_panel.h"
#include "app/gui/memo_reader.h"
#include "app/gui/playback_bar.h"
#include "app/gui/progress_panel.h"
#include "app/gui/settings_window.h"
#include "app/gui/single_instance.h"
#include "app/gui/source_bar.h"
#include "app/gui/status_text.h"
#include "app/gui/termination_signals.h"
#include "core/folders.h"
#include "library/library_transcripts.h"
#include "library/memo_library.h"
#include "pipeline/transcript_files.h"
#include "support/fake_llm_server.h"
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

// ---- The memo library in the window ----

class LibraryInWindow : public Window {
protected:
    // A transcript as Parlivo writes it, indexed with its segments.
    void addMemo(const QString &name, const QList<Segment> &segments, std::optional<QString> corrected = {}) {
        const QString audio = src + "/" + name + ".m4a", md = src + "/" + name + ".md";
        writeFile(audio, "audio");
        const QDateTime recorded(QDate(2026, 3, 14), QTime(9, 30));
        ParlivoSettings settings;
        settings.modelPath = EngineFixture::model;
        writeFile(md, mdContent({audio, recorded, recorded, 6.0, segments, corrected, {}}, settings).toUtf8());
        auto memo = memoFromTranscript(md, readUtf8File(md).value_or(""));
        ASSERT_TRUE(memo);
        memo->segments = segments;
        QDir().mkpath(home.supportDir());
        ASSERT_EQ(MemoLibrary(home.supportDir()).put(*memo), std::nullopt);
    }
    void addLibrary() {
        addMemo("cours", {{0, 2, " Bonjour à tous."}, {2, 5.5, " L'élève écoute la leçon."}});
        addMemo("visite", {{0, 3, " On a visité le musée."}, {3, 6.5, " Les enfants ont adoré, la leçon aussi."}},
                "Nous avons visité le musée. Les enfants ont adoré, la leçon aussi.");
    }
    LibraryWindow &library() { return *window->libraryWindow(); }
    MemoReader &reader() { return *library().reader(); }
    QTreeWidget &results() { return *library().searchPanel()->results(); }
    void searchFromMainWindow(const QString &words) {
        QLineEdit *field = window->librarySearchField();
        field->setText(words);
        QTest::keyClick(field, Qt::Key_Return);
        spinUntil([&] { return library().searchPanel()->status() != "Recherche…"; });
    }
    void openResult(int row) {
        QSignalSpy shown(&library(), &LibraryWindow::memoShown);
        QTreeWidgetItem *item = results().topLevelItem(row);
        QTest::mouseClick(results().viewport(), Qt::LeftButton, {}, results().visualItemRect(item).center());
        ASSERT_TRUE(spinUntil([&] { return shown.count() == 1; }));
    }
    QStringList row(const QTreeWidget &tree, int n) {
        QStringList cells;
        for (int c = 0; c < tree.columnCount(); ++c) cells << tree.topLevelItem(n)->text(c);
        return cells;
    }
};

TEST_F(LibraryInWindow, TheFieldListsTheHitsAndOpeningOneLandsTheReaderAndItsPlayerThere) {
    addLibrary();
    searchFromMainWindow("LECON");
    EXPECT_TRUE(library().isVisible());
    ASSERT_EQ(results().topLevelItemCount(), 2);
    EXPECT_EQ(library().searchPanel()->status(), "2 résultats");
    searchFromMainWindow("eleve");
    ASSERT_EQ(results().topLevelItemCount(), 1);
    EXPECT_EQ(row(results(), 0),
              (QStringList{"14/03/2026 09:30", "cours", "Bonjour à tous. L'«élève» écoute la leçon."}));
    EXPECT_EQ(library().searchPanel()->status(), "1 résultat");
    searchFromMainWindow("girafe");
    EXPECT_EQ(results().topLevelItemCount(), 0);
    EXPECT_EQ(library().searchPanel()->status(), "Aucun vocal ne contient ces mots.");

    // Opening a hit selects its segment and positions the player there.
    searchFromMainWindow("adore");
    ASSERT_EQ(results().topLevelItemCount(), 1);
    openResult(0);
    EXPECT_EQ(reader().segmentList()->topLevelItemCount(), 2);
    EXPECT_EQ(row(*reader().segmentList(), 0), (QStringList{"0:00", "On a visité le musée."}));
    EXPECT_EQ(row(*reader().segmentList(), 1), (QStringList{"0:03", "Les enfants ont adoré, la leçon aussi."}));
    EXPECT_EQ(reader().selectedSegment(), 1);
    EXPECT_EQ(reader().playback()->requestedPosition(), 3000);
    // Corrected: the text beside the recogniser's words, the hit marked in it.
    QTextBrowser *text = reader().textView();
    EXPECT_TRUE(text->isVisibleTo(&reader()));
    EXPECT_EQ(text->toPlainText(), "Nous avons visité le musée. Les enfants ont adoré, la leçon aussi.");
    ASSERT_EQ(text->extraSelections().size(), 1);
    EXPECT_EQ(text->extraSelections()[0].cursor.selectedText(), "adoré");

    // A memo never corrected shows its segments alone, and another hit lands elsewhere.
    searchFromMainWindow("eleve");
    openResult(0);
    EXPECT_FALSE(reader().textView()->isVisibleTo(&reader()));
    EXPECT_EQ(reader().selectedSegment(), 1);
    EXPECT_EQ(reader().playback()->requestedPosition(), 2000);
    // A click on a segment plays from its start.
    QTreeWidget *segments = reader().segmentList();
    QTest::mouseClick(segments->viewport(), Qt::LeftButton, {},
                      segments->visualItemRect(segments->topLevelItem(0)).center());
    EXPECT_EQ(reader().playback()->requestedPosition(), 0);

    // The speeds, and a missing recording said quietly.
    ASSERT_TRUE(QFile::remove(src + "/cours.m4a"));
    searchFromMainWindow("eleve");
    openResult(0);
    PlaybackBar *player = reader().playback();
    EXPECT_EQ(player->message(), "Enregistrement introuvable : « cours.m4a ».");
    EXPECT_FALSE(player->playButton()->isEnabled());
    EXPECT_EQ(player->playButton()->text(), "Lecture");
    EXPECT_EQ(player->requestedPosition(), 2000); // the place stays, for the text
    QComboBox *speeds = player->speedBox();
    ASSERT_EQ(speeds->count(), 3);
    EXPECT_EQ((QStringList{speeds->itemText(0), speeds->itemText(1), speeds->itemText(2)}),
              (QStringList{"1×", "1,5×", "2×"}));
    EXPECT_EQ(player->speed(), 1.0);
    speeds->setCurrentIndex(2);
    EXPECT_EQ(player->speed(), 2.0);
    player->setSpeed(1.5);
    EXPECT_EQ(speeds->currentText(), "1,5×");
}

TEST(PlaybackProblems, EachReasonNothingCanPlayInFrench) {
    TempHome home;
    const QString recording = writeFile(home.file("cours.m4a"), "audio");
    EXPECT_EQ(playbackProblem("", true), "Enregistrement inconnu : lecture impossible.");
    EXPECT_EQ(playbackProblem(home.file("autre.m4a"), true), "Enregistrement introuvable : « autre.m4a ».");
    EXPECT_EQ(playbackProblem(recording, false), "Aucune sortie audio : la lecture est impossible sur cette machine.");
    EXPECT_EQ(playbackProblem(recording, true), std::nullopt);
}

TEST_F(LibraryInWindow, DoubleClickingADoneFileOpensItInTheReaderFromTheStart) {
    ScopedEnv heard("FAKE_WHISPER_SEGMENTS", R"([{"text": " Bonjour à tous.", "from": 0, "to": 2000},
                                               {"text": " L'élève écoute la leçon.", "from": 2000, "to": 5500}])");
    makeMemos(1);
    chooseSource();
    ASSERT_TRUE(runQueue());
    QTableView *table = window->queueView()->table();
    const QRect cell = table->visualRect(model().index(0, QueueModel::NameColumn));
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, cell.center());
    QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, cell.center());
    ASSERT_TRUE(spinUntil([&] { return reader().segmentList()->topLevelItemCount() == 2; }));
    EXPECT_TRUE(library().isVisible());
    EXPECT_TRUE(opened.isEmpty()); // not handed to another program
    EXPECT_EQ(row(*reader().segmentList(), 1), (QStringList{"0:02", "L'élève écoute la leçon."}));
    EXPECT_EQ(reader().selectedSegment(), std::nullopt);
    EXPECT_EQ(reader().playback()->requestedPosition(), 0);
}

// ---- The application's life ----

TEST(SingleInstance, ASecondLaunchWakesTheFirstAnotherHomeIsAnotherAndACommandHoldingTheStateRefusesAWindow) {
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

    // A window does not open while a command holds the state.
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

TEST_F(LifeCycle, AMemoWrittenWhileTheIndexIsRebuiltKeepsItsTimesWhenTheWindowQuits) {
    makeAudio(src + "/m1.m4a", 1.5);
    engine->setSourceFolder(QUrl::fromLocalFile(src));
    engine->saveNow();
    engine.reset();
    ScopedEnv segments{{"FAKE_WHISPER_SEGMENTS", R"([{"text": "Bonjour à tous.", "from": 0, "to": 1200},
                                                      {"text": "On commence.", "from": 1200, "to": 1500}])"}};
    QString transcript;
    std::optional<AppShell> shell(std::in_place, tools());
    // The first transcript opens the index, which is new: it is rebuilt from
    // the files while this memo waits. Quitting then, before the rebuild is
    // back, is what must not lose the memo's times: as at a real quit, the
    // shell goes right after shutDown, with no event handled in between.
    QObject::connect(&shell->engine(), &Transcriber::entryChanged, [&](const QUuid &id) {
        const AudioFile *file = shell->engine().entry(id);
        if (!file || file->status != FileStatus::done || !file->outputPath || !transcript.isEmpty()) return;
        transcript = *file->outputPath;
        QTimer::singleShot(0, qApp, [&] {
            shell->shutDown();
            shell.reset();
        });
    });
    shell->engine().start();
    ASSERT_TRUE(spinUntil([&] { return !shell.has_value(); }));
    QThreadPool::globalInstance()->waitForDone();
    ASSERT_FALSE(transcript.isEmpty());
    MemoLibrary index(home.supportDir());
    const auto memo = index.memo(transcript);
    ASSERT_TRUE(memo.has_value()) << transcript.toStdString();
    ASSERT_EQ(memo->segments.size(), 2);
    EXPECT_EQ(memo->segments[0].text.trimmed(), "Bonjour à tous.");
    EXPECT_DOUBLE_EQ(memo->segments[1].start, 1.2);
    EXPECT_DOUBLE_EQ(memo->segments[1].end, 1.5);
}

} // namespace
