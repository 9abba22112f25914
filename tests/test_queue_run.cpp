// Whole batches through the engine: real ffmpeg, the stand-in recogniser,
// real files. What a user sees after pressing start.
#include <QFileInfo>
#include <QSignalSpy>

#include <thread>

#include "core/atomic_file.h"
#include "pipeline/pipeline_rules.h"
#include "pipeline/process_runner.h"
#include "support/engine_fixture.h"
#include "support/fake_llm_server.h"

using namespace testing_support;

namespace {

class QueueRun : public EngineFixture {
protected:
    QString transcriptOf(const QString &relativeAudio) const {
        const QFileInfo audio(src + "/" + relativeAudio);
        return audio.absolutePath() + "/" + audio.completeBaseName() + ".txt";
    }
    QString lastLog() const { return engine->logLines().last(); }
};

TEST_F(QueueRun, NestedFolderWithOddNamesIsTranscribedOnceAndRemembered) {
    const QStringList names = {"a b.m4a", "sous/été 2024.mp3", "sous/deep/it's \"q\".wav", "-x.m4a", "a\"b$(c).m4a"};
    for (const QString &n : names) makeAudio(src + "/" + n, 1.5);
    chooseSource();
    QSignalSpy notified(engine.get(), &Transcriber::notificationPosted);
    ASSERT_TRUE(runQueue());
    ASSERT_EQ(notified.size(), 1);
    EXPECT_EQ(notified[0][0].toString(), "Parlivo");
    EXPECT_EQ(notified[0][1].toString(), "Lot terminé : 5 transcrits, 0 sautés, 0 en erreur.");
    EXPECT_EQ(engine->doneCount(), names.size());
    for (const QString &n : names) {
        const auto text = readWholeFile(transcriptOf(n));
        ASSERT_TRUE(text) << n.toStdString();
        EXPECT_TRUE(text->contains("Source : " + QFileInfo(n).fileName().toUtf8()));
        EXPECT_TRUE(text->endsWith("Bonjour.\nCeci est un test.\n"));
        EXPECT_EQ(entryNamed(QFileInfo(n).fileName()).outputPath, transcriptOf(n));
        EXPECT_EQ(engine->ledger().at(src + "/" + n).status, "done");
    }
    EXPECT_TRUE(lastLog().endsWith("Lot terminé : 5 transcrits, 0 sautés, 0 en erreur."));
    EXPECT_TRUE(scratchFiles().isEmpty());
    const int calls = recogniserCalls(), probes = probeCalls();
    EXPECT_EQ(calls, 5);

    // After a restart the history restores everything: nothing to do.
    relaunch();
    chooseSource();
    EXPECT_EQ(engine->doneCount(), 5);
    engine->start();
    EXPECT_FALSE(engine->isRunning());
    EXPECT_TRUE(lastLog().endsWith("Rien à transcrire : aucun fichier en attente."));

    // Requeued by hand but unchanged on disk: settled from the history without probing.
    Transcriber::IdSet all;
    for (const auto &f : engine->files()) all.insert(f.id);
    engine->retry(all);
    ASSERT_TRUE(runQueue());
    EXPECT_EQ(engine->skippedCount(), 5);
    EXPECT_EQ(recogniserCalls(), calls);
    EXPECT_EQ(probeCalls(), probes);

    // A file changed on disk is transcribed again.
    makeAudio(src + "/a b.m4a", 2.5);
    engine->rescan();
    EXPECT_EQ(entryNamed("a b.m4a").status, FileStatus::pending);
    ASSERT_TRUE(runQueue());
    EXPECT_EQ(recogniserCalls(), calls + 1);
    EXPECT_EQ(entryNamed("a b.m4a").status, FileStatus::done);
    EXPECT_TRUE(readWholeFile(transcriptOf("a b.m4a"))->contains("(durée 0:03)"));
}

TEST_F(QueueRun, RecogniserGetsTheExpectedArgumentsCustomDestinationMirrorsTheTreeAndAFoundTranscriptCounts) {
    makeAudio(src + "/2024/janvier/memo.m4a", 1.2);
    const QString out = home.file("out");
    updateSettings([&](ParlivoSettings &s) {
        s.destinationMode = DestinationMode::custom;
        s.customDestination = out;
        s.outputFormat = OutputFormat::both;
        s.language = "fr";
    });
    chooseSource();
    ASSERT_TRUE(runQueue());
    EXPECT_TRUE(QFileInfo::exists(out + "/2024/janvier/memo.txt"));
    EXPECT_FALSE(QFileInfo::exists(src + "/2024/janvier/memo.txt"));
    const QString md = QString::fromUtf8(*readWholeFile(out + "/2024/janvier/memo.md"));
    EXPECT_TRUE(md.contains("\nduree: 0:01\nmodele: ggml-base.bin\nlangue: fr\ncorrection: aucune\n"));
    const Json args = parseJson(readWholeFile(argsLog)->trimmed());
    ASSERT_EQ(args.size(), 16u);
    EXPECT_EQ(QString::fromStdString(args[1]), model);
    EXPECT_EQ(args[3], "fr");
    // Alone, a file gets every core.
    EXPECT_EQ(args[12], std::to_string(std::max(1u, std::thread::hardware_concurrency())));

    // The state is lost (a new machine, a deleted support folder); the
    // transcript is still there: found up to date, it is remembered as done.
    engine->saveNow();
    engine.reset();
    QFile::remove(home.supportDir() + "/ledger.json");
    QFile::remove(home.supportDir() + "/queue.json");
    relaunch();
    chooseSource();
    ASSERT_TRUE(runQueue());
    EXPECT_EQ(entryNamed("memo.m4a").status, FileStatus::skipped);
    EXPECT_EQ(recogniserCalls(), 1);
    ASSERT_TRUE(engine->ledger().count(src + "/2024/janvier/memo.m4a"));
    EXPECT_EQ(engine->ledger().at(src + "/2024/janvier/memo.m4a").status, "done");
    EXPECT_EQ(engine->ledger().at(src + "/2024/janvier/memo.m4a").outputPath, out + "/2024/janvier/memo.txt");
}

// Known empty, a file is not even probed again: retried by hand or after a restart.
TEST_F(QueueRun, TooShortOrEmptyFilesAreEmptyOnceAndForAll) {
    makeAudio(src + "/court.m4a", 0.4);
    writeFile(src + "/vide.m4a", "");
    chooseSource();
    ASSERT_TRUE(runQueue());
    const AudioFile &file = entryNamed("court.m4a");
    EXPECT_EQ(file.status, FileStatus::empty);
    ASSERT_TRUE(file.errorMessage);
    EXPECT_TRUE(file.errorMessage->startsWith("Trop court pour être un vocal (0.4"));
    EXPECT_TRUE(logHas("Vocal vide/illisible ignoré : court.m4a (0.4"));
    EXPECT_EQ(entryNamed("vide.m4a").status, FileStatus::empty);
    EXPECT_EQ(entryNamed("vide.m4a").errorMessage, "Trop court pour être un vocal (0 s). Le fichier est vide ou "
                                                   "l'enregistrement a été interrompu : rien à transcrire.");
    for (const char *name : {"court.m4a", "vide.m4a"}) EXPECT_EQ(engine->ledger().at(src + "/" + name).status, "empty");
    EXPECT_EQ(recogniserCalls(), 0);
    const int probes = probeCalls();

    engine->retry({file.id});
    ASSERT_TRUE(runQueue());
    EXPECT_EQ(entryNamed("court.m4a").status, FileStatus::empty);
    relaunch();
    chooseSource();
    EXPECT_EQ(entryNamed("vide.m4a").status, FileStatus::empty);
    engine->start();
    EXPECT_FALSE(engine->isRunning());
    EXPECT_EQ(probeCalls(), probes);
    EXPECT_EQ(recogniserCalls(), 0);
}

TEST_F(QueueRun, AnUnreadableFileIsRetriedUpToThreeAttemptsThenLeftAside) {
    writeFile(src + "/casse.m4a", "this is not audio at all");
    makeAudio(src + "/bon.m4a", 1.2);
    chooseSource();
    ASSERT_TRUE(runQueue());
    const AudioFile &broken = entryNamed("casse.m4a");
    EXPECT_EQ(broken.status, FileStatus::error);
    ASSERT_TRUE(broken.errorMessage);
    EXPECT_TRUE(broken.errorMessage->startsWith("Échec de la conversion audio (code "));
    EXPECT_GE(broken.errorMessage->count('\n'), 1); // the converter's own last lines follow
    EXPECT_LE(broken.errorMessage->count('\n'), 6);
    EXPECT_TRUE(logHas("Erreur sur casse.m4a : Échec de la conversion audio (code "));
    EXPECT_EQ(engine->ledger().at(src + "/casse.m4a").attempts, 1);

    for (int attempt = 2; attempt <= 3; ++attempt) {
        ASSERT_TRUE(runQueue());
        EXPECT_TRUE(logHas("Réessai automatique de 1 fichier(s) en échec."));
        EXPECT_EQ(engine->ledger().at(src + "/casse.m4a").attempts, attempt);
    }
    engine->start();
    EXPECT_FALSE(engine->isRunning());
    EXPECT_TRUE(logHas("1 fichier(s) en échec répété (3 tentatives) laissé(s) de côté. Clic droit > Remettre en "
                       "attente pour forcer."));
    EXPECT_EQ(entryNamed("casse.m4a").status, FileStatus::error);

    engine->retryAllErrors();
    EXPECT_EQ(engine->ledger().at(src + "/casse.m4a").attempts, 0);
    EXPECT_EQ(entryNamed("casse.m4a").status, FileStatus::pending);
    ASSERT_TRUE(runQueue());
    EXPECT_EQ(engine->ledger().at(src + "/casse.m4a").attempts, 1);
    EXPECT_EQ(engine->doneCount(), 1);
}

TEST_F(QueueRun, CancelReturnsRunningFilesToPendingWithoutATimeOutAndAHangingRecogniserMeetsItsTimeLimit) {
    ScopedEnv hang{{"FAKE_WHISPER_HANG", "1"}};
    for (const char *n : {"a.m4a", "b.m4a", "c.m4a"}) makeAudio(src + "/" + n, 1.2);
    updateSettings([](ParlivoSettings &s) { s.parallelism = 2; });
    chooseSource();
    engine->start();
    ASSERT_TRUE(spinUntil([&] { return engine->processes().activeCount() == 2 && recogniserCalls() == 2; }, 20000));
    QSignalSpy notified(engine.get(), &Transcriber::notificationPosted);
    engine->cancel();
    ASSERT_TRUE(runTask(engine->waitForRun(), 10000));
    ASSERT_EQ(notified.size(), 1);
    EXPECT_EQ(notified[0][1].toString(), "Lot interrompu.");
    EXPECT_EQ(engine->pendingCount(), 3);
    EXPECT_TRUE(engine->currentFileNames().isEmpty());
    EXPECT_TRUE(logHas("Annulation demandée."));
    EXPECT_TRUE(lastLog().endsWith("Lot interrompu."));
    EXPECT_FALSE(logHas("délai dépassé"));
    for (const auto &f : engine->files()) {
        EXPECT_EQ(f.progress, 0);
        EXPECT_FALSE(engine->ledger().count(f.path()));
    }
    EXPECT_TRUE(scratchFiles().isEmpty());

    // Left hanging, the recogniser is ended by its time limit.
    limitRecognitionTo(1);
    ASSERT_TRUE(runQueue(20000));
    EXPECT_EQ(entryNamed("a.m4a").status, FileStatus::error);
    EXPECT_EQ(entryNamed("a.m4a").errorMessage, "Transcription interrompue (délai dépassé).");
    EXPECT_TRUE(scratchFiles().isEmpty());

    // The next run fails it for another reason: that is what it says.
    qunsetenv("FAKE_WHISPER_HANG");
    ScopedEnv broken{{"FAKE_WHISPER_EXIT", "3"}};
    ASSERT_TRUE(runQueue(20000));
    EXPECT_TRUE(entryNamed("a.m4a").errorMessage->startsWith("Échec de whisper-cli (code 3).\n"));
}

TEST_F(QueueRun, PauseLetsClaimedFilesFinishAndClaimsNothingMore) {
    ScopedEnv slow{{"FAKE_WHISPER_DELAY", "1"}};
    for (const char *n : {"a.m4a", "b.m4a", "c.m4a", "d.m4a"}) makeAudio(src + "/" + n, 1.2);
    updateSettings([](ParlivoSettings &s) { s.parallelism = 4; }); // clamped to the cores
    chooseSource();
    int mostRunning = 0;
    QObject::connect(engine.get(), &Transcriber::countersChanged,
                     [&] { mostRunning = std::max(mostRunning, engine->runningCount()); });
    engine->start();
    ASSERT_TRUE(spinUntil([&] { return engine->runningCount() >= 1; }));
    engine->pause();
    ASSERT_TRUE(spinUntil([&] { return engine->runningCount() == 0; }, 20000));
    const int finished = engine->doneCount();
    EXPECT_GE(finished, 1);
    spin(1500);
    EXPECT_EQ(engine->doneCount(), finished);
    EXPECT_EQ(engine->runningCount(), 0);
    EXPECT_TRUE(engine->isRunning());
    engine->resume();
    ASSERT_TRUE(runTask(engine->waitForRun(), 30000));
    EXPECT_EQ(engine->doneCount(), 4);
    EXPECT_LE(mostRunning, engine->maxParallelism());
}

TEST_F(QueueRun, SelectionDuringARunJoinsItWithoutASecondRun) {
    for (const char *n : {"a.m4a", "b.m4a"}) makeAudio(src + "/" + n, 1.2);
    chooseSource();
    ASSERT_TRUE(runQueue());
    makeAudio(src + "/c.m4a", 1.2);
    engine->rescan();
    ScopedEnv slow{{"FAKE_WHISPER_DELAY", "1"}};
    QSignalSpy finished(engine.get(), &Transcriber::runFinished);
    engine->start();
    ASSERT_TRUE(engine->isRunning());
    engine->transcribeSelection({entryNamed("a.m4a").id});
    EXPECT_TRUE(logHas("1 vocal(aux) ajouté(s) au lot en cours."));
    ASSERT_TRUE(runTask(engine->waitForRun(), 30000));
    EXPECT_EQ(finished.count(), 1);
    EXPECT_EQ(entryNamed("a.m4a").status, FileStatus::done); // transcribed again, not skipped
    EXPECT_EQ(recogniserCalls(), 4);

    // Outside a run, a selection starts a run of exactly those files.
    engine->transcribeSelection({entryNamed("b.m4a").id});
    EXPECT_TRUE(logHas("Transcription de 1 vocal(aux) sélectionné(s)."));
    ASSERT_TRUE(runTask(engine->waitForRun(), 30000));
    EXPECT_EQ(recogniserCalls(), 5);
}

TEST_F(QueueRun, LiveFiguresCountOnlyThisRunAndTheFileInHand) {
    for (const char *n : {"a.m4a", "b.m4a", "c.m4a"}) makeAudio(src + "/" + n, 1.2);
    chooseSource();
    engine->transcribeSelection({entryNamed("a.m4a").id});
    ASSERT_TRUE(runTask(engine->waitForRun()));
    ScopedEnv slow{{"FAKE_WHISPER_DELAY", "1"}};
    engine->start();
    ASSERT_TRUE(spinUntil([&] { return recogniserCalls() == 2; }));
    ScopedEnv hang{{"FAKE_WHISPER_HANG", "1"}}; // c, claimed after b, stops at its first 5 %
    ASSERT_TRUE(spinUntil([&] {
        const auto running = engine->primaryRunningFile();
        return engine->doneCount() == 2 && running && running->progress > 0;
    }));
    EXPECT_EQ(engine->primaryRunningFile()->fileName(), "c.m4a");
    EXPECT_NEAR(engine->overallProgress(), 0.683333, 1e-6); // (a + b + 5 % of c) / 3
    EXPECT_FALSE(engine->isComplete()); // nothing waits, but c is not finished
    // Two minutes in, one file finished in this run (a was before it): half a
    // file a minute, and c takes two more minutes.
    const LiveStats stats = engine->liveStats(engine->startedAt()->addSecs(120));
    EXPECT_DOUBLE_EQ(stats.elapsed, 120);
    EXPECT_DOUBLE_EQ(stats.ratePerMin, 0.5);
    EXPECT_EQ(stats.eta, 120.0);
    engine->cancel();
    ASSERT_TRUE(runTask(engine->waitForRun()));
    EXPECT_FALSE(engine->isComplete());
}

TEST_F(QueueRun, AnInterruptedBatchResumesAtLaunchOnlyWithAutomaticResume) {
    for (const char *n : {"a.m4a", "b.m4a"}) makeAudio(src + "/" + n, 1.2);
    updateSettings([](ParlivoSettings &s) { s.autoResume = false; });
    chooseSource();
    {
        ScopedEnv hang{{"FAKE_WHISPER_HANG", "1"}};
        engine->start();
        ASSERT_TRUE(spinUntil([&] { return engine->runningCount() == 1 && recogniserCalls() == 1; }, 20000));
        engine->saveNow(); // what quitting does
        engine->processes().terminateAll();
        engine.reset(); // the application goes away mid-batch
    }
    engine = std::make_unique<Transcriber>(tools());
    EXPECT_TRUE(engine->pendingWasRunning());
    EXPECT_EQ(engine->pendingCount(), 2);
    engine->resumeInterruptedRunIfNeeded();
    EXPECT_FALSE(engine->isRunning());
    EXPECT_FALSE(logHas("Reprise automatique"));

    updateSettings([](ParlivoSettings &s) { s.autoResume = true; });
    engine->resumeInterruptedRunIfNeeded();
    EXPECT_TRUE(logHas("Reprise automatique du lot après redémarrage."));
    ASSERT_TRUE(runTask(engine->waitForRun(), 30000));
    EXPECT_EQ(engine->doneCount(), 2);
    EXPECT_TRUE(engine->isComplete());
}

TEST_F(QueueRun, WithoutAModelTheDefaultOneIsDownloadedThenTheBatchRuns) {
    FakeLlmServer repository; // nothing served yet
    ScopedEnv base{"PARLIVO_MODEL_BASE_URL", repository.endpoint() + "/"};
    updateSettings([](ParlivoSettings &s) { s.modelPath.clear(); });
    makeAudio(src + "/a.m4a", 1.2);
    chooseSource();
    const QString downloaded = home.file(".hestia/ggml-large-v3.bin");

    // A 404 leaves no model file and no batch.
    engine->start();
    ASSERT_TRUE(spinUntil([&] { return !engine->modelDownloadProgress(); }, 20000));
    EXPECT_FALSE(engine->isRunning());
    EXPECT_FALSE(QFileInfo::exists(downloaded));
    EXPECT_TRUE(logHas("Téléchargement du modèle impossible : "));
    EXPECT_TRUE(logHas("404"));
    EXPECT_EQ(engine->modelDisplayName(), "Aucun");

    repository.serve("/ggml-large-v3.bin", FakeReply::raw(200, QByteArray(64 * 1024, 'm')));
    engine->start();
    engine->start(); // a second press while downloading starts nothing more
    EXPECT_TRUE(engine->modelDownloadProgress());
    EXPECT_TRUE(logHas("Aucun modèle de transcription : téléchargement de ggml-large-v3.bin (une seule fois, ~3 Go)…"));
    ASSERT_TRUE(spinUntil([&] { return !engine->modelDownloadProgress(); }, 20000));
    ASSERT_TRUE(runTask(engine->waitForRun(), 30000));
    EXPECT_EQ(repository.count("/ggml-large-v3.bin"), 2);
    EXPECT_EQ(engine->settings().modelPath, downloaded);
    EXPECT_EQ(QFileInfo(downloaded).size(), 64 * 1024);
    EXPECT_TRUE(logHas("Modèle prêt : ggml-large-v3.bin. Lancement du lot."));
    EXPECT_EQ(engine->doneCount(), 1);
    EXPECT_EQ(engine->modelDisplayName(), "ggml-large-v3.bin");
}

} // namespace
