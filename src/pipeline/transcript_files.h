#pragma once
// The transcript files written for each recording: their names, the dated
// header, and the exact layout of the .txt and the .md. The correction pass and
// the organization passes read these files back, so every marker is fixed.

#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

#include "core/atomic_file.h"
#include "core/settings.h"
#include "pipeline/whisper_output.h"

struct TranscriptPaths {
    QString txt;
    QString md;
};

// The source file name without its last extension.
QString transcriptBaseName(const QString &sourcePath);

// `<base>.txt` and `<base>.md` in `destinationDir`.
TranscriptPaths transcriptPaths(const QString &sourcePath, const QString &destinationDir);

// When the recording was made: the date in a name like "20240105 093012…",
// else the file's creation time, else now. Never fails.
QDateTime recordingDate(const QString &sourcePath);

// "5 décembre 2026 à 14h07", in local time, whatever the process locale.
QString readableRecordingStamp(const QDateTime &date);

// The date such a stamp gives, in local time; nothing for any other text.
std::optional<QDateTime> parseRecordingStamp(const QString &stamp);

// "5 décembre 2026 à 14:07", in local time, whatever the process locale.
QString frenchTimestamp(const QDateTime &date = QDateTime::currentDateTime());

// "aucune" for a raw transcript, else the backend and its model.
QString correctionLabel(const ParlivoSettings &settings, bool corrected);

// The uncorrected text: cleaned plain text, or one timed line per segment
// (uncleaned) when `timestamps` is on.
QString transcriptBody(const QList<Segment> &segments, bool timestamps);

// Everything one transcript is made of, given explicitly.
struct TranscriptInputs {
    QString sourcePath;
    QDateTime recordedAt;
    QDateTime writtenAt;
    std::optional<double> duration; // seconds, when the probe gave one
    QList<Segment> segments;
    std::optional<QString> correctedText;
    QString recognisedOn; // the recognition server's machine; empty when recognised here
};

QString txtContent(const TranscriptInputs &inputs, const ParlivoSettings &settings);
QString mdContent(const TranscriptInputs &inputs, const ParlivoSettings &settings);

// Writes the subtitles the settings ask for, then the transcripts the output
// format asks for (with `both`, the .txt first and no .md when it fails), each
// replaced atomically in UTF-8. Returns nothing on success, else why (a full
// disk included). `recognisedOn`: as in TranscriptInputs.
std::optional<WriteError> writeOutputs(const QList<Segment> &segments, const std::optional<QString> &correctedText,
                                       const QString &sourcePath, std::optional<double> duration,
                                       const QString &txtPath, const QString &mdPath, const ParlivoSettings &settings,
                                       const QString &recognisedOn = {});
