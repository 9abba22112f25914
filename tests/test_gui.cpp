// The window over a real engine: real ffmpeg, the stand-in recogniser, real
// files, offscreen. What a user sees and what the buttons do; the settings
// window, whose controls edit the record at once, with the recognition
// servers (an in-process stand-in of whisper-server); the AI stages' banners,
// driven for real against the stand-in language-model server; the memo
// library in the window (its player never heard: offscreen runs have no sound
// card); and the application's life: one instance per state folder,
// termination signals, a batch that outlives a quit.
#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QItemSelectionModel>
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
#include <QTextBrowser>
#include <QThreadPool>
#include <QTimer>
#include <QTreeWidget>

#include <csignal>
#include <memory>

#include "app/gui/ai_stage_texts.h"
#include "app/gui/app_actions.h"
#include "app/gui/app_shell.h"
#include "app/gui/correction_banner.h"
#include "app/gui/display_texts.h"
#include "app/gui/elided_label.h"
#include "app/gui/library_search.h"
#include "app/gui/library_window.h"
#include "app/gui/log_panel.h"
#include "app/gui/main_window.h"
#include "app/gui/memo_reader.h"
#include "app/gui/ollama_banner.h"
#include "app/gui/organization_banner.h"
#include "app/gui/playback_bar.h"
#include "app/gui/progress_panel.h"
#include "app/gui/queue_model.h"
#include "app/gui/queue_view.h"
#include "app/gui/settings_ai_runs.h"
#include "app/gui/settings_pages.h"
#include "app/gui/settings_servers_box.h"
#include "app/gui/settings_support.h"
#include "app/gui/settings_window.h"
#include "app/gui/single_instance.h"
#include "app/gui/source_bar.h"
#include "app/gui/status_text.h"
#include "app/gui/termination_signals.h"
#include "core/folders.h"
#include "library/library_transcripts.h"
#include "library/memo_library.h"
#include "pipeline/transcript_files.h"
#include "support/cli_fixture.h"
#include "support/correction_test_support.h"
#include "support/engine_fixture.h"
#include "support/fake_llm_server.h"
#include "support/organize_test_support.h"

using namespace testing_support;
using namespace std::chrono_literals;

namespace {

// The main window over a real engine, with the helpers the window tests share.
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
    // Typed into the field as a user does, over what it held.
    static void type(QLineEdit *edit, const QString &text) {
        edit->setFocus();
        edit->selectAll();
        QTest::keyClicks(edit, text);
    }
    void selectRows(std::initializer_list<int> rows) {
        QItemSelectionModel *selection = window->queueView()->table()->selectionModel();
        selection->clearSelection();
        selection->setCurrentIndex(model().index(*rows.begin(), 0), QItemSelectionModel::NoUpdate);
        for (int row : rows) selection->select(model().index(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        window->queueView()->updateSelectionActions();
    }
};

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

class OneInstance : public CliFixture {};

TEST_F(OneInstance, ASecondLaunchWakesTheFirstAnotherHomeIsAnotherAndACommandHoldingTheStateRefusesAWindow) {
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
    makeAudio(src + "/a.m4a", 1.2);
    const auto run = startCli({"run", src}, {"FAKE_WHISPER_HANG=1"});
    ASSERT_TRUE(spinUntil([&] { return QFileInfo::exists(home.supportDir() + "/instance.lock"); }, 20000));

    SingleInstance window(home.supportDir());
    EXPECT_EQ(window.claim(), SingleInstance::Claim::refused);
    EXPECT_EQ(window.refusal(), QStringLiteral("Le dossier d'état « %1 » est déjà utilisé par parlivo-cli (processus "
                                               "%2). Attends la fin de son travail ou ferme-le, puis réessaie.")
                                    .arg(home.supportDir())
                                    .arg(run->processId()));
    run->kill();
    run->waitForFinished();
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
    chooseSource();
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
    chooseSource();
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

// ---- The settings window ----

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
    chooseSource();
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
