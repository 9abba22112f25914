// The memo library in the window: the search, the reader landing on a hit,
// its player (never heard: offscreen runs have no sound card) and the queue
// opening the reader, over a real engine and a small library.
#include <QComboBox>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QTextBrowser>
#include <QTreeWidget>

#include "app/gui/library_search.h"
#include "app/gui/library_window.h"
#include "app/gui/memo_reader.h"
#include "app/gui/playback_bar.h"
#include "library/library_transcripts.h"
#include "library/memo_library.h"
#include "pipeline/transcript_files.h"
#include "support/window_fixture.h"

using namespace testing_support;

namespace {

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

} // namespace
