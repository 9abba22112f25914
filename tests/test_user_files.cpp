// Bad input, the user's own files: notes and folders that share a
// transcript's name, a recording replaced while it is transcribed, an empty
// recording, and a settings file with one value out of range.
#include <QFileInfo>
#include <QThread>

#include <fcntl.h>
#include <sys/stat.h>

#include "core/atomic_file.h"
#include "pipeline/transcript_names.h"
#include "support/correction_test_support.h"
#include "support/engine_fixture.h"

using namespace testing_support;

namespace {

// ---------------------------------------------------------------- whose file is it

TEST(UserFilesPure, OnlyParlivosOwnHeaderNamesARecording) {
    const QString txt = "Mémo vocal du 5 décembre 2026 à 14h07  (durée 0:05)\nSource : memo.m4a\n" +
                        QString(56, '=') + "\n\nBonjour.\n";
    EXPECT_TRUE(headerNamesRecording(txt, "memo.m4a", false));
    EXPECT_FALSE(headerNamesRecording(txt, "memo.mp3", false));
    EXPECT_FALSE(headerNamesRecording("Mes notes de la réunion\nSource : memo.m4a\n", "memo.m4a", false));
    EXPECT_FALSE(headerNamesRecording(QString(txt).replace(QString(56, '='), "====="), "memo.m4a", false));

    const QString md = "---\nsource: memo.m4a\nchemin: /m/memo.m4a\ncorrection: aucune\n---\n\n# Mémo vocal\n";
    EXPECT_TRUE(headerNamesRecording(md, "memo.m4a", true));
    EXPECT_FALSE(headerNamesRecording(md, "memo.mp3", true));
    EXPECT_FALSE(headerNamesRecording("# Mes notes\n\nsource: memo.m4a\n", "memo.m4a", true));
    EXPECT_FALSE(headerNamesRecording("---\ntitre: x\n---\nsource: memo.m4a\n", "memo.m4a", true));
}

// ---------------------------------------------------------------- the engine

class UserFiles : public EngineFixture {
protected:
    void chooseSource() { engine->setSourceFolder(QUrl::fromLocalFile(src)); }
};

TEST_F(UserFiles, NotesOrAFolderOfTheSameNameAreLeftUntouchedAndNeverPassForATranscript) {
    const QString older = writeFile(src + "/reunion.txt", "Mes notes, à garder.\n");
    setMtime(older, 1'600'000'000); // older than the recording
    for (const char *n : {"reunion.m4a", "appel.m4a", "a.m4a"}) makeAudio(src + "/" + n, 1.2);
    const QString newer = writeFile(src + "/appel.txt", "Rappeler le garage.\n"); // newer than the recording
    QDir().mkpath(src + "/a.txt");
    chooseSource();
    ASSERT_TRUE(runQueue());
    EXPECT_EQ(engine->doneCount(), 3);
    EXPECT_EQ(engine->skippedCount(), 0);
    EXPECT_EQ(recogniserCalls(), 3);
    EXPECT_EQ(readText(older), "Mes notes, à garder.\n");
    EXPECT_EQ(readText(newer), "Rappeler le garage.\n");
    EXPECT_TRUE(QFileInfo(src + "/a.txt").isDir());
    EXPECT_EQ(entryNamed("reunion.m4a").outputPath, src + "/reunion.m4a.txt");
    EXPECT_EQ(linesOf(src + "/reunion.m4a.txt").value(1), "Source : reunion.m4a");
    for (const char *t : {"/appel.m4a.txt", "/a.m4a.txt"})
        EXPECT_TRUE(readText(src + t).endsWith("Bonjour.\nCeci est un test.\n")) << t;
}

TEST_F(UserFiles, TheCorrectionNeverRewritesTheUsersTextOfTheSameName) {
    updateSettings([](ParlivoSettings &s) { s.outputFormat = OutputFormat::md; });
    const QString md = writeRawTranscript(src, "memo", dictation("Memo", 80), false);
    const QString notes = writeFile(src + "/memo.txt", "Mes notes.\n");
    engine->rewriteCorrected(md, readText(md), dictation("Memo", 80), dictation("Memo", 80).toUpper());
    EXPECT_TRUE(readText(md).contains(dictation("Memo", 80).toUpper()));
    EXPECT_EQ(readText(notes), "Mes notes.\n");

    // The recording's own .txt follows the correction.
    const QString other = writeRawTranscript(src, "autre", dictation("Autre", 80));
    engine->rewriteCorrected(other, readText(other), dictation("Autre", 80), dictation("Autre", 80).toUpper());
    EXPECT_TRUE(readText(src + "/autre.txt").endsWith("\n\n" + dictation("Autre", 80).toUpper() + "\n"));
}

TEST_F(UserFiles, ARecordingReplacedDuringItsRecognitionGoesBackToPending) {
    ScopedEnv slow{{"FAKE_WHISPER_DELAY", "2"}};
    makeAudio(src + "/memo.m4a", 1.2);
    chooseSource();
    engine->start();
    ASSERT_TRUE(spinUntil([&] { return recogniserCalls() == 1; }, 30000));
    makeAudio(src + "/memo.m4a", 3.5); // the recorder writes a longer take over it
    ASSERT_TRUE(runTask(engine->waitForRun(), 30000));
    EXPECT_EQ(entryNamed("memo.m4a").status, FileStatus::pending);
    EXPECT_EQ(recogniserCalls(), 1); // not taken again in the same run
    EXPECT_EQ(logCount("memo.m4a a changé pendant sa transcription : il sera transcrit de nouveau au prochain lot."),
              1);
    EXPECT_FALSE(engine->ledger().count(src + "/memo.m4a"));
    EXPECT_FALSE(QFileInfo::exists(src + "/memo.txt"));

    // The next run transcribes the new take and remembers it.
    ASSERT_TRUE(runQueue());
    EXPECT_EQ(entryNamed("memo.m4a").status, FileStatus::done);
    EXPECT_TRUE(readText(src + "/memo.txt").contains("(durée 0:04)"));
    EXPECT_EQ(engine->ledger().at(src + "/memo.m4a").size, QFileInfo(src + "/memo.m4a").size());
}

// ---------------------------------------------------------------- settings

TEST(UserSettings, OneUnusableValueCostsThatKeyAlone) {
    TempHome home;
    const QString dir = home.supportDir();
    writeFile(dir + "/settings.json", R"({"modelPath":"/modeles/ggml-base.bin","anthropicKey":"sk-ant-123",
        "parallelism":99999,"language":"xx","timestamps":"oui","customDestination":"sorties","ollamaModel":"mistral",
        "subtitleFormat":"ass","watchFolder":"oui"})");
    Transcriber engine{Tools{}};
    const ParlivoSettings &s = engine.settings();
    EXPECT_EQ(s.modelPath, "/modeles/ggml-base.bin");
    EXPECT_EQ(s.anthropicKey, "sk-ant-123");
    EXPECT_EQ(s.ollamaModel, "mistral");
    EXPECT_EQ(s.parallelism, 1);
    EXPECT_EQ(s.language, "auto");
    EXPECT_FALSE(s.timestamps);
    EXPECT_FALSE(s.customDestination);
    EXPECT_EQ(s.subtitleFormat, SubtitleFormat::none);
    EXPECT_FALSE(s.watchFolder);
    for (const char *key : {"language", "customDestination", "parallelism", "timestamps", "subtitleFormat", "watchFolder"})
        EXPECT_EQ(engine.logLines()
                      .filter(QStringLiteral("Réglage invalide dans settings.json : %1. Sa valeur par défaut est "
                                             "utilisée.")
                                  .arg(key))
                      .size(),
                  1)
            << key;
    EXPECT_FALSE(QFileInfo::exists(dir + "/settings.json.corrupt"));
}

TEST(UserSettings, TheCommandLineRefusesValuesOutOfRange) {
    TempHome home;
    const int cores = std::max(1, QThread::idealThreadCount());
    for (const QString &value : {QString("-5"), QString("0"), QString("99999"), QString::number(cores + 1)}) {
        const CliResult refused = runCli({"settings", "parallelism", value});
        EXPECT_EQ(refused.code, 2) << value.toStdString();
        EXPECT_EQ(refused.err, QStringLiteral("Valeur refusée pour parallelism : %1 (attendu : un nombre entier de 1 à "
                                              "%2 (0 si des serveurs de reconnaissance sont réglés))\n")
                                   .arg(value)
                                   .arg(cores));
    }
    EXPECT_EQ(runCli({"settings", "language", "xx"}).err, "Valeur refusée pour language : xx (attendu : auto, fr ou en)\n");
    EXPECT_EQ(runCli({"settings", "subtitleFormat", "ass"}).err,
              "Valeur refusée pour subtitleFormat : ass (attendu : none, srt, vtt ou both)\n");
    EXPECT_EQ(runCli({"settings", "subtitleFormat", "vtt"}).out, "vtt\n");
    EXPECT_EQ(runCli({"settings", "customDestination", "sorties"}).code, 2);
    EXPECT_EQ(runCli({"settings", "organizeRoot", "./archive"}).code, 2);
    EXPECT_EQ(runCli({"settings", "parallelism"}).out, "1\n");

    EXPECT_EQ(runCli({"settings", "language", "en"}).out, "en\n");
    EXPECT_EQ(runCli({"settings", "customDestination", ""}).code, 0); // custom without a folder
}

} // namespace
