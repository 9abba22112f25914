// The correction pass: which transcripts count as raw, how one is rewritten,
// and the pass over the output root against the stand-in server, also sent
// nowhere or cancelled mid-request: nothing is lost or labelled wrongly.
#include <QElapsedTimer>
#include <QSignalSpy>

#include "core/folders.h"
#include "correction/raw_transcripts.h"
#include "support/correction_test_support.h"

using namespace testing_support;
using namespace std::chrono_literals;

namespace {

QString withMarker(const QString &marker) {
    return "---\nsource: a.m4a\n" + marker + "\n---\n\n# Mémo\n\nTexte.\n";
}

TEST(RawTranscripts, OnlyALineSayingExactlyAucuneMarksARawTranscriptWhoseBodyIsTheTextUnderTheHeading) {
    EXPECT_TRUE(isRawTranscript(withMarker("correction:   aucune  ")));
    for (const char *other : {"correction: Ollama (local) (qwen2.5:7b)", "Correction: aucune", "correction: aucune retouche",
                              "Le mot correction: aucune au milieu d'une phrase."})
        EXPECT_FALSE(isRawTranscript(withMarker(other))) << other;

    // The body is the text under the heading, without an earlier raw section.
    EXPECT_EQ(correctionBody("---\ncorrection: aucune\n---\n\n# Mémo vocal\n\n  Le texte corrigé.\n\n"
                             "## Transcription brute\n\nle texte brut\n"),
              "Le texte corrigé.");
    for (const char *unusable : {"correction: aucune\nPas de titre ici.\n", "# Titre\n\n  \n## Transcription brute\n\nbrut\n",
                                 "# Titre sans retour à la ligne"})
        EXPECT_EQ(correctionBody(unusable), std::nullopt) << unusable;
}

TEST(RawTranscripts, TheRewriteNamesTheModelKeepsExactlyOneRawSectionAndThePlainTextsHeader) {
    ParlivoSettings settings;
    EXPECT_EQ(passCorrectionLabel(settings), "Ollama (qwen2.5:7b)");
    settings.correctionBackend = CorrectionBackend::anthropic;
    EXPECT_EQ(passCorrectionLabel(settings), "Anthropic (claude-haiku-4-5-20251001)");

    // The label is taken literally, never as a replacement pattern.
    EXPECT_EQ(correctedMarkdown("---\ncorrection: aucune\n---\n\n# Mémo vocal\n\nvieux texte\n\n"
                                "## Transcription brute\n\nle brut\n",
                                "Ollama (qwen$1:\\1)", "le brut", "Le texte propre."),
              "---\ncorrection: Ollama (qwen$1:\\1)\n---\n\n# Mémo vocal\n\nLe texte propre.\n\n"
              "## Transcription brute\n\nle brut\n");

    // Without a heading only the marker changes.
    EXPECT_EQ(correctedMarkdown("correction: aucune\ntexte\n", "Ollama (m)", "texte", "Texte."),
              "correction: Ollama (m)\ntexte\n");

    // The plain text keeps its header and takes the corrected text alone.
    const QString header = "Mémo vocal du 5 décembre 2026 à 14h07\nSource : a.m4a\n" + QString(56, '=') + "\n\n";
    EXPECT_EQ(correctedPlainText(header + "texte brut\n", "Texte propre."), header + "Texte propre.\n");
    EXPECT_EQ(correctedPlainText("=== trop court\n\ntexte brut\n", "Texte propre."), "Texte propre.\n");
}

TEST(RawTranscripts, TheWalkFindsRawMarkdownOnlyShortestFirstAndSkipsHiddenItems) {
    TempHome home;
    const QString root = home.file("out");
    const QString longest = writeRawTranscript(root, "b", dictation("B", 500));
    const QString shortest = writeRawTranscript(root + "/2024", "a", dictation("A", 40));
    const QString middle = writeRawTranscript(root + "/2025/mars", "c", dictation("C", 200));
    writeRawTranscript(root + "/.cache", "d", dictation("D", 10));
    writeRawTranscript(root, ".e", dictation("E", 10));
    writeFile(root + "/f.md", withMarker("correction: Ollama (local) (qwen2.5:7b)").toUtf8());
    writeFile(root + "/g.txt", withMarker("correction: aucune").toUtf8());
    writeFile(root + "/h.MD", withMarker("correction: aucune").toUtf8() + QByteArray(2000, 'x'));
    writeFile(root + "/i.md", QByteArray("correction: aucune\n\xff\xfe broken"));

    EXPECT_EQ(rawTranscripts(root), (QStringList{shortest, middle, longest, root + "/h.MD"}));
    EXPECT_TRUE(rawTranscripts(home.file("nowhere")).isEmpty());
}

class CorrectionPass : public CorrectionFixture {
protected:
    // What the window does once it is up; the monitor is not under test here.
    void launchWork() {
        engine->startBackgroundWork();
        engine->stopOllamaMonitor();
        ASSERT_TRUE(spinUntil([&] { return engine->didConsiderAutoCorrect(); }));
    }
    bool runPass() {
        engine->startCorrectionPass();
        return runTask(engine->waitForCorrectionPass(), 20000);
    }
    QStringList sentTexts() const {
        QStringList texts;
        for (const FakeRequest &r : server.requests(FakeLlmServer::chatPath)) texts << r.userMessage();
        return texts;
    }
    static int storedJobTotal() { return folders::preferences()->value("correctionJobTotal", -1).toInt(); }
};

TEST_F(CorrectionPass, CorrectsShortestFirstAndRewritesBothFilesButNotTheArchiveCopies) {
    writeRawTranscript(out, "a", dictation("A", 500));
    const QString b = writeRawTranscript(out + "/sous", "b", dictation("B", 40));
    writeRawTranscript(out, "c", dictation("C", 200));
    // The organized archive's copies are left alone.
    const QString copy = writeRawTranscript(out + "/Archive organisée/Vie pro/Projet/2026-12-05 14h07 - D", "d",
                                            dictation("D", 60));
    const QByteArray copyBefore = *readWholeFile(copy);
    server.echo([](const QString &text) { return "Voici le texte corrigé :\n\n" + text.toUpper(); });
    int highestJobTotal = 0;
    std::optional<RateEstimate> atFirstFile;
    QObject::connect(engine.get(), &Transcriber::correctionChanged, [&] {
        highestJobTotal = std::max(highestJobTotal, engine->correctionJobTotal());
        if (engine->correctionPassDone() == 1 && !atFirstFile && engine->correctionStartedAt())
            atFirstFile = engine->correctionLiveStats(engine->correctionStartedAt()->addSecs(30));
    });
    EXPECT_FALSE(engine->correctionLiveStats().eta);
    QSignalSpy notified(engine.get(), &Transcriber::notificationPosted);

    ASSERT_TRUE(runPass());
    ASSERT_GE(notified.size(), 1);
    EXPECT_EQ(notified[0][0].toString(), "Correction terminée");
    EXPECT_EQ(notified[0][1].toString(), "3 transcription(s) corrigée(s) par l'IA.");
    EXPECT_EQ(sentTexts(), (QStringList{dictation("B", 40), dictation("C", 200), dictation("A", 500)}));
    EXPECT_EQ(engine->correctionPassDone(), 3);
    EXPECT_FALSE(engine->correctionPassActive() || engine->correctionStartedAt() || engine->correctionPassCurrent());
    EXPECT_TRUE(logHas("Correction IA de 3 transcription(s) brute(s)…"));
    EXPECT_TRUE(logHas("Correction IA terminée : 3/3."));

    const QString md = readText(b);
    EXPECT_TRUE(md.contains("\ncorrection: Ollama (qwen2.5:7b)\n"));
    EXPECT_TRUE(md.endsWith("14h07\n\n" + dictation("B", 40).toUpper() + "\n\n## Transcription brute\n\n" +
                            dictation("B", 40) + "\n"));
    const QString txt = readText(out + "/sous/b.txt");
    EXPECT_TRUE(txt.startsWith("Mémo vocal du 5 décembre 2026 à 14h07  (durée 0:05)\nSource : b.m4a\n"));
    EXPECT_TRUE(txt.endsWith("=\n\n" + dictation("B", 40).toUpper() + "\n"));
    EXPECT_EQ(rawTranscripts(out), QStringList{copy});
    EXPECT_EQ(*readWholeFile(copy), copyBefore);
    EXPECT_TRUE(spinUntil([&] { return engine->rawCount() == 0; }));

    // The high-water mark rose to the pass total and went back to 0, stored.
    EXPECT_EQ(highestJobTotal, 3);
    EXPECT_EQ(engine->correctionJobTotal(), 0);
    EXPECT_EQ(storedJobTotal(), 0);

    // Live figures followed the files done: one file in 30 s, two left.
    ASSERT_TRUE(atFirstFile && atFirstFile->eta);
    EXPECT_DOUBLE_EQ(atFirstFile->ratePerMin, 2.0);
    EXPECT_DOUBLE_EQ(*atFirstFile->eta, 60.0);
    EXPECT_EQ(engine->correctionLiveStats().ratePerMin, 0); // the pass is over
}

TEST_F(CorrectionPass, AFileThatFailsIsRetriedInTheNextCycleWhileEachCycleFixesOne) {
    writeRawTranscript(out, "a", dictation("A", 40));
    writeRawTranscript(out, "b", dictation("B", 80));
    server.enqueue(FakeReply::error(500, "surcharge"));
    ASSERT_TRUE(runPass());
    EXPECT_TRUE(logHas("Correction échouée : a.md"));
    EXPECT_TRUE(logHas("Nouveau tour : 1 transcription(s) brute(s) restante(s)."));
    EXPECT_TRUE(logHas("Correction IA terminée : 2/2."));
    EXPECT_EQ(engine->correctionPassTotal(), 3);
    EXPECT_TRUE(rawTranscripts(out).isEmpty());
}

TEST_F(CorrectionPass, ACycleWhereEverythingFailsEndsThePassAndLeavesTheFilesRaw) {
    const QString a = writeRawTranscript(out, "a", dictation("A", 40));
    writeRawTranscript(out, "b", dictation("B", 80));
    // Unusable files count as attempted, without a request.
    writeFile(out + "/sans-titre.md", "---\ncorrection: aucune\n---\n\nPas de titre.\n");
    writeFile(out + "/vide.md", "---\ncorrection: aucune\n---\n\n# Mémo\n\n   \n");
    const QString before = readText(a);
    server.failWith(500, "panne");
    ASSERT_TRUE(runPass());
    EXPECT_EQ(engine->correctionPassDone(), 4);
    EXPECT_EQ(engine->correctionPassTotal(), 4);
    EXPECT_EQ(server.count(FakeLlmServer::chatPath), 2);
    EXPECT_TRUE(logHas("Correction IA terminée : 0/4."));
    EXPECT_EQ(readText(a), before);
    // Files are left raw: the high-water mark stays for the window.
    EXPECT_EQ(engine->correctionJobTotal(), 4);
    EXPECT_EQ(storedJobTotal(), 4);
    EXPECT_TRUE(spinUntil([&] { return engine->rawCount() == 4; }));
}

TEST_F(CorrectionPass, EarlyExitsLogWhyAndLeaveThePassIdle) {
    // Nothing raw: the stored high-water mark is cleared.
    folders::preferences()->setValue("correctionJobTotal", 7);
    relaunch();
    prepareEngine();
    EXPECT_EQ(engine->correctionJobTotal(), 7);
    ASSERT_TRUE(runPass());
    EXPECT_TRUE(logHas("Aucune transcription brute à corriger."));
    EXPECT_EQ(storedJobTotal(), 0);

    // The server down and nothing to start: files untouched.
    const QString a = writeRawTranscript(out, "a", dictation("A", 40));
    server.stop();
    ASSERT_TRUE(runPass());
    EXPECT_TRUE(logHas("Ollama injoignable, démarrage automatique…"));
    EXPECT_TRUE(logHas("Ollama indisponible : correction impossible."));
    EXPECT_EQ(engine->lastCorrectionPassEnd(), Transcriber::CorrectionPassEnd::backendUnavailable);
    EXPECT_TRUE(isRawTranscript(readText(a)));
    server.resume();

    // No output root.
    updateSettings([](ParlivoSettings &s) { s.destinationMode = DestinationMode::besideSource; });
    ASSERT_TRUE(runPass());
    EXPECT_TRUE(logHas("Dossier de sortie inconnu."));
    engine->refreshRawCount();
    EXPECT_EQ(engine->rawCount(), 0);
}

TEST_F(CorrectionPass, TheCountAtLaunchStartsThePassOnce) {
    writeRawTranscript(out, "a", dictation("A", 40));
    writeRawTranscript(out, "b", dictation("B", 60));
    engine->refreshRawCount(); // an ordinary count only counts
    EXPECT_EQ(engine->rawCount(), 0); // counted off the main thread: not yet
    ASSERT_TRUE(spinUntil([&] { return engine->rawCount() == 2; }));
    spin(50);
    EXPECT_FALSE(engine->correctionPassActive());

    launchWork();
    EXPECT_TRUE(engine->correctionPassActive());
    ASSERT_TRUE(runTask(engine->waitForCorrectionPass()));
    EXPECT_EQ(server.count(FakeLlmServer::chatPath), 2);
    EXPECT_TRUE(spinUntil([&] { return engine->rawCount() == 0; }));

    // Later counts only count.
    writeRawTranscript(out, "c", dictation("C", 60));
    engine->refreshRawCount();
    ASSERT_TRUE(spinUntil([&] { return engine->rawCount() == 1; }));
    spin(100);
    EXPECT_FALSE(engine->correctionPassActive());
    EXPECT_EQ(server.count(FakeLlmServer::chatPath), 2);
}

TEST_F(CorrectionPass, TheCountAtLaunchStartsNothingWithAnotherBackend) {
    writeRawTranscript(out, "a", dictation("A", 40));
    updateSettings([](ParlivoSettings &s) { s.correctionBackend = CorrectionBackend::anthropic; });
    launchWork();
    EXPECT_EQ(engine->rawCount(), 1);
    spin(100);
    EXPECT_FALSE(engine->correctionPassActive());
    EXPECT_EQ(server.count(FakeLlmServer::chatPath), 0);
}

TEST_F(CorrectionPass, ServiceNoneStartsNoPassAndLabelsNothing) {
    updateSettings([](ParlivoSettings &s) {
        s.correctionBackend = CorrectionBackend::none;
        s.outputFormat = OutputFormat::md;
    });
    makeAudio(src + "/a.m4a", 1.2);
    engine->setSourceFolder(QUrl::fromLocalFile(src));
    ASSERT_TRUE(runQueue());
    ASSERT_EQ(engine->doneCount(), 1);
    spin(200); // whatever the end of the run would start
    EXPECT_FALSE(engine->correctionPassActive());
    EXPECT_FALSE(logHas("Correction IA"));

    engine->startCorrectionPass(); // asked for by hand
    EXPECT_FALSE(engine->correctionPassActive());
    EXPECT_TRUE(logHas("Aucun service de correction choisi : les transcriptions restent brutes."));
    EXPECT_EQ(engine->lastCorrectionPassEnd(), Transcriber::CorrectionPassEnd::noService);
    const QString md = readText(out + "/a.md");
    EXPECT_TRUE(md.contains("\ncorrection: aucune\n")) << md.toStdString();
    EXPECT_EQ(md.count("## Transcription brute"), 0);
    EXPECT_EQ(server.count(FakeLlmServer::chatPath), 0);
}

TEST_F(CorrectionPass, CancelCutsTheRequestInFlightOrStopsBetweenTwoFilesAndLeavesTheRestRaw) {
    const QString memo = writeRawTranscript(out, "a", dictation("A", 60));
    const QByteArray before = *readWholeFile(memo);
    server.enqueue(FakeReply::answer("Trop tard.").delayed(20000));

    engine->startCorrectionPass();
    ASSERT_TRUE(spinUntil([&] { return server.count(FakeLlmServer::chatPath) == 1; }));
    QElapsedTimer sinceCancel;
    sinceCancel.start();
    engine->cancelCorrectionPass();
    ASSERT_TRUE(runTask(engine->waitForCorrectionPass(), 5000)) << "the pass waited for the model";
    EXPECT_LT(sinceCancel.elapsed(), 2000);
    EXPECT_EQ(engine->lastCorrectionPassEnd(), Transcriber::CorrectionPassEnd::cancelled);
    EXPECT_EQ(engine->correctionPassDone(), 0);
    EXPECT_FALSE(logHas("Correction échouée"));
    EXPECT_TRUE(logHas("Correction IA terminée : 0/1."));
    EXPECT_EQ(*readWholeFile(memo), before);
    EXPECT_TRUE(spinUntil([&] { return engine->rawCount() == 1; }));

    // Cancelled between two files, the pass stops without notice.
    for (const char *name : {"b", "c"}) writeRawTranscript(out, name, dictation(name, 60));
    server.setDelay(50);
    QObject::connect(engine.get(), &Transcriber::correctionChanged, [&] {
        if (engine->correctionPassDone() == 1) engine->cancelCorrectionPass();
    });
    ASSERT_TRUE(runPass());
    EXPECT_EQ(engine->correctionPassDone(), 1);
    EXPECT_EQ(engine->lastCorrectionPassEnd(), Transcriber::CorrectionPassEnd::cancelled);
    EXPECT_TRUE(logHas("Correction IA terminée : 1/3."));
    EXPECT_EQ(rawTranscripts(out).size(), 2);
}

} // namespace
