#pragma once
// Which names a recording's transcripts take. A transcript file is only
// overwritten, or trusted as up to date, when Parlivo wrote it for that very
// recording: its header (.txt) or front matter (.md) names the recording.
// Anything else in the way (the user's own notes, another recording's
// transcript, a folder) keeps its place and the transcript takes the next
// name: "memo.txt", then "memo.m4a.txt", then "memo.m4a (2).txt"…
// Subtitle files have no header: one counts as the recording's own when the
// recording's transcript is beside it, since the two are written together;
// any other (a film's own subtitles) keeps its place the same way.

#include <QHash>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <functional>
#include <optional>

#include "core/enums.h"
#include "pipeline/transcript_files.h"

enum class TranscriptOwner {
    nobody,        // no file there
    thisRecording, // Parlivo's transcript of the recording
    someoneElse,   // anything else: the user's file, another recording's transcript, a folder
};

// True when `head` (the beginning of a transcript) is Parlivo's header for the
// recording file named `sourceName`: the .txt header's "Source : " line, or
// the .md front matter's "source: " line.
bool headerNamesRecording(const QString &head, const QString &sourceName, bool markdown);

// The recording a Markdown transcript names in its front matter ("source: ").
std::optional<QString> recordingOfMarkdown(const QString &markdown);

// Reads the beginning of the file at `path` (a .md is read as front matter).
TranscriptOwner transcriptOwner(const QString &path, const QString &sourceName);

// The stems (paths without extension) the transcripts of `sourcePath` may
// take in `destinationDir`, best first: the base name, the full file name,
// then the full name followed by " (2)" up to " (`lastNumber`)".
QStringList transcriptStems(const QString &sourcePath, const QString &destinationDir, int lastNumber = 9);

// The first stem whose files (those `format` and `subtitles` write) are free
// or already the recording's own. `previousStem` (where its transcripts went
// last time) comes first. `takenByAnother` says whether another recording
// holds a stem whose files are not on the disk (yet, or any more). Nothing
// when every stem is taken.
std::optional<TranscriptPaths> chooseTranscriptPaths(const QString &sourcePath, const QString &destinationDir,
                                                     OutputFormat format, SubtitleFormat subtitles,
                                                     const std::optional<QString> &previousStem,
                                                     const std::function<bool(const QString &stem)> &takenByAnother);

// The stem of a transcript path: without its ".txt" or ".md".
QString transcriptStem(const QString &transcriptPath);
// True when `transcriptPath` is `stem` followed by ".txt" or ".md" (no copy
// made: the history is searched this way for every new recording).
bool hasStem(const QString &transcriptPath, const QString &stem);

// Stems held by the files in hand, so that two recordings transcribed at the
// same time never choose the same name.
class TranscriptNameClaims {
public:
    void claim(const QUuid &id, const QString &stem) { m_holders.insert(stem, id); }
    void release(const QUuid &id) {
        m_holders.removeIf([&](const QHash<QString, QUuid>::iterator &it) { return it.value() == id; });
    }
    bool heldByOther(const QString &stem, const QUuid &id) const {
        auto it = m_holders.constFind(stem);
        return it != m_holders.constEnd() && it.value() != id;
    }

private:
    QHash<QString, QUuid> m_holders;
};
