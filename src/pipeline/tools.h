#pragma once
// The outside programs Parlivo runs, located once when the engine is created.

#include <QString>

#include <optional>

struct Tools {
    std::optional<QString> whisper;   // the recogniser, whisper-cli
    std::optional<QString> ffmpeg;    // preferred converter
    std::optional<QString> ffprobe;   // preferred duration probe
    std::optional<QString> afconvert; // platform converter
    std::optional<QString> afinfo;    // platform duration reader
    std::optional<QString> ollama;    // the local language-model server, when installed like a tool

    // The application's own copies first, then the usual install folders, then PATH.
    static std::optional<QString> find(const QString &name);
    // PARLIVO_WHISPER_CLI, when set, names the recogniser and nothing else is searched.
    static Tools resolve();

    // A run needs the recogniser and a converter; the probes are optional.
    bool ready() const { return whisper && canConvert(); }
    bool canConvert() const { return ffmpeg || afconvert; }
};

// Said in the log and the window when the recogniser is missing: what gets
// one on Linux.
inline constexpr const char *missingRecogniserText =
    "whisper-cli introuvable. Lance scripts/setup, qui le construit, ou installe le paquet whisper.cpp de ta "
    "distribution.";
