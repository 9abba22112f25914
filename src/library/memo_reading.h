#pragma once
// What the reader shows of one memo: the recogniser's segments with their
// times, the corrected text when its words are not the recogniser's, and
// the segment to land on, under a search hit or under the playing position.

#include <QList>
#include <QString>

#include <optional>

#include "library/library_memo.h"

struct MemoReading {
    QList<Segment> segments;    // with their times; empty when the memo was indexed without them
    QString correctedText;      // empty when the text is the recogniser's own words
    QString plainText;          // the text, shown when there are no segments
    std::optional<qsizetype> hitSegment; // the segment under the hit
    qint64 startMs = 0;         // where playing starts: the hit's segment, else the beginning
};

// The memo as the reader lays it out, landing on `hit` when given.
MemoReading readingOf(const LibraryMemo &memo, const std::optional<SearchHit> &hit = std::nullopt);

// The segment being said at `seconds`: the last one starting at or before
// it (a pause between two belongs to the one before); nothing before the first.
std::optional<qsizetype> segmentAt(const QList<Segment> &segments, double seconds);

// Whether `text` says other words than `segments` (accents, case and
// punctuation aside): then it was corrected.
bool wordsDiffer(const QString &text, const QList<Segment> &segments);
