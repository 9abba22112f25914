// parlivo-cli as a user types it: a real child process with the stand-in
// recogniser, for the source folder, the state, the settings, run, retry,
// force, models and watch until Ctrl-C.
#include <QDir>
#include <QFileInfo>
#include <QProcess>

#include <csignal>

#include "core/atomic_file.h"
#include "core/json_coding.h"
#include "core/settings.h"
#include "core/state_lock.h"
#include "support/cli_fixture.h"
#include "support/fake_llm_server.h"

using namespace testing_support;

namespace {

QStringList column(const QString &out, int index) {
    QStringList values;
    for (const QString &line : out.split('\n', Qt::SkipEmptyParts)) values << line.split('\t').value(index);
    return values;
}

TEST(CliScan, ListsAudioFilesInNaturalOrderWhateverTheLanguage) {
    TempHome home;
    for (const char *name : {"b10.m4a", "b2.m4a", "A1.MP3", ".hidden.m4a", "notes.txt", "ApplicationAssets/x.m4a",
                             "Rangé/copie.m4a"})
        writeFile(home.file("memos/") + name, "x");
    const QString folder = home.file("memos");
    // Parlivo's own folders inside the source hold copies, not recordings.
    ASSERT_EQ(runCli({"settings", "organizeRoot", folder + "/Rangé"}).code, 0);
    for (const QStringList &env : {QStringList{"LANG", "LC_ALL", "LC_COLLATE"},
                                   QStringList{"LANG=fr_FR.UTF-8", "LC_ALL=fr_FR.UTF-8"}}) {
        CliResult r = runCli({"scan", folder}, env);
        ASSERT_EQ(r.code, 0) << r.err.toStdString();
        EXPECT_EQ(column(r.out, 2), (QStringList{folder + "/A1.MP3", folder + "/b2.m4a", folder + "/b10.m4a"}));
        EXPECT_EQ(column(r.out, 0), (QStringList{"pending", "pending", "pending"}));
        EXPECT_TRUE(r.err.contains("3 fichier(s)")); // the log goes to standard error
    }
    CliResult status = runCli({"status"});
    ASSERT_EQ(status.code, 0);
    EXPECT_TRUE(status.out.startsWith("En attente 3, En cours 0, Terminé 0, Sauté 0, Erreur 0, Vide 0\n"));
    EXPECT_EQ(status.out.split('\n')[1], "pending\t-\t" + folder + "/A1.MP3\t");

    // Bad usage and a missing folder exit with 2.
    EXPECT_EQ(runCli({}).code, 2);
    EXPECT_EQ(runCli({"frobnicate"}).code, 2);
    const CliResult missing = runCli({"scan", home.file("nowhere")});
    EXPECT_EQ(missing.code, 2);
    EXPECT_TRUE(missing.err.contains("Dossier introuvable"));

    // A scan changes the state: not while another process holds it.
    StateLock held(home.supportDir());
    ASSERT_TRUE(held.tryLock());
    const CliResult refused = runCli({"scan", folder});
    EXPECT_EQ(refused.code, 2);
    EXPECT_TRUE(refused.err.startsWith("Le dossier d'état « " + home.supportDir() + " » est déjà utilisé par "))
        << refused.err.toStdString();
}

TEST(CliSettings, PrintsSetsAndResets) {
    TempHome home;
    CliResult all = runCli({"settings"});
    ASSERT_EQ(all.code, 0);
    EXPECT_EQ(parseJson(all.out.toUtf8())["ollamaModel"], "qwen2.5:7b");
    EXPECT_EQ(parseJson(all.out.toUtf8())["watchFolder"], false);
    EXPECT_EQ(runCli({"settings", "watchFolder", "true"}).out, "true\n");
    EXPECT_EQ(runCli({"settings", "watchFolder", "oui"}).code, 2);

    EXPECT_EQ(runCli({"settings", "language"}).out, "auto\n"); // text prints plain
    const QString cores = QString::number(maxParallelism());
    EXPECT_EQ(runCli({"settings", "parallelism", cores}).out, cores + "\n");
    EXPECT_EQ(runCli({"settings", "ollamaModel", "mistral"}).out, "mistral\n");
    EXPECT_EQ(runCli({"settings", "customDestination", home.file("out")}).code, 0);
    EXPECT_EQ(runCli({"settings", "correctionPrompt", "Corrige."}).code, 0);
    EXPECT_EQ(runCli({"settings", "correctionBackend", "both"}).code, 2);
    EXPECT_EQ(runCli({"settings", "colour", "blue"}).code, 2);

    const Json stored = parseJson(*readWholeFile(home.supportDir() + "/settings.json"));
    EXPECT_EQ(stored["parallelism"], maxParallelism());
    EXPECT_EQ(stored["ollamaModel"], "mistral");
    EXPECT_EQ(stored["correctionBackend"], "ollama");
    EXPECT_EQ(QString::fromStdString(stored["customDestination"]), home.file("out"));
    EXPECT_EQ(stored["correctionPrompt"], "Corrige.");

    EXPECT_EQ(runCli({"settings", "--reset-prompt"}).code, 0);
    EXPECT_TRUE(runCli({"settings", "correctionPrompt"}).out.startsWith("Tu es un correcteur"));
    EXPECT_EQ(runCli({"settings", "customDestination", "null"}).code, 0);
    EXPECT_EQ(runCli({"settings", "customDestination"}).out, "");
}

TEST(CliFront, AnswersWhatOnlyReadsTheStateAloneAndHandsOverTheRest) {
    TempHome home;
    writeFile(home.file("memos/a.m4a"), "x");
    ASSERT_EQ(runCli({"scan", home.file("memos")}).code, 0);
    ASSERT_EQ(runCli({"settings", "language", "fr"}).code, 0);

    // Copied without the engine program, the command line still answers these.
    const QString front = home.file("alone/parlivo-cli");
    ASSERT_TRUE(QDir().mkpath(home.file("alone")));
    ASSERT_TRUE(QFile::copy(buildPath(QStringLiteral("parlivo-cli")), front));
    ASSERT_TRUE(QFile::copy(buildPath(QStringLiteral("parlivo-state")), home.file("alone/parlivo-state")));
    EXPECT_EQ(runProgram(front, {"settings", "language"}).out, "fr\n");
    EXPECT_EQ(parseJson(runProgram(front, {"settings"}).out.toUtf8())["language"], "fr");
    const CliResult status = runProgram(front, {"status"});
    EXPECT_EQ(status.out, "En attente 1, En cours 0, Terminé 0, Sauté 0, Erreur 0, Vide 0\npending\t-\t" +
                              home.file("memos/a.m4a") + "\t\n");
    writeFile(home.file("memos/b.m4a"), "x");
    const CliResult scan = runProgram(front, {"scan", home.file("memos")});
    EXPECT_EQ(scan.code, 0) << scan.err.toStdString();
    EXPECT_EQ(scan.out, "pending\t-\t" + home.file("memos/a.m4a") + "\t\npending\t-\t" + home.file("memos/b.m4a") + "\t\n");
    const CliResult unknown = runProgram(front, {"settings", "colour"});
    EXPECT_EQ(unknown.code, 2);
    EXPECT_TRUE(unknown.err.startsWith("Réglage inconnu : colour. Réglages : modelPath, language,"));

    // Anything else needs the engine program, and says so when it is missing.
    const CliResult run = runProgram(front, {"run"});
    EXPECT_EQ(run.code, 127);
    EXPECT_EQ(run.err, "Impossible de lancer " + home.file("alone/parlivo-engine") +
                           " : programme introuvable, l'installation est incomplète.\n");

    // What makes them start fast: parlivo-cli loads no library, and the state
    // program none of the engine's but QtCore.
    const auto needed = [](const QString &program) {
        QProcess readelf;
        readelf.start(QStringLiteral("readelf"), {"-d", buildPath(program)});
        readelf.waitForFinished();
        return QString::fromUtf8(readelf.readAllStandardOutput());
    };
    EXPECT_FALSE(needed("parlivo-cli").contains("libQt6"));
    const QString state = needed("parlivo-state");
    EXPECT_TRUE(state.contains("[libQt6Core.so.6]"));
    for (const char *library : {"libQt6Network", "libQt6DBus", "libQt6Sql", "libQCoro6Network"})
        EXPECT_FALSE(state.contains(library)) << library;
}

// The engine gets huge pages for its heap from the front; what the engine
// starts (here the recogniser) gets the environment the user gave. (The
// loader may rewrite the engine's own copy past the first tunable.)
class CliEnvironment : public CliFixture {};
TEST_F(CliEnvironment, TheEnginesAllocatorTuningStaysOutOfTheProgramsItStarts) {
    makeAudio(src + "/a.m4a", 1.0);
    const QString seen = home.file("seen.log");
    const QString recogniser = writeFile(
        home.file("recogniser.sh"),
        ("#!/bin/sh\n"
         "echo \"engine: $(tr '\\0' '\\n' < /proc/$PPID/environ | grep -o '^GLIBC_TUNABLES=[^:]*')\" >> '" + seen + "'\n"
         "echo \"recogniser: ${GLIBC_TUNABLES-none}\" >> '" + seen + "'\n"
         "exec '" + buildPath("fake-whisper-cli") + "' \"$@\"\n")
            .toUtf8());
    QFile::setPermissions(recogniser, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    env << "PARLIVO_WHISPER_CLI=" + recogniser;
    ASSERT_EQ(cli({"run", src}, {"GLIBC_TUNABLES"}).code, 0);
    ASSERT_EQ(cli({"force", src + "/a.m4a"}, {"GLIBC_TUNABLES=glibc.malloc.arena_max=2"}).code, 0);
    EXPECT_EQ(linesOf(seen), (QStringList{"engine: GLIBC_TUNABLES=glibc.malloc.hugetlb=1",
                                          "recogniser: none",
                                          "engine: GLIBC_TUNABLES=glibc.malloc.arena_max=2",
                                          "recogniser: glibc.malloc.arena_max=2"}));
}

// ---------------------------------------------------------------- run, retry, force, models

class CliRun : public CliFixture {};

TEST_F(CliRun, RunsABatchThenHasNothingLeftToDoAndNothingRunsWithoutRecogniserOrFolder) {
    for (const char *n : {"un.m4a", "sous/deux.mp3"}) makeAudio(src + "/" + n, 1.2);
    writeFile(src + "/casse.m4a", "not audio");
    CliResult first = cli({"run", src});
    EXPECT_EQ(first.code, 1) << first.err.toStdString(); // one file failed
    EXPECT_TRUE(first.err.contains("Lot terminé : 2 transcrits, 0 sautés, 1 en erreur."));
    EXPECT_FALSE(first.err.contains("\r")); // not a terminal: plain log lines
    EXPECT_EQ(transcripts(), (QStringList{"deux.txt", "un.txt"}));
    EXPECT_EQ(recogniserCalls(), 2);

    CliResult status = cli({"status"});
    EXPECT_TRUE(status.out.startsWith("En attente 0, En cours 0, Terminé 2, Sauté 0, Erreur 1, Vide 0\n"));
    EXPECT_TRUE(status.out.contains("error\t-\t" + src + "/casse.m4a\tÉchec de la conversion audio (code "));
    EXPECT_EQ(cli({"retry"}).code, 0);
    EXPECT_TRUE(cli({"status"}).out.contains("pending\t-\t" + src + "/casse.m4a\t\n"));
    EXPECT_EQ(cli({"retry", src + "/casse.m4a"}).code, 0);

    QFile::remove(src + "/casse.m4a");
    CliResult second = cli({"run", src});
    EXPECT_EQ(second.code, 0);
    EXPECT_TRUE(second.err.contains("Rien à transcrire : aucun fichier en attente."));
    EXPECT_EQ(recogniserCalls(), 2);

    CliResult forced = cli({"force", src + "/un.m4a"});
    EXPECT_EQ(forced.code, 0) << forced.err.toStdString();
    EXPECT_EQ(recogniserCalls(), 3);
    EXPECT_EQ(cli({"force", src + "/absent.m4a"}).code, 2);

    // Without a recogniser or a folder, nothing runs.
    CliResult noTool = runCli({"run", src}, {"PARLIVO_WHISPER_CLI=" + home.file("absent/whisper-cli")});
    EXPECT_EQ(noTool.code, 2);
    EXPECT_TRUE(noTool.err.contains("whisper-cli introuvable. Lance scripts/setup, qui le construit, ou installe le "
                                    "paquet whisper.cpp de ta distribution."));
    EXPECT_EQ(cli({"run", home.file("nowhere")}).code, 2);
}

TEST_F(CliRun, WithServersAloneARunNeedsNoModelHere) {
    FakeLlmServer server;
    ASSERT_NE(server.port(), 0);
    server.respondWith([](const FakeRequest &) {
        return FakeReply::raw(200, R"({"segments":[{"id":0,"text":" Du serveur.","start":0.0,"end":1.0}]})");
    });
    makeAudio(src + "/un.m4a", 1.2);
    QFile::remove(home.file(".hestia/ggml-base.bin"));
    ASSERT_EQ(cli({"settings", "recognitionServers", server.endpoint()}).code, 0);
    ASSERT_EQ(cli({"settings", "parallelism", "0"}).code, 0);
    const CliResult run = cli({"run", src}, {"PARLIVO_MODEL_BASE_URL=" + server.endpoint() + "/modeles/"});
    EXPECT_EQ(run.code, 0) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains("Lot terminé : 1 transcrits, 0 sautés, 0 en erreur.")) << run.err.toStdString();
    EXPECT_EQ(transcripts(), QStringList{"un.txt"});
    EXPECT_EQ(recogniserCalls(), 0);
    EXPECT_EQ(server.count("/modeles/ggml-large-v3.bin"), 0);
    EXPECT_EQ(server.count(FakeLlmServer::inferencePath), 1);
}

TEST_F(CliRun, ModelsListsTheCatalogueAndDownloadsOne) {
    FakeLlmServer repository;
    repository.serve("/ggml-base.bin", FakeReply::raw(200, QByteArray(4096, 'm')));
    env << "PARLIVO_MODEL_BASE_URL=" + repository.endpoint() + "/";
    CliResult list = cli({"models"});
    EXPECT_EQ(list.code, 0);
    EXPECT_TRUE(list.out.contains("* ggml-base.bin"));
    EXPECT_TRUE(list.out.contains("ggml-large-v3-turbo.bin\tLarge v3 Turbo (quasi identique, 5x plus rapide, ~1.6 Go)"));

    QFile::remove(home.file(".hestia/ggml-base.bin"));
    const CliResult downloaded = cli({"models", "--download", "ggml-base.bin"});
    EXPECT_EQ(downloaded.code, 0) << downloaded.err.toStdString();
    EXPECT_EQ(QFileInfo(home.file(".hestia/ggml-base.bin")).size(), 4096);
    const CliResult missing = cli({"models", "--download", "ggml-medium.bin"});
    EXPECT_EQ(missing.code, 1);
    EXPECT_TRUE(missing.err.contains("Échec : Réponse HTTP 404"));
    EXPECT_FALSE(QFileInfo::exists(home.file(".hestia/ggml-medium.bin")));
    EXPECT_EQ(cli({"models", "--download", "ggml-nope.bin"}).code, 2);
}

// ---------------------------------------------------------------- watch

class CliWatch : public CliFixture {
protected:
    bool stopped(QProcess &watch) {
        return spinUntil([&] { return watch.state() == QProcess::NotRunning; }, 15000);
    }
};

TEST_F(CliWatch, TranscribesWhatIsThereAndWhatArrivesThenCtrlCSavesAndExitsWithZero) {
    makeAudio(src + "/déjà là.m4a", 1.2);
    auto watch = startCli({"watch", src});
    ASSERT_TRUE(spinUntil([&] { return transcripts() == QStringList{"déjà là.txt"}; }, 30000));
    // Copied in once watching runs, into a folder made for it.
    const QString made = makeAudio(home.file("enregistreur/nouveau.m4a"), 1.2);
    ASSERT_TRUE(QDir().mkpath(src + "/sous"));
    ASSERT_TRUE(QFile::copy(made, src + "/sous/nouveau.m4a"));
    ASSERT_TRUE(spinUntil([&] { return transcripts().size() == 2; }, 30000));

    // It holds the state folder like run does.
    const CliResult refused = cli({"run", src});
    EXPECT_EQ(refused.code, 2);
    EXPECT_TRUE(refused.err.contains("est déjà utilisé par parlivo-cli")) << refused.err.toStdString();

    ::kill(pid_t(watch->processId()), SIGINT);
    ASSERT_TRUE(stopped(*watch));
    EXPECT_EQ(watch->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(watch->exitCode(), 0);
    const QString err = QString::fromUtf8(watch->readAllStandardError());
    EXPECT_TRUE(err.contains("Surveillance du dossier active : " + src)) << err.toStdString();
    EXPECT_TRUE(err.contains("Surveillance du dossier arrêtée : " + src));
    EXPECT_EQ(recogniserCalls(), 2);
    EXPECT_TRUE(cli({"status"}).out.startsWith("En attente 0, En cours 0, Terminé 2, Sauté 0, Erreur 0"));
}

TEST_F(CliWatch, WithoutOneFolderItExitsWithTwoAndCtrlCDuringATranscriptionLeavesItPending) {
    // Without a folder, or with too many, it does not start.
    const CliResult none = cli({"watch"});
    EXPECT_EQ(none.code, 2);
    EXPECT_EQ(none.err, "Aucun dossier source : parlivo-cli watch DOSSIER\n");
    EXPECT_EQ(cli({"watch", home.file("nulle part")}).code, 2);
    const CliResult two = cli({"watch", src, src});
    EXPECT_EQ(two.code, 2);
    EXPECT_TRUE(two.err.contains("watch [DOSSIER]"));

    QDir().mkpath(src);
    auto watch = startCli({"watch", src}, {"FAKE_WHISPER_HANG=1"});
    makeAudio(src + "/long.m4a", 1.2);
    ASSERT_TRUE(spinUntil([&] { return recogniserCalls() == 1; }, 30000));
    ::kill(pid_t(watch->processId()), SIGTERM);
    ASSERT_TRUE(stopped(*watch));
    EXPECT_EQ(watch->exitCode(), 0);
    EXPECT_TRUE(QString::fromUtf8(watch->readAllStandardError()).contains("Lot interrompu."));
    const CliResult status = cli({"status"});
    EXPECT_TRUE(status.out.startsWith("En attente 1, En cours 0")) << status.out.toStdString();
    EXPECT_TRUE(status.out.contains("pending\t0:01\t" + src + "/long.m4a\t\n")); // its duration was read
    EXPECT_TRUE(scratch().isEmpty());
}

} // namespace
