#pragma once
// Helpers for the correction and Ollama tests: transcripts as the pipeline
// writes them, and a stand-in `ollama` program that only records how it was
// started (the tests never start a real server).

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <unistd.h>

#include "core/atomic_file.h"
#include "correction/correction_pass_end.h"
#include "pipeline/transcript_files.h"
#include "provisioning/ollama_local.h"
#include "support/engine_fixture.h"
#include "support/fake_llm_server.h"
#include "support/test_support.h"

namespace testing_support {

// A transcript written without correction, through the pipeline's own writer,
// as `<folder>/<name>.md` (and `.txt` with `withPlain`). Returns the .md path.
inline QString writeRawTranscript(const QString &folder, const QString &name, const QString &body,
                                  bool withPlain = true) {
    ParlivoSettings settings;
    settings.modelPath = QStringLiteral("/models/ggml-base.bin");
    TranscriptInputs inputs;
    inputs.sourcePath = folder + QLatin1Char('/') + name + QStringLiteral(".m4a");
    inputs.recordedAt = QDateTime(QDate(2026, 12, 5), QTime(14, 7));
    inputs.writtenAt = inputs.recordedAt.addSecs(60);
    inputs.duration = 5;
    inputs.segments = {Segment{0, 5, body}};
    const QString md = folder + QLatin1Char('/') + name + QStringLiteral(".md");
    writeFile(md, mdContent(inputs, settings).toUtf8());
    if (withPlain)
        writeFile(folder + QLatin1Char('/') + name + QStringLiteral(".txt"), txtContent(inputs, settings).toUtf8());
    return md;
}

// A dictation of exactly `length` characters, starting with `tag` and ending
// with a full stop (nothing a trim would change).
inline QString dictation(const QString &tag, int length) {
    QString text = tag + QStringLiteral(" : ");
    while (text.size() < length) text += QStringLiteral("on avance sur le projet, ");
    return text.left(length - 1) + QLatin1Char('.');
}

// Writes an executable `ollama` at `path` that appends one line per start to
// `callsLog`: its arguments, then whether it runs in a session of its own
// ("own-session" or "same-session" as the test process).
inline QString writeStandInOllama(const QString &path, const QString &callsLog) {
    const QString script =
        QStringLiteral("#!/bin/sh\n"
                       "sid=$(ps -o sid= -p $$ | tr -d ' ')\n"
                       "if [ \"$sid\" = \"%1\" ]; then where=same-session; else where=own-session; fi\n"
                       "echo \"$* $where\" >> '%2'\n")
            .arg(::getsid(0))
            .arg(callsLog);
    writeFile(path, script.toUtf8());
    QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ExeOwner);
    return path;
}

// An engine correcting with the stand-in server, its transcripts in `out`.
class CorrectionFixture : public EngineFixture {
protected:
    FakeLlmServer server;
    QString out = home.file("out");

    void SetUp() override {
        EngineFixture::SetUp();
        ASSERT_NE(server.port(), 0);
        server.setModels({"qwen2.5:7b"});
        prepareEngine();
    }
    // Again after a relaunch.
    void prepareEngine() {
        using namespace std::chrono_literals;
        engine->setOllamaTimings({3, 10ms, 50ms});
        updateSettings([&](ParlivoSettings &s) {
            s.correctionEnabled = true;
            s.ollamaEndpoint = server.endpoint();
            s.destinationMode = DestinationMode::custom;
            s.customDestination = out;
        });
    }
};

} // namespace testing_support
