#pragma once
// Subtitles from the recogniser's segments: the timed cues and their SRT and
// WebVTT texts. The cues come from the same cleaning as the transcript, so a
// segment the transcript drops has no cue.

#include <QList>
#include <QString>

#include "pipeline/whisper_output.h"

struct Cue {
    qint64 startMs = 0;
    qint64 endMs = 0;
    QString text; // one or more lines, none empty

    bool operator==(const Cue &) const = default;
};

// The cues of the cleaned segments, in time order, each shown for a positive
// time and none overlapping the next, whatever times the recogniser gave.
QList<Cue> subtitleCues(const QList<Segment> &segments);

// "HH:MM:SS,mmm" (SRT) or "HH:MM:SS.mmm" (WebVTT); hours go past 99 if need be.
QString subtitleClock(qint64 ms, QChar decimalMark);

// Numbered cues from 1, blank line between cues; empty without cues.
QString srtText(const QList<Segment> &segments);

// "WEBVTT", a blank line, then the cues separated by blank lines.
QString webVttText(const QList<Segment> &segments);
