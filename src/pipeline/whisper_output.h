#pragma once
// Reading what whisper-cli leaves behind: its progress lines on standard
// error, its JSON result file, and the cleaning of the segment texts into the
// plain transcript (invented subtitle credits and runaway repeats removed).

#include <QList>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <optional>

struct Segment {
    double start = 0; // seconds from the start of the audio
    double end = 0;   // seconds
    QString text;     // as the recogniser gave it

    bool operator==(const Segment &) const = default;
};

// The percentage in a line such as "...: progress =  42%"; nothing for any other line.
std::optional<int> parseWhisperProgress(const QString &line);

// The segments of a whisper-cli JSON file; nothing when the file is missing,
// unreadable or not shaped like the recogniser's output. An empty list is valid.
std::optional<QList<Segment>> parseWhisperJSON(const QString &path);

// The transcript text: one cleaned line per kept segment, joined by line feeds.
QString plainText(const QList<Segment> &segments);

// The segments the transcript keeps, in their order and with their own times,
// each text trimmed. Drops empty ones, known hallucinations, and repeats beyond
// two consecutive segments that differ only in case or end punctuation. The
// transcript text and the subtitles both come from here, so they always agree.
QList<Segment> cleanSegments(const QList<Segment> &segments);

// The same rules over bare lines.
QStringList cleanTranscriptLines(const QStringList &lines);

// The last `count` non-empty lines of `text`, joined by line feeds.
QString lastLines(const QString &text, int count);

// Phrases the recogniser invents on silence or noise; compiled once per process.
const QList<QRegularExpression> &whisperHallucinationPatterns();
