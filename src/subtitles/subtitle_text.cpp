#include "subtitles/subtitle_text.h"

#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace {
// A cue the recogniser gave no duration (its end at or before its start)
// still stays long enough to be read, unless the next cue comes sooner.
constexpr qint64 undatedCueMs = 2000;
// Far beyond any recording, and small enough to stay exact as milliseconds.
constexpr double latestSeconds = 1e9;

qint64 milliseconds(double seconds) {
    if (!(seconds > 0)) return 0; // negative times and NaN alike
    return qint64(std::llround(std::min(seconds, latestSeconds) * 1000));
}

// A blank line ends a cue in both formats: a segment holding line breaks
// keeps only its non-empty lines.
QString cueLines(const QString &text) {
    static const QRegularExpression breaks(QStringLiteral("\\r\\n|\\r|\\n"));
    QStringList lines;
    for (const QString &line : text.split(breaks)) {
        const QString trimmed = line.trimmed();
        if (!trimmed.isEmpty()) lines.append(trimmed);
    }
    return lines.join(QLatin1Char('\n'));
}
} // namespace

QList<Cue> subtitleCues(const QList<Segment> &segments) {
    QList<Cue> cues;
    for (const Segment &segment : cleanSegments(segments))
        cues.append({milliseconds(segment.start), milliseconds(segment.end), cueLines(segment.text)});
    std::stable_sort(cues.begin(), cues.end(), [](const Cue &a, const Cue &b) { return a.startMs < b.startMs; });

    // Segments starting at the same instant share one cue: split apart, one
    // of them would have to be shown for no time at all.
    QList<Cue> merged;
    for (const Cue &cue : std::as_const(cues)) {
        if (!merged.isEmpty() && merged.last().startMs == cue.startMs) {
            merged.last().text += QLatin1Char('\n') + cue.text;
            merged.last().endMs = std::max(merged.last().endMs, cue.endMs);
        } else {
            merged.append(cue);
        }
    }
    // A cue ends when the next one starts: players show overlapping cues
    // stacked, and the recogniser's overlaps are rounding, not two voices.
    for (qsizetype i = 0; i < merged.size(); ++i) {
        Cue &cue = merged[i];
        if (cue.endMs <= cue.startMs) cue.endMs = cue.startMs + undatedCueMs;
        if (i + 1 < merged.size()) cue.endMs = std::min(cue.endMs, merged[i + 1].startMs);
    }
    return merged;
}

QString subtitleClock(qint64 ms, QChar decimalMark) {
    return QString::asprintf("%02lld:%02lld:%02lld", ms / 3600000, ms / 60000 % 60, ms / 1000 % 60) + decimalMark +
           QString::asprintf("%03lld", ms % 1000);
}

namespace {
QString timing(const Cue &cue, QChar decimalMark) {
    return subtitleClock(cue.startMs, decimalMark) + QStringLiteral(" --> ") + subtitleClock(cue.endMs, decimalMark);
}

// SRT has no escapes; only an arrow could pass for a timing line.
QString srtPayload(QString text) {
    while (text.contains(QLatin1String("-->"))) text.replace(QLatin1String("-->"), QLatin1String("->"));
    return text;
}

// WebVTT reads tags and entities in a cue: the text's own signs are escaped
// (which also keeps "-->" out of it).
QString webVttPayload(QString text) {
    return text.replace(QLatin1Char('&'), QLatin1String("&amp;"))
        .replace(QLatin1Char('<'), QLatin1String("&lt;"))
        .replace(QLatin1Char('>'), QLatin1String("&gt;"));
}
} // namespace

QString srtText(const QList<Segment> &segments) {
    QString out;
    const QList<Cue> cues = subtitleCues(segments);
    for (qsizetype i = 0; i < cues.size(); ++i) {
        if (i > 0) out += QLatin1Char('\n');
        out += QString::number(i + 1) + QLatin1Char('\n') + timing(cues[i], QLatin1Char(',')) + QLatin1Char('\n') +
               srtPayload(cues[i].text) + QLatin1Char('\n');
    }
    return out;
}

QString webVttText(const QList<Segment> &segments) {
    QString out = QStringLiteral("WEBVTT\n");
    for (const Cue &cue : subtitleCues(segments))
        out += QLatin1Char('\n') + timing(cue, QLatin1Char('.')) + QLatin1Char('\n') + webVttPayload(cue.text) +
               QLatin1Char('\n');
    return out;
}
