// The stand-in recogniser must behave like whisper-cli where the pipeline
// relies on it, or the pipeline tests built on it prove nothing.

#include <QFile>
#include <QDir>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <nlohmann/json.hpp>

#include <map>

#include "pipeline/whisper_output.h"
#include "support/test_support.h"

using testing_support::buildPath;
using testing_support::writeFile;

namespace {
struct Outcome {
    bool finished = false;
    int exitCode = -1;
    QString standardError;
};

class FakeWhisper : public ::testing::Test {
protected:
    void SetUp() override {
        model = writeFile(dir.filePath("ggml-base.bin"), "not a real model");
        wav = makeWav("memo.wav", 16000, 1);
    }

    QString makeWav(const QString &name, int rate, int channels) {
        const QString path = dir.filePath(name);
        QProcess ffmpeg;
        ffmpeg.start("ffmpeg", {"-y", "-nostdin", "-loglevel", "error", "-f", "lavfi", "-i", "sine=duration=1",
                                "-ac", QString::number(channels), "-ar", QString::number(rate), "-c:a", "pcm_s16le", path});
        EXPECT_TRUE(ffmpeg.waitForFinished(60000));
        EXPECT_EQ(ffmpeg.exitCode(), 0) << ffmpeg.readAllStandardError().toStdString();
        return path;
    }

    QStringList arguments(const QString &audio) const {
        return {"-m", model, "-l", "auto", "-oj", "-of", prefix(), "-pp", "-mc", "0", "-sns", "-t", "2", "-p", "1", audio};
    }
    QString prefix() const { return dir.filePath("result"); }
    QString json() const { return prefix() + ".json"; }

    Outcome run(const QStringList &args, const std::map<QString, QString> &environment = {}, int waitMs = 30000) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const auto &[key, value] : environment) env.insert(key, value);
        QProcess process;
        process.setProcessEnvironment(env);
        process.setStandardInputFile(QProcess::nullDevice());
        process.start(buildPath("fake-whisper-cli"), args);
        Outcome outcome;
        outcome.finished = process.waitForFinished(waitMs);
        if (!outcome.finished) {
            process.kill();
            process.waitForFinished(5000);
        }
        outcome.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        outcome.standardError = QString::fromUtf8(process.readAllStandardError());
        return outcome;
    }

    QTemporaryDir dir;
    QString model;
    QString wav;
};
} // namespace

TEST_F(FakeWhisper, WritesTheRealLayoutThatTheParserReadsBack) {
    const QString argsLog = dir.filePath("args.log");
    const auto outcome = run(arguments(wav), {{"FAKE_WHISPER_DELAY", "0.4"},
                                              {"FAKE_WHISPER_ARGS_LOG", argsLog},
                                              {"FAKE_WHISPER_SEGMENTS", R"([" Bonjour.", {"text": "Deuxième", "from": 2500, "to": 4020}])"}});
    ASSERT_TRUE(outcome.finished);
    EXPECT_EQ(outcome.exitCode, 0) << outcome.standardError.toStdString();

    const auto segments = parseWhisperJSON(json());
    ASSERT_TRUE(segments);
    EXPECT_EQ(*segments, (QList<Segment>{{0, 2.5, " Bonjour."}, {2.5, 4.02, QStringLiteral(" Deuxième")}}));

    QFile file(json());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const auto real = nlohmann::json::parse(file.readAll().toStdString());
    for (const char *key : {"systeminfo", "model", "params", "result", "transcription"}) EXPECT_TRUE(real.contains(key)) << key;
    EXPECT_EQ(real["result"]["language"], "fr");
    EXPECT_EQ(real["transcription"][1]["timestamps"]["to"], "00:00:04,020");

    // Each call leaves its argument list, as received.
    QFile log(argsLog);
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const auto received = nlohmann::json::parse(log.readLine().toStdString());
    QStringList receivedArgs;
    for (const auto &arg : received) receivedArgs.append(QString::fromStdString(arg.get<std::string>()));
    EXPECT_EQ(receivedArgs, arguments(wav));
}

TEST_F(FakeWhisper, ReportsRisingProgressInTheRealForm) {
    const auto outcome = run(arguments(wav), {{"FAKE_WHISPER_DELAY", "0.2"}});
    ASSERT_EQ(outcome.exitCode, 0);
    EXPECT_TRUE(outcome.standardError.contains("whisper_print_progress_callback: progress =  25%\n"));
    QList<int> percentages;
    for (const auto &line : outcome.standardError.split('\n'))
        if (auto p = parseWhisperProgress(line)) percentages.append(*p);
    ASSERT_EQ(percentages.size(), 20);
    for (qsizetype i = 1; i < percentages.size(); ++i) EXPECT_GT(percentages[i], percentages[i - 1]);
    EXPECT_EQ(percentages.last(), 100);
}

TEST_F(FakeWhisper, DefaultSegmentsMakeAShortFrenchText) {
    ASSERT_EQ(run(arguments(wav)).exitCode, 0);
    const auto segments = parseWhisperJSON(json());
    ASSERT_TRUE(segments);
    EXPECT_TRUE(segments->first().text.startsWith(' ')); // as the real program writes them
    EXPECT_EQ(plainText(*segments), "Bonjour.\nCeci est un test.");
}

TEST_F(FakeWhisper, AnUnknownArgumentIsReportedWithStatusZeroAndNoJson) {
    auto args = arguments(wav);
    args.insert(0, "-np");
    const auto outcome = run(args);
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_TRUE(outcome.standardError.contains("error: unknown argument: -np")) << outcome.standardError.toStdString();
    EXPECT_FALSE(QFile::exists(json()));
}

TEST_F(FakeWhisper, RefusesAudioThatWasNotConverted) {
    const QString stereo = makeWav("stereo.wav", 44100, 2);
    const QString notWav = writeFile(dir.filePath("memo.m4a.wav"), QByteArray(4096, 'x'));
    for (const auto &audio : {stereo, notWav, dir.filePath("absent.wav")}) {
        const auto outcome = run(arguments(audio));
        EXPECT_NE(outcome.exitCode, 0) << audio.toStdString();
        EXPECT_TRUE(outcome.standardError.contains(audio)) << outcome.standardError.toStdString();
        EXPECT_FALSE(QFile::exists(json())) << audio.toStdString();
    }
}

TEST_F(FakeWhisper, AMissingModelFails) {
    QFile::remove(model);
    EXPECT_NE(run(arguments(wav)).exitCode, 0);
    EXPECT_FALSE(QFile::exists(json()));
}

TEST_F(FakeWhisper, FailsOnceItsCallBudgetIsSpent) {
    const std::map<QString, QString> env = {{"FAKE_WHISPER_FAIL_AFTER", "1"},
                                            {"FAKE_WHISPER_COUNTER", dir.filePath("calls")}};
    EXPECT_EQ(run(arguments(wav), env).exitCode, 0);
    ASSERT_TRUE(QFile::remove(json()));
    for (int call = 2; call <= 3; ++call) {
        EXPECT_NE(run(arguments(wav), env).exitCode, 0) << "call " << call;
        EXPECT_FALSE(QFile::exists(json()));
    }
}

TEST_F(FakeWhisper, AChosenExitStatusEndsWithAnErrorLine) {
    const auto outcome = run(arguments(wav), {{"FAKE_WHISPER_EXIT", "3"}});
    EXPECT_EQ(outcome.exitCode, 3);
    EXPECT_EQ(lastLines(outcome.standardError, 1), "error: simulated failure");
}

TEST_F(FakeWhisper, HangsUntilTerminated) {
    const auto outcome = run(arguments(wav), {{"FAKE_WHISPER_HANG", "1"}}, 800);
    EXPECT_FALSE(outcome.finished);
    EXPECT_TRUE(outcome.standardError.contains("progress =   5%")) << outcome.standardError.toStdString();
    EXPECT_FALSE(QFile::exists(json()));
}
