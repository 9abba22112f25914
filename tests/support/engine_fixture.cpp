#include "support/engine_fixture.h"

#include "core/atomic_file.h"
#include "pipeline/pipeline_rules.h"

namespace testing_support {

Tools EngineFixture::tools() const {
    const QString wrapper = home.file("bin/ffprobe");
    if (!QFile::exists(wrapper)) {
        writeFile(wrapper, QStringLiteral("#!/bin/sh\necho probe >> '%1'\nexec /usr/bin/ffprobe \"$@\"\n")
                               .arg(probeLog)
                               .toUtf8());
        QFile::setPermissions(wrapper, QFile::permissions(wrapper) | QFileDevice::ExeOwner);
    }
    Tools t;
    t.whisper = buildPath(QStringLiteral("fake-whisper-cli"));
    t.ffmpeg = QStringLiteral("/usr/bin/ffmpeg");
    t.ffprobe = wrapper;
    return t;
}

void EngineFixture::relaunch() {
    if (engine) engine->saveNow();
    engine.reset();
    engine = std::make_unique<Transcriber>(tools());
    updateSettings([&](ParlivoSettings &s) {
        s.modelPath = model;
        s.correctionEnabled = false;
        s.organizeEnabled = false;
    });
}

void EngineFixture::updateSettings(const std::function<void(ParlivoSettings &)> &change) {
    ParlivoSettings s = engine->settings();
    change(s);
    engine->setSettings(s);
}

void EngineFixture::limitRecognitionTo(int seconds) {
    TimeLimits limits;
    limits.recognitionFactor = 0;
    limits.recognitionFloor = seconds;
    engine->setTimeLimits(limits);
}

bool EngineFixture::runQueue(int timeoutMs) {
    engine->start();
    return runTask(engine->waitForRun(), timeoutMs);
}

int EngineFixture::lineCount(const QString &path) {
    auto bytes = readWholeFile(path);
    return bytes ? int(bytes->count('\n')) : 0;
}

const AudioFile &EngineFixture::entryNamed(const QString &fileName) const {
    for (const AudioFile &f : engine->files())
        if (f.fileName() == fileName) return f;
    ADD_FAILURE() << "not in the queue: " << fileName.toStdString();
    static AudioFile none;
    return none;
}

} // namespace testing_support
