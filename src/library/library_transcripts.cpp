#include "library/library_transcripts.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

#include "core/atomic_file.h"
#include "core/source_files.h"
#include "organize/transcript_reading.h"
#include "pipeline/transcript_files.h"

namespace {
// "1:02:03", "2:03" or "0:05", as the timed lines write them.
std::optional<double> clockSeconds(const QString &clock) {
    double seconds = 0;
    for (const QString &part : clock.split(QLatin1Char(':'))) {
        bool ok = false;
        const int value = part.toInt(&ok);
        if (!ok) return std::nullopt;
        seconds = seconds * 60 + value;
    }
    return seconds;
}

// The segments of a text written with timestamps, "[0:00 -> 0:02] Bonjour."
// a line; nothing when any line is not such a line.
std::optional<QList<Segment>> timedSegments(const QString &body) {
    static const QRegularExpression timed(QStringLiteral("^\\[([\\d:]+) -> ([\\d:]+)\\] ?(.*)$"),
                                          QRegularExpression::UseUnicodePropertiesOption);
    QList<Segment> segments;
    for (const QString &line : body.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const auto match = timed.match(line);
        if (!match.hasMatch()) return std::nullopt;
        const auto start = clockSeconds(match.captured(1));
        const auto end = clockSeconds(match.captured(2));
        if (!start || !end) return std::nullopt;
        segments.append({*start, *end, match.captured(3)});
    }
    if (segments.isEmpty()) return std::nullopt;
    return segments;
}

QString recordingBeside(const QString &transcriptPath, const QString &sourceName) {
    if (sourceName.isEmpty() || sourceName.contains(QLatin1Char('/'))) return {};
    const QString path = QFileInfo(transcriptPath).dir().filePath(sourceName);
    return QFileInfo(path).isFile() ? path : QString();
}

bool isMarkdown(const QString &path) { return path.endsWith(QLatin1String(".md"), Qt::CaseInsensitive); }
} // namespace

std::optional<LibraryMemo> memoFromTranscript(const QString &transcriptPath, const QString &fileText) {
    const TranscriptText transcript =
        isMarkdown(transcriptPath) ? readTranscriptText(fileText) : readPlainTranscriptText(fileText);
    if (transcript.sourceName.isEmpty()) return std::nullopt;
    LibraryMemo memo;
    memo.transcriptPath = QDir::cleanPath(transcriptPath);
    memo.audioPath = transcript.audio.value_or(recordingBeside(transcriptPath, transcript.sourceName));
    memo.date = parseRecordingStamp(transcript.date);
    memo.text = transcript.body;
    if (auto segments = timedSegments(transcript.body)) {
        memo.segments = *segments;
        QStringList lines;
        for (const Segment &segment : *segments) lines.append(segment.text);
        memo.text = lines.join(QLatin1Char('\n'));
    }
    return memo;
}

QString memoTranscriptPath(const QString &transcriptPath) {
    if (!transcriptPath.endsWith(QLatin1String(".txt"), Qt::CaseInsensitive)) return transcriptPath;
    const QString md = transcriptPath.chopped(4) + QStringLiteral(".md");
    return QFileInfo(md).isFile() ? md : transcriptPath;
}

QList<LibraryMemo> readTranscriptsUnder(const QStringList &folders, const std::optional<QString> &leftOut) {
    QStringList paths;
    QSet<QString> seen;
    for (const QString &folder : folders) {
        // Hidden items are skipped and linked folders not followed unless asked.
        QDirIterator it(QDir::cleanPath(folder), {QStringLiteral("*.md"), QStringLiteral("*.txt")}, QDir::Files,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            if (leftOut && isInsideFolder(path, *leftOut)) continue;
            if (!seen.contains(path)) paths.append(path);
            seen.insert(path);
        }
    }
    QList<LibraryMemo> memos;
    for (const QString &path : paths) {
        if (!isMarkdown(path) && seen.contains(path.chopped(4) + QStringLiteral(".md"))) continue;
        const auto text = readUtf8File(path);
        if (!text) continue;
        if (auto memo = memoFromTranscript(path, *text)) memos.append(std::move(*memo));
    }
    return memos;
}
