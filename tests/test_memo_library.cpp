// The memo library: its index, the search, the rebuild from the files, and
// what the reader shows of a memo; the library the engine keeps as
// transcripts are written, corrected, written again and deleted (real
// ffmpeg, the stand-in recogniser and language-model server); and
// parlivo-cli search.
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>

#include "core/background.h"
#include "library/hit_segment.h"
#include "library/library.h"
#include "library/library_memo.h"
#include "library/library_transcripts.h"
#include "library/memo_library.h"
#include "library/memo_reading.h"
#include "library/search_query.h"
#include "pipeline/transcript_files.h"
#include "support/cli_fixture.h"
#include "support/correction_test_support.h"

using namespace testing_support;

namespace {

LibraryMemo memo(const QString &name, const QString &text, QList<Segment> segments = {}) {
    return {"/notes/" + name + ".txt", "/voix/" + name + ".m4a", local(2026, 3, 14, 9, 30), text, segments};
}

QStringList paths(const QList<SearchHit> &hits) {
    QStringList out;
    for (const SearchHit &hit : hits) out.append(hit.transcriptPath);
    return out;
}

QList<SearchHit> find(MemoLibrary &library, const QString &input) {
    const auto found = library.search(parseSearchQuery(input));
    EXPECT_EQ(found.error, std::nullopt) << input.toStdString();
    return found.hits;
}

// Runs one statement on the library file in `folder`; the first column of its first row.
int sql(const QString &folder, const QString &statement) {
    int value = -1;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "by-hand");
        db.setDatabaseName(folder + "/" + MemoLibrary::fileName());
        EXPECT_TRUE(db.open());
        QSqlQuery query(db);
        EXPECT_TRUE(query.exec(statement)) << statement.toStdString();
        if (query.next()) value = query.value(0).toInt();
    }
    QSqlDatabase::removeDatabase("by-hand");
    return value;
}

class MemoLibraryTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    MemoLibrary library{dir.path()};
};

TEST_F(MemoLibraryTest, PutReplaceAndRemoveByTranscriptPath) {
    EXPECT_TRUE(library.takeRebuildRequest()); // a new file is empty
    EXPECT_FALSE(library.takeRebuildRequest());
    const QList<Segment> segments{{0, 2.5, " Bonjour."}, {2.5, 6, " On range la cave."}};
    ASSERT_EQ(library.put(memo("cave", "Bonjour.\nOn range la cave.", segments)), std::nullopt);
    ASSERT_EQ(library.put(memo("jardin", "Tailler les rosiers.")), std::nullopt);

    const auto stored = library.memo("/notes/cave.txt");
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->audioPath, "/voix/cave.m4a");
    EXPECT_EQ(stored->date, local(2026, 3, 14, 9, 30));
    EXPECT_EQ(stored->text, "Bonjour.\nOn range la cave.");
    EXPECT_EQ(stored->segments, segments);

    // Corrected: same transcript, new text; the old words are gone.
    LibraryMemo corrected = memo("cave", "Bonjour. On range le grenier.");
    corrected.date.reset();
    ASSERT_EQ(library.put(corrected), std::nullopt);
    EXPECT_EQ(paths(find(library, "cave")), QStringList{});
    EXPECT_EQ(paths(find(library, "grenier")), QStringList{"/notes/cave.txt"});
    EXPECT_EQ(library.memo("/notes/cave.txt")->segments, QList<Segment>{});
    EXPECT_EQ(library.memo("/notes/cave.txt")->date, std::nullopt);

    ASSERT_EQ(library.remove("/notes/cave.txt"), std::nullopt);
    EXPECT_EQ(library.memo("/notes/cave.txt"), std::nullopt);
    EXPECT_EQ(paths(find(library, "grenier")), QStringList{});
    EXPECT_EQ(paths(find(library, "rosiers")), QStringList{"/notes/jardin.txt"});
    EXPECT_EQ(library.remove("/notes/absent.txt"), std::nullopt);

    // A removed memo's segments go with it: none is left behind in the file.
    ASSERT_EQ(library.put(memo("cave", "Bonjour.\nOn range la cave.", segments)), std::nullopt);
    ASSERT_EQ(library.remove("/notes/cave.txt"), std::nullopt);
    EXPECT_EQ(sql(dir.path(), "SELECT count(*) FROM segments"), 0);
}

TEST_F(MemoLibraryTest, SearchFoldsAccentsAndCaseAndMarksTheWords) {
    ASSERT_EQ(library.put(memo("classe", "Chaque élève a rendu son devoir.\tL'ÉLÈVE\nsuivant attend.")), std::nullopt);
    ASSERT_EQ(library.put(memo("autre", "Rien à voir ici.")), std::nullopt);

    const auto hits = find(library, "ELEVE");
    ASSERT_EQ(hits.size(), 1);
    EXPECT_EQ(hits[0].transcriptPath, "/notes/classe.txt");
    EXPECT_EQ(hits[0].audioPath, "/voix/classe.m4a");
    EXPECT_EQ(hits[0].date, local(2026, 3, 14, 9, 30));
    // One line: the tab and the line break are spaces.
    EXPECT_EQ(hits[0].passage.marked(), "Chaque «élève» a rendu son devoir. L'«ÉLÈVE» suivant attend.");
    EXPECT_EQ(hits[0].passage.marks, (QList<MarkedRange>{{7, 5}, {35, 5}}));
    EXPECT_EQ(hits[0].time, std::nullopt); // no segments, no time

    EXPECT_EQ(paths(find(library, "élève devoir")), QStringList{"/notes/classe.txt"});
    EXPECT_EQ(paths(find(library, "élève absent")), QStringList{}); // every word must be there
    EXPECT_EQ(paths(find(library, "")), QStringList{});
}

TEST_F(MemoLibraryTest, QuotedPhrasesAndTheExactPhraseRankFirst) {
    // Short and full of both words, never side by side: relevance alone
    // would rank it first.
    ASSERT_EQ(library.put(memo("scattered", "Rendez le dossier. Vous aussi. Rendez la clé, puis vous partez.")),
              std::nullopt);
    ASSERT_EQ(library.put(memo("exact", "Ce matin j'ai relu les notes de la semaine, trié les factures, appelé la "
                                        "banque et fixé le rendez vous chez le dentiste pour jeudi prochain.")),
              std::nullopt);
    ASSERT_EQ(library.put(memo("reversed", "Vous rendez les livres lundi.")), std::nullopt);

    const auto hits = find(library, "Rendez VOUS");
    ASSERT_EQ(hits.size(), 3);
    EXPECT_EQ(hits[0].transcriptPath, "/notes/exact.txt");
    EXPECT_TRUE(hits[0].passage.marked().contains("le «rendez vous» chez")) << hits[0].passage.marked().toStdString();

    EXPECT_EQ(paths(find(library, "\"vous rendez\"")), QStringList{"/notes/reversed.txt"});
    EXPECT_EQ(paths(find(library, "dentiste \"rendez vous\"")), QStringList{"/notes/exact.txt"});
    EXPECT_EQ(paths(find(library, "\"rendez vous")), QStringList{"/notes/exact.txt"}); // never closed
}

TEST_F(MemoLibraryTest, InputWithQueryOperatorsIsOnlyWordsToFind) {
    ASSERT_EQ(library.put(memo("ops", "Le budget NEAR la porte, AND OR NOT text: le plus-value (fin).")), std::nullopt);
    // Each is a search for words of the memo, whatever the signs around them.
    const QStringList found{"budget*", "-budget", "^budget", "+budget", "\"budget", "budget\"", "(budget",
                            "budget)", "budget'", "text:", "NEAR", "AND OR NOT", "budget NEAR la", "plus-value"};
    for (const QString &input : found)
        EXPECT_EQ(paths(find(library, input)), QStringList{"/notes/ops.txt"}) << input.toStdString();
    // Words the memo does not hold in that order, or no word at all: no hit, and no error (find checks).
    const QStringList nothing{"\"", "\"\"", "*", "-", "()", "'", ":", "«»", QString(QChar(0)), "text:budget",
                              "{text}:budget", "near(budget", "NEAR(budget, 2)", "budget NEAR/2 porte",
                              "bu\\dget", "bud\"get", QStringLiteral("bud") + QChar(0) + "get"};
    for (const QString &input : nothing) EXPECT_EQ(paths(find(library, input)), QStringList{}) << input.toStdString();
}

TEST_F(MemoLibraryTest, HitsGiveTheStartOfTheSegmentTheWordsWereSaidIn) {
    const QList<Segment> segments{{0, 3, " Bonjour à tous."},
                                  {3, 7.5, " Premier point, le budget."},
                                  {7.5, 12, " Deuxième point, les congés."},
                                  {12, 15, " Merci."}};
    ASSERT_EQ(library.put(memo("reunion", "Bonjour à tous.\nPremier point, le budget.\nDeuxième point, les "
                                          "congés.\nMerci.", segments)),
              std::nullopt);
    EXPECT_EQ(find(library, "deuxieme")[0].time, 7.5);
    EXPECT_EQ(find(library, "MERCI")[0].time, 12);
    EXPECT_EQ(find(library, "\"point les conges\"")[0].time, 7.5);
    EXPECT_EQ(find(library, "bonjour")[0].time, 0);

    const auto stored = library.memo("/notes/reunion.txt");
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->segments, segments);
}

TEST(HitSegment, FindsTheOccurrenceThePassageShowsOrWhatIsLeftOfTheRecognisersWords) {
    // "budget" is said twice; the passage shows the second one.
    const QString text = "Le budget d'abord. Ensuite un long détour par les congés, les horaires, la cantine, "
                         "le parking et les travaux. Enfin le budget final.";
    const QList<Segment> segments{{0, 2, " Le budget d'abord."},
                                  {2, 9, " Ensuite un long détour par les congés, les horaires,"},
                                  {9, 14, " la cantine, le parking et les travaux."},
                                  {14, 16, " Enfin le budget final."}};
    const Passage second{"… les travaux. Enfin le budget final.", {{24, 6}}};
    EXPECT_EQ(segmentUnderHit(text, second, segments), 3);
    const Passage first{"Le budget d'abord. Ensuite un long", {{3, 6}}};
    EXPECT_EQ(segmentUnderHit(text, first, segments), 0);

    // A corrected text finds what is left of the recogniser's words.
    const QString corrected = "Nous avons parlé du budget.";
    const QList<Segment> said{{0, 2, " Nous avons parlé,"}, {2, 4, " euh du budjet."}};
    EXPECT_EQ(segmentUnderHit(corrected, {"Nous avons parlé du budget.", {{11, 8}}}, said), 0); // "parlé du"
    EXPECT_EQ(segmentUnderHit(corrected, {"Nous avons parlé du budget.", {{20, 6}}}, said), std::nullopt);
    EXPECT_EQ(foldedWords(u"L'Œuvre d'ÉTÉ, 2 fois"), (QStringList{"l", "œuvre", "d", "ete", "2", "fois"}));
}

TEST(SearchQueryParsing, EveryTermIsQuotedPhrasesStayWholeAndAPassageIsOneLine) {
    const SearchQuery query = parseSearchQuery("  élève \"bonne  note\"\tNEAR(x) * say\"\"s ");
    EXPECT_EQ(query.terms, (QStringList{"élève", "bonne note", "NEAR(x)", "say", "s"}));
    EXPECT_EQ(query.allTermsExpression(), "\"élève\" \"bonne note\" \"NEAR(x)\" \"say\" \"s\"");
    EXPECT_EQ(query.wholePhraseExpression(), "\"élève bonne note NEAR(x) say s\"");
    EXPECT_TRUE(parseSearchQuery(" \" * - ( ").isEmpty());

    // From the shell: an argument holding a space was quoted there.
    EXPECT_EQ(searchQueryFromArguments({"bonne note", "élève", "\"a b\" c"}).terms,
              (QStringList{"bonne note", "élève", "a b", "c"}));

    // A passage is one line with its marked runs.
    const Passage passage = passageFromMarkedText("  un [mot]\t\n [deux  mots]\r\nfin  ", '[', ']');
    EXPECT_EQ(passage.text, "un mot deux mots fin");
    EXPECT_EQ(passage.marks, (QList<MarkedRange>{{3, 3}, {7, 9}}));
    EXPECT_EQ(passage.marked(), "un «mot» «deux mots» fin");
}

QByteArray markdown(const QString &source, const QString &correction, const QString &body) {
    return ("---\nsource: " + source + "\nchemin: /voix/" + source + "\ndate: 5 décembre 2026 à 14h07\nduree: 1:05\n"
            "modele: ggml-base.bin\nlangue: fr\ncorrection: " + correction + "\ntranscrit_le: 6 décembre 2026 à 08:00"
            "\n---\n\n# Mémo vocal du 5 décembre 2026 à 14h07\n\n" + body + "\n")
        .toUtf8();
}

QByteArray plain(const QString &source, const QString &body) {
    return ("Mémo vocal du 1 août 2025 à 00h05  (durée 0:42)\nSource : " + source + "\n" + transcriptRule + "\n\n" + body + "\n")
        .toUtf8();
}

// Transcripts as Parlivo leaves them, with what is not one around them.
void writeTranscripts(const QString &root) {
    writeFile(root + "/a.md", markdown("a.m4a", "aucune", "La chaudière fait du bruit."));
    writeFile(root + "/2026/b.md", markdown("b.m4a", "Ollama (mistral)", "Le plombier passe lundi.\n\n"
                                                                           "## Transcription brute\n\nle plonbier passe"));
    writeFile(root + "/c.txt", plain("c.m4a", "Acheter du pain."));
    writeFile(root + "/c.m4a", "audio");
    writeFile(root + "/d.txt", plain("d.m4a", "[0:00 -> 0:02] Bonjour.\n[0:02 -> 1:05] Le devis est arrivé."));
    writeFile(root + "/e.txt", plain("e.m4a", "Deux fichiers, un mémo."));
    writeFile(root + "/e.md", markdown("e.m4a", "aucune", "Deux fichiers, un mémo."));
    writeFile(root + "/courses.txt", "lait, oeufs, pain\n");
    writeFile(root + "/.cache/f.md", markdown("f.m4a", "aucune", "Caché."));
    writeFile(root + "/Archive/g.md", markdown("g.m4a", "aucune", "Une copie rangée."));
}

TEST(MemoLibraryRebuild, ReadsEveryTranscriptParlivoWroteInTheLayoutTheWriterWrites) {
    QTemporaryDir dir;
    const QString root = dir.filePath("memos");
    writeTranscripts(root);
    QList<LibraryMemo> memos = readTranscriptsUnder({root, root + "/2026"}, root + "/Archive");
    std::sort(memos.begin(), memos.end(), [](auto &x, auto &y) { return x.transcriptPath < y.transcriptPath; });
    ASSERT_EQ(memos.size(), 5);
    const QDateTime december = local(2026, 12, 5, 14, 7);
    EXPECT_EQ(memos[0], (LibraryMemo{root + "/2026/b.md", "/voix/b.m4a", december, "Le plombier passe lundi.", {}}));
    EXPECT_EQ(memos[1], (LibraryMemo{root + "/a.md", "/voix/a.m4a", december, "La chaudière fait du bruit.", {}}));
    EXPECT_EQ(memos[2], (LibraryMemo{root + "/c.txt", root + "/c.m4a", local(2025, 8, 1, 0, 5), "Acheter du pain.", {}}));
    EXPECT_EQ(memos[3], (LibraryMemo{root + "/d.txt", "", local(2025, 8, 1, 0, 5), "Bonjour.\nLe devis est arrivé.",
                                     {{0, 2, "Bonjour."}, {2, 65, "Le devis est arrivé."}}}));
    EXPECT_EQ(memos[4].transcriptPath, root + "/e.md");
}

TEST(MemoLibraryRebuild, OnAWorkerThreadBesideTheOwnersConnection) {
    QTemporaryDir dir;
    const QString root = dir.filePath("memos");
    writeTranscripts(root);
    MemoLibrary library(dir.path());
    ASSERT_TRUE(library.takeRebuildRequest());
    // Indexed before with its times; its text is the file's: the times stay.
    const QList<Segment> spoken{{0, 4, " La chaudière fait du bruit."}};
    ASSERT_EQ(library.put({root + "/a.md", "", std::nullopt, "La chaudière fait du bruit.", spoken}), std::nullopt);
    ASSERT_EQ(library.put({root + "/supprime.txt", "", std::nullopt, "Un mémo effacé depuis.", {}}), std::nullopt);

    const QString folder = dir.path();
    const auto rebuilt = runTaskFor(onWorkerThread(
        [folder, root] { return MemoLibrary::rebuild(folder, {root}, root + "/Archive"); }));
    ASSERT_TRUE(rebuilt);
    EXPECT_EQ(rebuilt->error, std::nullopt);
    EXPECT_EQ(rebuilt->memos, 5);

    EXPECT_EQ(paths(find(library, "effacé")), QStringList{});
    EXPECT_EQ(paths(find(library, "plombier")), QStringList{root + "/2026/b.md"});
    EXPECT_EQ(paths(find(library, "plonbier")), QStringList{}); // the raw section is not the memo's text
    EXPECT_EQ(paths(find(library, "copie")), QStringList{});
    EXPECT_EQ(paths(find(library, "memo fichiers")), QStringList{root + "/e.md"});
    EXPECT_EQ(find(library, "devis")[0].time, 2);
    const auto kept = library.memo(root + "/a.md");
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->segments, spoken);
    EXPECT_EQ(kept->audioPath, "/voix/a.m4a");
    EXPECT_EQ(kept->date, local(2026, 12, 5, 14, 7));

    // The layout the writer writes is read back.
    ParlivoSettings settings;
    settings.timestamps = true;
    const TranscriptInputs inputs{"/voix/20240105 093012.m4a", local(2024, 1, 5, 9, 30), local(2024, 1, 6, 8, 0), 3.0,
                                  {{0, 1.5, " Premier."}, {1.5, 3, " Second."}}, std::nullopt, {}};
    const auto md = memoFromTranscript("/t/x.md", mdContent(inputs, settings));
    ASSERT_TRUE(md);
    EXPECT_EQ(*md, (LibraryMemo{"/t/x.md", "/voix/20240105 093012.m4a", local(2024, 1, 5, 9, 30), "Premier.\nSecond.",
                                {{0, 2, "Premier."}, {2, 3, "Second."}}})); // the file rounds to the second
    const auto txt = memoFromTranscript("/t/x.txt", txtContent(inputs, settings));
    ASSERT_TRUE(txt);
    EXPECT_EQ(txt->date, local(2024, 1, 5, 9, 30));
    EXPECT_EQ(txt->text, "Premier.\nSecond.");
}

// A library of a few memos written to `folder`, then closed.
void fillLibrary(const QString &folder) {
    MemoLibrary library(folder);
    for (int i = 0; i < 200; ++i)
        ASSERT_EQ(library.put(memo(QString::number(i), QString("Mémo numéro %1 sur le budget.").arg(i).repeated(20))),
                  std::nullopt);
}

void expectEmptyAndWorking(MemoLibrary &library) {
    EXPECT_EQ(library.unusable(), std::nullopt);
    EXPECT_EQ(paths(find(library, "budget")), QStringList{});
    ASSERT_EQ(library.put(memo("neuf", "Le budget revu.")), std::nullopt);
    EXPECT_EQ(paths(find(library, "budget")), QStringList{"/notes/neuf.txt"});
}

// A missing file or one of garbage: the engine-level tests (LibraryWiring).
TEST(MemoLibraryRecovery, AnIntactFileIsKeptAndAnOlderLayoutIsRecreatedEmpty) {
    QTemporaryDir dir;
    fillLibrary(dir.path());
    {
        MemoLibrary intact(dir.path());
        EXPECT_FALSE(intact.takeRebuildRequest());
        EXPECT_EQ(find(intact, "numero 7").size(), 1);
    }
    sql(dir.path(), "PRAGMA user_version = 0");
    MemoLibrary library(dir.path());
    EXPECT_TRUE(library.takeRebuildRequest());
    expectEmptyAndWorking(library);
}

TEST(MemoLibraryRecovery, DamageFoundByASearchRecreatesItEmpty) {
    QTemporaryDir dir;
    fillLibrary(dir.path());
    // The first page, with the layout version, stays; the tables behind it are garbage.
    QFile file(dir.filePath(MemoLibrary::fileName()));
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    const QByteArray header = file.read(100);
    const int pageSize = (uchar(header[16]) << 8) | uchar(header[17]); // big-endian, at byte 16 of the header
    const qint64 size = file.size();
    ASSERT_GT(size, 4 * pageSize);
    file.seek(pageSize);
    file.write(QByteArray(size - pageSize, '\x5a'));
    file.close();

    MemoLibrary library(dir.path());
    const auto found = library.search(parseSearchQuery("budget"));
    EXPECT_TRUE(found.hits.isEmpty());
    EXPECT_TRUE(found.error);
    EXPECT_TRUE(library.takeRebuildRequest());
    expectEmptyAndWorking(library);
}

// ---- What the reader shows of a memo and where it lands ----

const QList<Segment> meeting{{0, 3, " Bonjour à tous."},
                             {3, 7.5, " Premier point, le budget."},
                             {9, 12, " Deuxième point, les congés."}};

LibraryMemo memoOf(const QString &text, const QList<Segment> &segments) {
    return {"/notes/reunion.md", "/voix/reunion.m4a", std::nullopt, text, segments};
}

SearchHit hitAt(std::optional<double> time, const Passage &passage) {
    return {"/notes/reunion.md", "/voix/reunion.m4a", std::nullopt, time, passage};
}

TEST(SegmentAtTime, TheLastSegmentStartedAPauseBelongingToTheOneBefore) {
    EXPECT_EQ(segmentAt(meeting, -0.5), std::nullopt);
    EXPECT_EQ(segmentAt(meeting, 0), 0);
    EXPECT_EQ(segmentAt(meeting, 2.99), 0);
    EXPECT_EQ(segmentAt(meeting, 3), 1);
    EXPECT_EQ(segmentAt(meeting, 8), 1); // between 7.5 and 9 nothing is said
    EXPECT_EQ(segmentAt(meeting, 9), 2);
    EXPECT_EQ(segmentAt(meeting, 60), 2);
    EXPECT_EQ(segmentAt({}, 1), std::nullopt);
}

TEST(MemoReadingLayout, TheCorrectedTextIsShownWhenItsWordsDifferAndAHitLandsOnItsSegment) {
    // The recogniser's own words, laid out on lines and without the leading spaces.
    const auto raw = readingOf(memoOf("Bonjour à tous.\nPremier point, le budget.\nDeuxième point, les congés.", meeting));
    EXPECT_EQ(raw.correctedText, "");
    EXPECT_EQ(raw.segments, meeting);
    EXPECT_EQ(raw.hitSegment, std::nullopt);
    EXPECT_EQ(raw.startMs, 0);
    EXPECT_FALSE(wordsDiffer("BONJOUR a tous premier point le budget deuxieme point les conges", meeting));

    const QString corrected = "Bonjour à tous. Premier point : le budget. Second point : les congés.";
    EXPECT_EQ(readingOf(memoOf(corrected, meeting)).correctedText, corrected);

    // Indexed before the times were kept: the text alone.
    const auto untimed = readingOf(memoOf("Bonjour à tous.", {}));
    EXPECT_EQ(untimed.plainText, "Bonjour à tous.");
    EXPECT_EQ(untimed.correctedText, "");
    EXPECT_TRUE(untimed.segments.isEmpty());

    // A hit lands on its segment and plays from its start.
    const QString text = "Bonjour à tous.\nPremier point, le budget.\nDeuxième point, les congés.";
    const auto byTime = readingOf(memoOf(text, meeting), hitAt(9.0, {"… point, les congés.", {{14, 6}}}));
    EXPECT_EQ(byTime.hitSegment, 2);
    EXPECT_EQ(byTime.startMs, 9000);

    // No time with the hit: the passage's words are looked for in the segments.
    const auto byWords = readingOf(memoOf(text, meeting), hitAt(std::nullopt, {"Premier point, le budget.", {{18, 6}}}));
    EXPECT_EQ(byWords.hitSegment, 1);
    EXPECT_EQ(byWords.startMs, 3000);

    // Words the recording never said (a correction reworded them): from the beginning.
    const auto reworded = readingOf(memoOf("Salut la compagnie.", meeting), hitAt(std::nullopt, {"Salut la compagnie.", {{0, 5}}}));
    EXPECT_EQ(reworded.hitSegment, std::nullopt);
    EXPECT_EQ(reworded.startMs, 0);
}

TEST(MemoTranscriptFile, TheMarkdownBesideATextTranscriptHoldsTheMemo) {
    TempHome home;
    const QString txt = home.file("notes/cours.txt"), md = home.file("notes/cours.md");
    writeFile(txt, "texte");
    EXPECT_EQ(memoTranscriptPath(txt), txt);
    writeFile(md, "texte");
    EXPECT_EQ(memoTranscriptPath(txt), md);
    EXPECT_EQ(memoTranscriptPath(md), md);
}

// ---- The library kept by the engine ----

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
        chooseSource();
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

// ---- parlivo-cli search ----

class CliSearch : public CliFixture {};

TEST_F(CliSearch, PrintsALinePerHitTakesAPhraseRefusesNoWordsAndRebuildsADeletedIndex) {
    makeAudio(src + "/20240105 093012.m4a", 1.2);
    ASSERT_EQ(cli({"run", src}, {"FAKE_WHISPER_SEGMENTS=" + QString(lesson)}).code, 0);
    const QString memo = src + "/20240105 093012.txt";

    // One tab-separated line per hit, the words marked.
    const CliResult found = cli({"search", "ELEVE"});
    EXPECT_EQ(found.code, 0) << found.err.toStdString();
    EXPECT_EQ(found.out, "2024-01-05 09:30\t0:02\t" + memo + "\tBonjour à tous. L'«élève» écoute la leçon.\n");

    // An argument with a space is a phrase; nothing found exits with one.
    EXPECT_EQ(cli({"search", "écoute la"}).out,
              "2024-01-05 09:30\t0:02\t" + memo + "\tBonjour à tous. L'élève «écoute la» leçon.\n");
    const CliResult reversed = cli({"search", "la écoute"});
    EXPECT_EQ(reversed.code, 1);
    EXPECT_EQ(reversed.out, "");
    EXPECT_EQ(cli({"search", "la", "écoute"}).code, 0); // two words, anywhere

    for (const QStringList &args : {QStringList{"search"}, QStringList{"search", "?!", "--"}}) {
        const CliResult bad = cli(args);
        EXPECT_EQ(bad.code, 2);
        EXPECT_EQ(bad.err, "Indique les mots à chercher (des lettres ou des chiffres) : parlivo-cli search MOTS…\n");
    }

    // A deleted index is rebuilt from the transcript, which holds no times;
    // the transcripts stay the truth.
    ASSERT_TRUE(QFile::remove(home.supportDir() + "/library.sqlite"));
    EXPECT_EQ(cli({"search", "bonjour"}).out,
              "2024-01-05 09:30\t-\t" + memo + "\t«Bonjour» à tous. L'élève écoute la leçon.\n");
    ASSERT_TRUE(QFile::remove(memo));
    EXPECT_EQ(cli({"search", "bonjour"}).code, 1);
}

} // namespace
