#include "library/memo_reading.h"

#include <QStringList>

#include <algorithm>
#include <cmath>

#include "library/hit_segment.h"

std::optional<qsizetype> segmentAt(const QList<Segment> &segments, double seconds) {
    // Segments come in the order they were said.
    const auto after = std::upper_bound(segments.begin(), segments.end(), seconds,
                                        [](double t, const Segment &segment) { return t < segment.start; });
    if (after == segments.begin()) return std::nullopt;
    return std::distance(segments.begin(), after) - 1;
}

bool wordsDiffer(const QString &text, const QList<Segment> &segments) {
    QStringList spoken;
    for (const Segment &segment : segments) spoken.append(segment.text);
    return foldedWords(text) != foldedWords(spoken.join(QLatin1Char(' ')));
}

MemoReading readingOf(const LibraryMemo &memo, const std::optional<SearchHit> &hit) {
    MemoReading reading;
    reading.segments = memo.segments;
    if (memo.segments.isEmpty()) {
        reading.plainText = memo.text;
        return reading;
    }
    if (wordsDiffer(memo.text, memo.segments)) reading.correctedText = memo.text;
    if (!hit) return reading;
    // The search gave the time when it found the words in the recording;
    // otherwise the passage is looked for again (a hit from an older index).
    reading.hitSegment = hit->time ? segmentAt(memo.segments, *hit->time)
                                   : segmentUnderHit(memo.text, hit->passage, memo.segments);
    if (reading.hitSegment) reading.startMs = std::llround(memo.segments[*reading.hitSegment].start * 1000);
    return reading;
}
