#pragma once
// Every user option of Parlivo, stored as settings.json. Decoding is tolerant
// key by key: a missing key keeps its default, and so does a key whose value
// is of the wrong type or out of range (the others still count).

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

#include "core/enums.h"
#include "core/json_coding.h"

// A machine running whisper-server that takes files of a batch. The access
// key, when set, goes as a bearer header (for a server behind a proxy).
struct RecognitionServer {
    QString address; // http:// or https://, e.g. http://192.168.1.20:8080
    QString accessKey;

    bool operator==(const RecognitionServer &) const = default;
};

struct ParlivoSettings {
    static const QString defaultCorrectionPrompt;

    QString modelPath;
    QString language = QStringLiteral("auto");
    OutputFormat outputFormat = OutputFormat::txt;
    SubtitleFormat subtitleFormat = SubtitleFormat::none;
    DestinationMode destinationMode = DestinationMode::besideSource;
    std::optional<QString> customDestination;
    int parallelism = 1;
    bool timestamps = false;
    bool autoResume = true;
    bool watchFolder = false;
    bool correctionEnabled = true;
    CorrectionBackend correctionBackend = CorrectionBackend::ollama;
    QString ollamaEndpoint = QStringLiteral("http://127.0.0.1:11434");
    QString ollamaModel = QStringLiteral("qwen2.5:7b");
    QString anthropicModel = QStringLiteral("claude-haiku-4-5-20251001");
    QString anthropicKey;
    bool keepRawTranscript = true;
    QString correctionPrompt = defaultCorrectionPrompt;
    bool organizeEnabled = true;
    std::optional<QString> organizeRoot;
    bool organizeCopyAudio = true;
    QString organizeModel;
    QList<RecognitionServer> recognitionServers;

    bool operator==(const ParlivoSettings &) const = default;

    // A parallelism below 1 behaves as 1 everywhere.
    int effectiveParallelism() const { return parallelism < 1 ? 1 : parallelism; }
    // The local recognitions run at once: none is allowed only when servers take the files.
    int localWorkers() const { return parallelism < 1 && !recognitionServers.isEmpty() ? 0 : effectiveParallelism(); }
};

Json toJson(const ParlivoSettings &settings);

// The most files transcribed at once: the number of processor cores.
int maxParallelism();

// An http:// or https:// address with a host: what a recognition server may be.
bool acceptableServerAddress(const QString &address);

struct SettingsReading {
    ParlivoSettings settings;
    QStringList setAside; // keys whose stored value could not be used
};

// Reads a stored record key by key. A value is unusable when it has the wrong
// type or is out of range: parallelism outside 1 to maxParallelism() (0 is
// allowed when recognition servers are set), a server address that is not
// http or https, a
// language other than auto, fr or en, a relative folder. DecodeError only
// when the document is not an object.
SettingsReading readSettings(const Json &json);

// The same, strict: DecodeError when any value is unusable.
ParlivoSettings settingsFromJson(const Json &json);

// What a key accepts, in French, for the keys with a range; empty for the others.
QString settingRule(const QString &key);

// The keys of the record, in declaration order.
const QStringList &settingsKeys();
