// The stand-in recogniser must behave like whisper-cli where the pipeline
// relies on it, or the pipeline tests built on it prove nothing.

#include <QFile>
#include <QTemporaryDir>

#include "core/atomic_file.h"
#include "core/json_coding.h"
#include "pipeline/whisper_output.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

class FakeWhisper : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString model = writeFile(dir.filePath("ggml-base.bin"), "not a real model");
    QString wav = makeAudio(dir.filePath("memo.wav"), 1, {"-ar", "16000"});
    QString json = dir.filePath("result.json");
    QStringList arguments(const QString &audio) const {
        return {"-m", model, "-l", "auto", "-oj", "-of", dir.filePath("result"), "-pp", "-mc", "0", "-sns",
                "-t", "2", "-p", "1", audio};
    }
    CliResult run(const QStringList &args, const QStringList &env = {}) {
        return runProgram(buildPath("fake-whisper-cli"), args, env, 30000);
    }
};

} // namespace

TEST_F(FakeWhisper, WritesTheRealLayoutWithRisingProgressAndLogsItsArguments) {
    const QString argsLog = dir.filePath("args.log");
    const auto outcome = run(arguments(wav), {"FAKE_WHISPER_DELAY=0.4", "FAKE_WHISPER_ARGS_LOG=" + argsLog,
                                              R"(FAKE_WHISPER_SEGMENTS=[" Bonjour.", {"text": "Deuxième", "from": 2500, "to": 4020}])"});
    ASSERT_EQ(outcome.code, 0) << outcome.err.toStdString();
    EXPECT_EQ(parseWhisperJSON(json), (QList<Segment>{{0, 2.5, " Bonjour."}, {2.5, 4.02, " Deuxième"}}));
    const Json real = parseJson(*readWholeFile(json));
    for (const char *key : {"systeminfo", "model", "params", "result", "transcription"}) EXPECT_TRUE(real.contains(key)) << key;
    EXPECT_EQ(real["result"]["language"], "fr");
    EXPECT_EQ(real["transcription"][1]["timestamps"]["to"], "00:00:04,020");

    EXPECT_TRUE(outcome.err.contains("whisper_print_progress_callback: progress =  25%\n"));
    QList<int> percentages;
    for (const auto &line : outcome.err.split('\n'))
        if (auto p = parseWhisperProgress(line)) percentages.append(*p);
    ASSERT_EQ(percentages.size(), 20);
    for (qsizetype i = 1; i < percentages.size(); ++i) EXPECT_GT(percentages[i], percentages[i - 1]);

    QStringList received;
    for (const auto &arg : parseJson(readText(argsLog).toUtf8())) received.append(QString::fromStdString(arg.get<std::string>()));
    EXPECT_EQ(received, arguments(wav));

    // Without segments given: a short French text, each segment starting with a space.
    ASSERT_EQ(run(arguments(wav)).code, 0);
    EXPECT_EQ(parseWhisperJSON(json), (QList<Segment>{{0, 2.5, " Bonjour."}, {2.5, 5, " Ceci est un test."}}));
}

TEST_F(FakeWhisper, UnknownArgumentsUnconvertedAudioAndMissingModelsWriteNoJson) {
    auto args = arguments(wav);
    args.insert(0, "-np");
    const auto unknown = run(args);
    EXPECT_EQ(unknown.code, 0); // as the real program does
    EXPECT_TRUE(unknown.err.contains("error: unknown argument: -np"));
    EXPECT_FALSE(QFile::exists(json));

    const QString notWav = writeFile(dir.filePath("memo.m4a.wav"), QByteArray(4096, 'x'));
    for (const auto &audio : {makeAudio(dir.filePath("stereo.wav"), 1, {"-ac", "2"}), notWav, dir.filePath("absent.wav")}) {
        const auto outcome = run(arguments(audio));
        EXPECT_NE(outcome.code, 0) << audio.toStdString();
        EXPECT_TRUE(outcome.err.contains(audio)) << outcome.err.toStdString();
        EXPECT_FALSE(QFile::exists(json)) << audio.toStdString();
    }
    QFile::remove(model);
    EXPECT_NE(run(arguments(wav)).code, 0);
    EXPECT_FALSE(QFile::exists(json));
}
