// The memo library kept by the engine: indexed as transcripts are written,
// corrected, written again and deleted, and rebuilt from the files when its
// index is gone or damaged. Real ffmpeg, the stand-in recogniser and the
// stand-in language-model server.
#include <QFile>

#include "library/library.h"
#include "library/library_memo.h"
#include "library/memo_library.h"
#include "library/search_query.h"
#include "support/correction_test_support.h"

using namespace testing_support;

namespace {

// Two segments: "Bonjour à tous." from 0 s to 2 s, the lesson from 2 s to 5.5 s.
const char *const lesson = R"([{"text": " Bonjour à tous.", "from": 0, "to": 2000},
                               {"text": " L'élève écoute la leçon.", "from": 2000, "to": 5500}])";

class LibraryWiring : public EngineFixture {
protected:
    std::optional<ScopedEnv> heard;

    void SetUp() override {
        EngineFixture::SetUp();
        hear(lesson);
        updateSettings([](ParlivoSettings &s) { s.outputFormat = OutputFormat::both; });
    }
    void hear(const QString &segmentsJson) {
        heard.reset();
        heard.emplace("FAKE_WHISPER_SEGMENTS", segmentsJson);
    }
    void record(const QString &name) {
        makeAudio(src + "/" + name + ".m4a", 1.2);
        engine->setSourceFolder(QUrl::fromLocalFile(src));
    }
    QList<SearchHit> find(const QString &words) {
        const auto found = runTaskFor(engine->searchLibrary(parseSearchQuery(words)));
        EXPECT_TRUE(found && !found->error) << words.toStdString();
        return found ? found->hits : QList<SearchHit>();
    }
    QString indexFile() const { return home.supportDir() + "/library.sqlite"; }
};

TEST_F(LibraryWiring, AWrittenTranscriptIsFoundAtTheSecondItWasSaidThenByItsCorrectedOrNewWords) {
    EXPECT_FALSE(QFile::exists(indexFile())); // the index stays closed until it is needed
    record("cours");
    EXPECT_FALSE(QFile::exists(indexFile())); // a scan writes no transcript
    ASSERT_TRUE(runQueue());
    EXPECT_TRUE(QFile::exists(indexFile()));
    const auto hits = find("ELEVE");
    ASSERT_EQ(hits.size(), 1);
    EXPECT_EQ(hits[0].transcriptPath, src + "/cours.md"); // the .txt beside it is the same memo
    EXPECT_EQ(hits[0].audioPath, src + "/cours.m4a");
    EXPECT_EQ(hits[0].time, std::optional<double>(2.0));
    EXPECT_EQ(hits[0].passage.marked(), "Bonjour à tous. L'«élève» écoute la leçon.");
    EXPECT_TRUE(find("bonsoir").isEmpty());

    // Corrected: found by its new words, keeping the times of the words said.
    FakeLlmServer server;
    ASSERT_NE(server.port(), 0);
    server.setModels({"qwen2.5:7b"});
    server.enqueue({FakeReply::answer("Bonjour à tous. L'élève écoute sa leçon.")});
    updateSettings([&](ParlivoSettings &s) {
        s.correctionEnabled = true;
        s.ollamaEndpoint = server.endpoint();
    });
    ASSERT_EQ(runTaskFor(engine->correctTranscript(src + "/cours.md")), std::optional<bool>(true));
    EXPECT_TRUE(find("\"la leçon\"").isEmpty());
    const auto corrected = find("\"sa leçon\"");
    ASSERT_EQ(corrected.size(), 1);
    EXPECT_EQ(corrected[0].passage.marked(), "Bonjour à tous. L'élève écoute «sa leçon».");
    EXPECT_EQ(corrected[0].time, std::nullopt); // the recogniser never said "sa"
    const auto kept = find("écoute");
    ASSERT_EQ(kept.size(), 1);
    EXPECT_EQ(kept[0].time, std::optional<double>(2.0));

    // Transcribed again: the new text and its times replace the old.
    updateSettings([](ParlivoSettings &s) { s.correctionEnabled = false; });
    hear(R"([{"text": " Rien à signaler.", "from": 0, "to": 1000},
             {"text": " La récréation commence.", "from": 1000, "to": 4000}])");
    engine->transcribeSelection({entryNamed("cours.m4a").id});
    ASSERT_TRUE(runTask(engine->waitForRun()));
    EXPECT_TRUE(find("élève").isEmpty());
    const auto again = find("recreation");
    ASSERT_EQ(again.size(), 1);
    EXPECT_EQ(again[0].time, std::optional<double>(1.0));
}

TEST_F(LibraryWiring, AMissingOrDamagedIndexIsRebuiltFromTheTranscriptsWithoutTimes) {
    record("cours");
    ASSERT_TRUE(runQueue());
    engine->saveNow(); // the source folder, for the rebuild to find the transcripts
    for (const QByteArray &damage : {QByteArray(), QByteArray("ceci n'est pas une base", 23)}) {
        engine.reset();
        for (const char *suffix : {"", "-wal", "-shm"}) QFile::remove(indexFile() + suffix);
        if (!damage.isEmpty()) writeFile(indexFile(), damage + QByteArray(20000, 'x'));
        relaunch();
        const auto hits = find("leçon");
        ASSERT_EQ(hits.size(), 1) << damage.size();
        EXPECT_EQ(hits[0].transcriptPath, src + "/cours.md");
        // The transcript holds no times: the recogniser's are lost with the index.
        EXPECT_EQ(hits[0].time, std::nullopt);
        EXPECT_EQ(hits[0].passage.marked(), "Bonjour à tous. L'élève écoute la «leçon».");
    }
}

TEST_F(LibraryWiring, TheReaderGetsAMemoFromTheIndexOrElseFromItsFileAndADeletedOneIsGone) {
    record("cours");
    record("visite");
    ASSERT_TRUE(runQueue());
    // The queue names the .txt; the memo is the .md written with it, with its times.
    const auto indexed = runTaskFor(engine->libraryMemo(src + "/cours.txt"));
    ASSERT_TRUE(indexed && *indexed);
    EXPECT_EQ((*indexed)->transcriptPath, src + "/cours.md");
    EXPECT_EQ((*indexed)->audioPath, src + "/cours.m4a");
    EXPECT_EQ((*indexed)->segments,
              (QList<Segment>{{0, 2, " Bonjour à tous."}, {2, 5.5, " L'élève écoute la leçon."}}));

    // Written by hand: not in the index, read from the file without times.
    writeFile(src + "/dicte.txt", "Mémo vocal du 5 décembre 2026 à 14h07\nSource : dicte.m4a\n" +
                                      QByteArray(56, '=') + "\n\nUne note dictée.\n");
    const auto unindexed = runTaskFor(engine->libraryMemo(src + "/dicte.txt"));
    ASSERT_TRUE(unindexed && *unindexed);
    EXPECT_EQ((*unindexed)->text, "Une note dictée.");
    EXPECT_TRUE((*unindexed)->segments.isEmpty());

    // Deleted on disk: no longer found nor kept.
    ASSERT_EQ(find("élève").size(), 2);
    ASSERT_TRUE(QFile::remove(src + "/cours.md") && QFile::remove(src + "/cours.txt"));
    const auto hits = find("élève");
    ASSERT_EQ(hits.size(), 1);
    EXPECT_EQ(hits[0].transcriptPath, src + "/visite.md");
    MemoLibrary index(home.supportDir());
    EXPECT_EQ(index.memo(src + "/cours.md"), std::nullopt);
    EXPECT_NE(index.memo(src + "/visite.md"), std::nullopt);
    const auto gone = runTaskFor(engine->libraryMemo(src + "/cours.md"));
    ASSERT_TRUE(gone);
    EXPECT_EQ(*gone, std::nullopt);
}

} // namespace
