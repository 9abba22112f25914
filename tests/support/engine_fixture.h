#pragma once
// An engine pointed at the stand-in recogniser and the real ffmpeg, in a
// temporary home, with the language-model stages off.

#include <QDir>
#include <QFile>

#include <memory>

#include "engine/transcriber.h"
#include "support/test_support.h"

namespace testing_support {

class EngineFixture : public ::testing::Test {
protected:
    TempHome home;
    QString src = home.file("memos");
    QString model = writeFile(home.file(".hestia/ggml-base.bin"), "model");
    QString argsLog = home.file("whisper-args.log");
    QString probeLog = home.file("probe.log");
    ScopedEnv whisperEnv{{"FAKE_WHISPER_ARGS_LOG", argsLog}};
    std::unique_ptr<Transcriber> engine;

    // ffprobe through a wrapper that counts its calls.
    virtual Tools tools() const;
    // A new engine on the same home, as after a restart.
    void relaunch();
    void SetUp() override { relaunch(); }
    void chooseSource() { engine->setSourceFolder(QUrl::fromLocalFile(src)); }

    void updateSettings(const std::function<void(ParlivoSettings &)> &change);
    // Every recognition ends after `seconds`, whatever the file's length.
    void limitRecognitionTo(int seconds);
    // start() then wait for the run to end.
    bool runQueue(int timeoutMs = 60000);
    int recogniserCalls() const { return lineCount(argsLog); }
    int probeCalls() const { return lineCount(probeLog); }
    static int lineCount(const QString &path);
    int logCount(const QString &text) const { return int(engine->logLines().filter(text).size()); }
    bool logHas(const QString &text) const { return logCount(text) > 0; }
    const AudioFile &entryNamed(const QString &fileName) const;
    QStringList scratchFiles() const { return home.scratchFiles(); }
};

} // namespace testing_support
