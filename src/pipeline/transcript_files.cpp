#include "pipeline/transcript_files.h"

#include "core/text.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>

#include <fcntl.h>
#include <sys/stat.h>

#include "core/atomic_file.h"
#include "core/file_names.h"
#include "core/records.h"
#include "pipeline/header_values.h"
#include "pipeline/transcript_names.h"
#include "subtitles/subtitle_files.h"

QString transcriptBaseName(const QString &sourcePath) {
    const QString name = QFileInfo(sourcePath).fileName();
    // A leading dot starts a hidden name, not an extension.
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot > 0 ? name.left(dot) : name;
}

TranscriptPaths transcriptPaths(const QString &sourcePath, const QString &destinationDir) {
    const QString stem = QDir(destinationDir).filePath(transcriptBaseName(sourcePath));
    return {stem + QStringLiteral(".txt"), stem + QStringLiteral(".md")};
}

namespace {
// Recorders name files "yyyyMMdd HHmmss…"; such a name is the best date there is.
std::optional<QDateTime> dateFromName(const QString &sourcePath) {
    static const QRegularExpression pattern(QStringLiteral("^\\d{8}\\s+\\d{6}"),
                                            QRegularExpression::UseUnicodePropertiesOption);
    const auto match = pattern.match(transcriptBaseName(sourcePath));
    if (!match.hasMatch()) return std::nullopt;
    QString digits;
    for (QChar c : match.captured(0))
        if (c.isDigit()) digits.append(c);
    const QDateTime date = QDateTime::fromString(digits, QStringLiteral("yyyyMMddHHmmss")); // local time
    if (!date.isValid()) return std::nullopt;
    return date;
}

// The birth time, which survives edits unlike the modification time; not every
// file system records it.
std::optional<QDateTime> creationTime(const QString &path) {
#ifdef STATX_BTIME
    struct statx info {};
    if (::statx(AT_FDCWD, encodeFileName(path).constData(), 0, STATX_BTIME, &info) != 0) return std::nullopt;
    if (!(info.stx_mask & STATX_BTIME)) return std::nullopt;
    const qint64 ms = qint64(info.stx_btime.tv_sec) * 1000 + info.stx_btime.tv_nsec / 1000000;
    return QDateTime::fromMSecsSinceEpoch(ms).toLocalTime();
#else
    Q_UNUSED(path);
    return std::nullopt;
#endif
}

QString frenchDate(const QDateTime &date, const QString &format) {
    return QLocale(QLocale::French, QLocale::France).toString(date.toLocalTime(), format);
}

const QString recordingStampFormat = QStringLiteral("d MMMM yyyy 'à' HH'h'mm");
} // namespace

QDateTime recordingDate(const QString &sourcePath) {
    if (auto date = dateFromName(sourcePath)) return *date;
    if (auto date = creationTime(sourcePath)) return *date;
    return QDateTime::currentDateTime();
}

QString readableRecordingStamp(const QDateTime &date) { return frenchDate(date, recordingStampFormat); }

std::optional<QDateTime> parseRecordingStamp(const QString &stamp) {
    const QDateTime date = QLocale(QLocale::French, QLocale::France).toDateTime(stamp.trimmed(), recordingStampFormat);
    if (!date.isValid()) return std::nullopt;
    return date;
}

QString frenchTimestamp(const QDateTime &date) { return frenchDate(date, QStringLiteral("d MMMM yyyy 'à' HH:mm")); }

QString correctionLabel(const ParlivoSettings &settings, bool corrected) {
    if (!corrected) return QStringLiteral("aucune");
    const QString &model = settings.correctionBackend == CorrectionBackend::ollama ? settings.ollamaModel
                                                                                   : settings.anthropicModel;
    return label(settings.correctionBackend) + QStringLiteral(" (") + model + QLatin1Char(')');
}

QString transcriptBody(const QList<Segment> &segments, bool timestamps) {
    if (!timestamps) return plainText(segments);
    QStringList lines;
    lines.reserve(segments.size());
    for (const auto &segment : segments)
        lines.append(QStringLiteral("[%1 -> %2] %3")
                         .arg(formatClock(segment.start), formatClock(segment.end), trimSpacesAndTabs(segment.text)));
    return lines.join(QLatin1Char('\n'));
}

namespace {
QString mainText(const TranscriptInputs &inputs, const ParlivoSettings &settings) {
    return inputs.correctedText ? *inputs.correctedText : transcriptBody(inputs.segments, settings.timestamps);
}
} // namespace

QString txtContent(const TranscriptInputs &inputs, const ParlivoSettings &settings) {
    QString header = QStringLiteral("Mémo vocal du ") + readableRecordingStamp(inputs.recordedAt);
    if (inputs.duration) header += QStringLiteral("  (durée ") + formatClock(*inputs.duration) + QLatin1Char(')');
    return header + QLatin1Char('\n') + QStringLiteral("Source : ") + headerValue(QFileInfo(inputs.sourcePath).fileName()) +
           QLatin1Char('\n') + QString(56, QLatin1Char('=')) + QStringLiteral("\n\n") + mainText(inputs, settings) +
           QLatin1Char('\n');
}

QString mdContent(const TranscriptInputs &inputs, const ParlivoSettings &settings) {
    const QString stamp = readableRecordingStamp(inputs.recordedAt);
    const QString duration = inputs.duration ? formatClock(*inputs.duration) : QStringLiteral("inconnue");
    const bool corrected = inputs.correctedText.has_value();
    // Values are written raw, unquoted, as the later passes read them back;
    // only a name with a line break in it is quoted, to stay on its line.
    QString out = QStringLiteral("---\n");
    out += QStringLiteral("source: ") + headerValue(QFileInfo(inputs.sourcePath).fileName()) + QLatin1Char('\n');
    out += QStringLiteral("chemin: ") + headerValue(inputs.sourcePath) + QLatin1Char('\n');
    out += QStringLiteral("date: ") + stamp + QLatin1Char('\n');
    out += QStringLiteral("duree: ") + duration + QLatin1Char('\n');
    // A server does not say which model it runs: the transcript names the machine.
    const QString model = inputs.recognisedOn.isEmpty() ? QFileInfo(QDir::cleanPath(settings.modelPath)).fileName()
                                                        : QStringLiteral("serveur ") + inputs.recognisedOn;
    out += QStringLiteral("modele: ") + model + QLatin1Char('\n');
    out += QStringLiteral("langue: ") + settings.language + QLatin1Char('\n');
    out += QStringLiteral("correction: ") + correctionLabel(settings, corrected) + QLatin1Char('\n');
    out += QStringLiteral("transcrit_le: ") + frenchTimestamp(inputs.writtenAt) + QLatin1Char('\n');
    out += QStringLiteral("---\n\n# Mémo vocal du ") + stamp + QStringLiteral("\n\n");
    out += mainText(inputs, settings);
    if (corrected && settings.keepRawTranscript)
        out += QStringLiteral("\n\n## Transcription brute\n\n") + transcriptBody(inputs.segments, settings.timestamps);
    out += QLatin1Char('\n');
    return out;
}

namespace {
std::optional<WriteError> writeTranscripts(const TranscriptInputs &inputs, const QString &txtPath,
                                           const QString &mdPath, const ParlivoSettings &settings) {
    if (settings.outputFormat != OutputFormat::md)
        if (auto error = writeFileAtomically(txtPath, txtContent(inputs, settings).toUtf8())) return error;
    if (settings.outputFormat != OutputFormat::txt)
        if (auto error = writeFileAtomically(mdPath, mdContent(inputs, settings).toUtf8())) return error;
    return std::nullopt;
}
} // namespace

std::optional<WriteError> writeOutputs(const QList<Segment> &segments, const std::optional<QString> &correctedText,
                                       const QString &sourcePath, std::optional<double> duration,
                                       const QString &txtPath, const QString &mdPath, const ParlivoSettings &settings,
                                       const QString &recognisedOn) {
    if (auto error = makeFolderFor(txtPath)) return error;
    if (settings.outputFormat != OutputFormat::txt &&
        QFileInfo(mdPath).absolutePath() != QFileInfo(txtPath).absolutePath())
        if (auto error = makeFolderFor(mdPath)) return error;

    const TranscriptInputs inputs{sourcePath, recordingDate(sourcePath), QDateTime::currentDateTime(),
                                  duration,   segments,                  correctedText, recognisedOn};
    // Subtitles go first: a transcript on disk always has its subtitles beside
    // it, and a failed subtitle leaves the recording to transcribe again, not
    // done without them. Those this call made go again on any failure, so no
    // subtitle file stands without its transcript.
    QStringList created;
    auto error = writeSubtitles(segments, transcriptStem(txtPath), settings.subtitleFormat, created);
    if (!error) error = writeTranscripts(inputs, txtPath, mdPath, settings);
    if (error)
        for (const QString &path : std::as_const(created)) QFile::remove(path);
    return error;
}
