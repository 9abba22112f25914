#pragma once
// What the memo library holds for one memo, and what a search gives back.

#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

#include "library/search_passage.h"
#include "pipeline/whisper_output.h"

struct LibraryMemo {
    QString transcriptPath;         // absolute; the memo's key
    QString audioPath;              // the recording, empty when unknown
    std::optional<QDateTime> date;  // when it was recorded, when known
    QString text;                   // the final text: corrected when corrected
    QList<Segment> segments;        // the recogniser's, with times; empty when unknown

    bool operator==(const LibraryMemo &) const = default;
};

struct SearchHit {
    QString transcriptPath;
    QString audioPath;
    std::optional<QDateTime> date;
    std::optional<double> time; // seconds: start of the segment the hit is in, when known
    Passage passage;
};

// A search's answer: its hits, best first, or why there are none in French.
struct LibraryFound {
    QList<SearchHit> hits;
    std::optional<QString> error;
};
