#pragma once
// The pure rules of transcribing one file: arguments of the outside programs,
// time limits, reading their answers, and the texts of the outcomes.

#include <QString>
#include <QStringList>

#include <optional>

#include "core/enums.h"

inline constexpr double emptyThresholdSeconds = 1.0;
inline constexpr double progressBeforeCorrection = 0.97;
inline constexpr int failureTailLines = 6;

// How long the outside programs may take. The tests shorten them to see a
// hanging program ended without waiting ten minutes.
struct TimeLimits {
    double probe = 120;
    double conversion = 600;
    double recognitionFactor = 15; // × the audio duration
    double recognitionFloor = 600;
    double recognitionUnknown = 9000;

    // max(15 × duration, 600 s) when the duration is known, else 9000 s.
    double recognition(std::optional<double> duration) const;
};

QStringList ffmpegArguments(const QString &source, const QString &wav);
QStringList afconvertArguments(const QString &source, const QString &wav);
QStringList whisperArguments(const QString &model, const QString &language, const QString &outputPrefix,
                             int threads, const QString &wav);
QStringList ffprobeArguments(const QString &source);

// A decimal number of seconds from ffprobe's output, or from afinfo's
// "estimated duration:" line.
std::optional<double> parseFfprobeDuration(const QString &output);
std::optional<double> parseAfinfoDuration(const QString &output);

// A transcript is up to date when it is at least as new as its source.
bool shouldSkip(const QString &source, const QString &txt, const QString &md, OutputFormat format);

// "0.40 s", or "0 s" for no positive duration.
QString emptyDurationText(std::optional<double> duration);
QString emptyMessage(const QString &durationText);

// The first non-empty line of a message (the whole message if none).
QString firstLine(const QString &message);
