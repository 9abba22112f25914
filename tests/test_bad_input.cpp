// Bad input. Names and tree: recordings that share a base name, pipes, the
// organized archive inside the source, names holding line breaks or bytes
// that are not UTF-8, files gone since the scan. The user's own files: notes
// and folders that share a transcript's name, a recording replaced while it
// is transcribed, a settings file with one value out of range. Real ffmpeg,
// the stand-in recogniser, real files.
#include <QDirIterator>
#include <QFileInfo>
#include <QThread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/atomic_file.h"
#include "core/file_names.h"
#include "core/source_files.h"
#include "core/text.h"
#include "organize/transcript_reading.h"
#include "pipeline/header_values.h"
#include "pipeline/transcript_names.h"
#include "support/correction_test_support.h"
#include "support/engine_fixture.h"

using namespace testing_support;

namespace {

// ---------------------------------------------------------------- pure rules

TEST(NamesPure, ALineBreakOrATabNeverLeavesItsLineAndHeaderValuesAreQuotedOnlyThen) {
    EXPECT_EQ(singleLine("a\nb\tc\r\nd\re\x01"), "a\\nb\\tc\\nd\\ne\\u0001");
    EXPECT_EQ(singleLine("Réunion été 2024.m4a"), "Réunion été 2024.m4a");
    EXPECT_EQ(headerValue("/m/Réunion: budget.m4a"), "/m/Réunion: budget.m4a");
    EXPECT_EQ(headerValue("/m/a\nchemin: x.m4a"), "\"/m/a\\nchemin: x.m4a\"");
    EXPECT_EQ(headerValue("\"q\".m4a"), "\"\\\"q\\\".m4a\"");
    for (const QString &value : {QString("/m/a\nchemin: x.m4a"), QString("\"q\".m4a"), QString("/m/tab\there.m4a"),
                                 QString("/m/simple.m4a")})
        EXPECT_EQ(headerValueText(headerValue(value)), value);
    EXPECT_EQ(headerValueText("\"pas fermé"), "\"pas fermé");
}

TEST(NamesPure, NamesThatAreNotUtf8KeepEveryByte) {
    const QByteArray latin1("caf\xe9 \xff.m4a");
    const QString held = decodeFileName(latin1);
    EXPECT_EQ(held, QString("caf") + QChar(0xF7E9) + " " + QChar(0xF7FF) + ".m4a");
    EXPECT_TRUE(holdsRawBytes(held));
    EXPECT_EQ(encodeFileName(held), latin1);

    // Valid UTF-8 reads as Qt reads it.
    EXPECT_EQ(decodeFileName("été 日本.m4a"), QString("été 日本.m4a"));
    EXPECT_FALSE(holdsRawBytes(decodeFileName("été.m4a")));
    // A name really holding a character of the escape range stays apart from the raw byte.
    const QByteArray escapeCharacter("\xef\x9f\xa9.m4a"); // U+F7E9 in UTF-8
    EXPECT_NE(decodeFileName(escapeCharacter), decodeFileName("\xe9.m4a"));
    EXPECT_EQ(encodeFileName(decodeFileName(escapeCharacter)), escapeCharacter);

    // Every pair of high bytes comes back unchanged.
    for (int a = 0x80; a <= 0xff; ++a)
        for (int b = 0x80; b <= 0xff; ++b) {
            const QByteArray bytes{char(a), char(b)};
            ASSERT_EQ(encodeFileName(decodeFileName(bytes)), bytes) << a << ' ' << b;
        }
}

TEST(NamesPure, TranscriptsOfOneRecordingTakeTheseNamesInTurnAndFoldersInsideTheSourceAreLeftOut) {
    const QStringList stems = transcriptStems("/m/memo.m4a", "/out");
    ASSERT_EQ(stems.size(), 10);
    EXPECT_EQ(stems.mid(0, 4), (QStringList{"/out/memo", "/out/memo.m4a", "/out/memo.m4a (2)", "/out/memo.m4a (3)"}));
    EXPECT_EQ(stems.last(), "/out/memo.m4a (9)");
    EXPECT_EQ(transcriptStem("/out/memo.m4a (2).md"), "/out/memo.m4a (2)");
    EXPECT_TRUE(hasStem("/out/memo.m4a (2).md", "/out/memo.m4a (2)"));
    EXPECT_TRUE(hasStem("/out/memo.txt", "/out/memo"));
    EXPECT_FALSE(hasStem("/out/memo.m4a.txt", "/out/memo"));
    EXPECT_FALSE(hasStem("/out/mem.txt", "/out/memo"));
    // Only folders strictly inside the source are left out of its scan.
    EXPECT_EQ(foldersStrictlyInside("/m", {"/m/Archive organisée", "/m", "/m/", "/elsewhere", "", "/m/out/", "/mx/a"}),
              (QStringList{"/m/Archive organisée", "/m/out"}));
}

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

class NamesAndTree : public EngineFixture {
protected:
    QStringList queuedNames() const {
        QStringList names;
        for (const AudioFile &f : engine->files()) names << f.fileName();
        return names;
    }
    QStringList filesUnder(const QString &dir, const QString &pattern) const {
        QStringList found;
        QDirIterator it(dir, {pattern}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) found << it.next().mid(dir.size() + 1);
        found.sort();
        return found;
    }
};

TEST_F(NamesAndTree, RecordingsSharingABaseNameGetATranscriptEachAndTheOwnerKeepsTheName) {
    makeAudio(src + "/memo.m4a", 1.2);
    makeAudio(src + "/memo.mp3", 2.5);
    makeAudio(src + "/note.mp3", 1.2);
    updateSettings([](ParlivoSettings &s) { s.parallelism = 2; }); // at once where the cores allow
    chooseSource();
    ASSERT_TRUE(runQueue());
    EXPECT_EQ(engine->doneCount(), 3);
    EXPECT_EQ(recogniserCalls(), 3);
    EXPECT_EQ(linesOf(src + "/memo.txt").value(1), "Source : memo.m4a");
    EXPECT_EQ(linesOf(src + "/memo.mp3.txt").value(1), "Source : memo.mp3");
    EXPECT_EQ(entryNamed("memo.m4a").outputPath, src + "/memo.txt");
    EXPECT_EQ(entryNamed("memo.mp3").outputPath, src + "/memo.mp3.txt");

    // Both recorded again: each keeps its name, nothing more is written. A
    // recording that sorts first arrives later: it does not take the name.
    makeAudio(src + "/memo.m4a", 1.5);
    makeAudio(src + "/memo.mp3", 1.2);
    makeAudio(src + "/note.m4a", 1.2);
    engine->rescan();
    ASSERT_TRUE(runQueue());
    EXPECT_EQ(recogniserCalls(), 6);
    EXPECT_EQ(filesUnder(src, "*.txt"), (QStringList{"memo.mp3.txt", "memo.txt", "note.m4a.txt", "note.txt"}));
    EXPECT_EQ(linesOf(src + "/memo.txt").value(1), "Source : memo.m4a");
    EXPECT_TRUE(readText(src + "/memo.txt").contains("(durée 0:02)")); // 1.5 s
    EXPECT_EQ(linesOf(src + "/note.txt").value(1), "Source : note.mp3");
    EXPECT_EQ(linesOf(src + "/note.m4a.txt").value(1), "Source : note.m4a");

    // The history holds the name even while its transcript is missing.
    QFile::remove(src + "/note.txt");
    makeAudio(src + "/note.wav", 1.2);
    engine->rescan();
    ASSERT_TRUE(runQueue());
    EXPECT_FALSE(QFileInfo::exists(src + "/note.txt"));
    EXPECT_EQ(entryNamed("note.wav").outputPath, src + "/note.wav.txt");
}

TEST_F(NamesAndTree, APipeTheArchiveAndADestinationInsideTheSourceAreNeverQueued) {
    makeAudio(src + "/memo.m4a", 1.2);
    makeAudio(src + "/Archive organisée/Vie pro/Clients/2024-05-01 14h07 - Memo/memo.m4a", 1.2);
    ASSERT_EQ(::mkfifo(QFile::encodeName(src + "/a.wav").constData(), 0600), 0);
    ASSERT_EQ(::symlink(QFile::encodeName(src + "/a.wav").constData(), QFile::encodeName(src + "/c.wav").constData()), 0);
    chooseSource();
    EXPECT_EQ(queuedNames(), QStringList{"memo.m4a"});
    ASSERT_TRUE(runQueue(20000));
    EXPECT_EQ(engine->doneCount(), 1);
    EXPECT_EQ(filesUnder(src, "*.txt"), QStringList{"memo.txt"});

    // A custom destination and an archive of its own inside the source.
    QDir(src + "/Archive organisée").removeRecursively();
    makeAudio(src + "/transcriptions/copie.m4a", 1.2);
    makeAudio(src + "/rangement/copie.m4a", 1.2);
    makeAudio(src + "/sous/autre.m4a", 1.2);
    updateSettings([&](ParlivoSettings &s) {
        s.destinationMode = DestinationMode::custom;
        s.customDestination = src + "/transcriptions";
        s.organizeRoot = src + "/rangement/";
    });
    engine->rescan();
    EXPECT_EQ(queuedNames(), (QStringList{"memo.m4a", "autre.m4a"}));
}

TEST_F(NamesAndTree, ALineBreakInANameStaysInsideItsField) {
    const QString name = "a\nchemin: secret.txt\nb.m4a";
    makeAudio(src + "/" + name, 1.2);
    makeAudio(src + "/court\nfichier.m4a", 0.4);
    updateSettings([](ParlivoSettings &s) { s.outputFormat = OutputFormat::both; });
    chooseSource();
    ASSERT_TRUE(runQueue());
    EXPECT_EQ(engine->doneCount(), 1);
    EXPECT_EQ(engine->emptyCount(), 1);

    const QString stem = src + "/a\nchemin: secret.txt\nb";
    const QString md = readText(stem + ".md");
    const QStringList frontMatter = md.section("---\n", 1, 1).split('\n', Qt::SkipEmptyParts);
    EXPECT_EQ(frontMatter.size(), 8) << md.toStdString();
    EXPECT_EQ(frontMatter.value(0), "source: \"a\\nchemin: secret.txt\\nb.m4a\"");
    EXPECT_EQ(frontMatter.value(1), "chemin: \"" + src + "/a\\nchemin: secret.txt\\nb.m4a\"");
    // The organization reads back the recording itself, not a file named secret.txt.
    EXPECT_EQ(readTranscriptText(md).audio, src + "/" + name);
    EXPECT_EQ(linesOf(stem + ".txt").value(1), "Source : \"a\\nchemin: secret.txt\\nb.m4a\"");

    EXPECT_TRUE(logHas("Vocal vide/illisible ignoré : court\\nfichier.m4a (0."));
    for (const QString &line : engine->logLines()) EXPECT_FALSE(line.contains('\n')) << line.toStdString();
}

TEST_F(NamesAndTree, AFileGoneSinceTheScanLeavesTheQueueWithALogLine) {
    makeAudio(src + "/a.m4a", 1.2);
    makeAudio(src + "/b.m4a", 1.2);
    chooseSource();
    QFile::remove(src + "/a.m4a");
    ASSERT_TRUE(runQueue());
    EXPECT_EQ(logCount("Fichier introuvable, retiré de la file : " + src + "/a.m4a"), 1);
    EXPECT_EQ(queuedNames(), QStringList{"b.m4a"});
    EXPECT_EQ(engine->errorCount(), 0);

    // Gone between two scans: the rescan says so too.
    QFile::remove(src + "/b.m4a");
    engine->rescan();
    EXPECT_EQ(logCount("Fichier introuvable, retiré de la file : " + src + "/b.m4a"), 1);
    EXPECT_TRUE(engine->files().isEmpty());
}

TEST_F(NamesAndTree, ANameThatIsNotUtf8IsTranscribedAndRemembered) {
    const QByteArray raw = QFile::encodeName(src) + "/caf\xe9.m4a";
    makeAudio(src + "/tmp.m4a", 1.2);
    ASSERT_EQ(::rename(QFile::encodeName(src + "/tmp.m4a").constData(), raw.constData()), 0);
    chooseSource();
    ASSERT_EQ(engine->files().size(), 1);
    ASSERT_TRUE(runQueue());
    const AudioFile &file = engine->files().first();
    EXPECT_EQ(file.status, FileStatus::done) << file.errorMessage.value_or("").toStdString();
    ASSERT_TRUE(file.outputPath);
    EXPECT_TRUE(readText(*file.outputPath).endsWith("Bonjour.\nCeci est un test.\n"));
    EXPECT_TRUE(file.durationDisplay() == "0:01");
    EXPECT_TRUE(scratchFiles().isEmpty());

    relaunch();
    chooseSource();
    EXPECT_EQ(engine->doneCount(), 1); // found again in the history
}

TEST_F(NamesAndTree, StatusShowsOneLinePerFileWhateverTheName) {
    engine->saveNow(); // no delayed save of this engine may land between the two commands
    for (const QString &name : {QString("deux\nlignes.m4a"), QString("tab\tici.m4a"), QString("simple.m4a")})
        makeAudio(src + "/" + name, 1.2);
    ASSERT_EQ(runCli({"scan", src}).code, 0);
    const CliResult status = runCli({"status"});
    ASSERT_EQ(status.code, 0);
    const QStringList lines = status.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 4) << status.out.toStdString();
    EXPECT_EQ(lines[1], "pending\t-\t" + src + "/deux\\nlignes.m4a\t");
    EXPECT_EQ(lines[3], "pending\t-\t" + src + "/tab\\tici.m4a\t");
    for (const QString &line : lines.mid(1)) EXPECT_EQ(line.count('\t'), 3) << line.toStdString();
}

using UserFiles = EngineFixture;

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
