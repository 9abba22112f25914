#pragma once
// What the structuring pass and the memo library take from a transcript, and
// how a long memo is cut into passages for note taking.

#include <QString>
#include <QStringList>

#include <optional>

struct TranscriptText {
    QString body;                 // after the first heading, raw section left out, trimmed
    std::optional<QString> audio; // the "chemin" field: path of the source recording
    QString date;                 // the "date" field, empty when absent
    QString sourceName;           // the recording's file name, empty when absent
};

inline constexpr qsizetype minimumBodyLength = 30;
inline constexpr qsizetype shortMemoLimit = 12000;
inline constexpr qsizetype passageLimit = 12000;
inline constexpr qsizetype notesLimit = 14000;

TranscriptText readTranscriptText(const QString &fileText);

// The same from a plain-text transcript: the text after the rule of "=" and
// the blank line, the date and the name its header gives. It names no path.
TranscriptText readPlainTranscriptText(const QString &fileText);

// Reads one "key: value" line of a front matter (trimmed); nothing when absent.
std::optional<QString> frontMatterField(const QString &frontMatter, const QString &key);

// Lines packed into passages of at most `passageLimit` characters; a passage
// is never split inside a line, so a longer line stands alone.
QStringList packPassages(const QString &body);

// Notes joined for the final call, cut to `notesLimit` characters.
QString joinNotes(const QStringList &notes);
