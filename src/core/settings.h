#pragma once
// Every user option of Parlivo, stored as settings.json. Decoding is tolerant
// key by key (a missing key keeps its default) but never partial: a present key
// of the wrong type fails the whole record.

#include <QString>

#include <optional>

#include "core/enums.h"
#include "core/json_coding.h"

struct ParlivoSettings {
    static const QString defaultCorrectionPrompt;

    QString modelPath;
    QString language = QStringLiteral("auto");
    OutputFormat outputFormat = OutputFormat::txt;
    DestinationMode destinationMode = DestinationMode::besideSource;
    std::optional<QString> customDestination;
    int parallelism = 1;
    bool timestamps = false;
    bool autoResume = true;
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

    bool operator==(const ParlivoSettings &) const = default;

    // A parallelism below 1 behaves as 1 everywhere.
    int effectiveParallelism() const { return parallelism < 1 ? 1 : parallelism; }
};

Json toJson(const ParlivoSettings &settings);
ParlivoSettings settingsFromJson(const Json &json);

// The keys of the record, in declaration order.
const QStringList &settingsKeys();
