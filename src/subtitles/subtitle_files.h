#pragma once
// The subtitle files written beside a recording's transcripts: same folder,
// same name, ".srt" and/or ".vtt" as the setting asks.

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

#include "core/atomic_file.h"
#include "core/enums.h"
#include "pipeline/whisper_output.h"

// `<stem>.srt` and/or `<stem>.vtt`; none for SubtitleFormat::none.
QStringList subtitlePaths(const QString &stem, SubtitleFormat format);

// Writes the subtitles of `segments` at `<stem>.srt` / `<stem>.vtt`, each
// replaced atomically in UTF-8. `created` gets the paths that did not exist
// before, for the caller to take back when the transcript then fails.
std::optional<WriteError> writeSubtitles(const QList<Segment> &segments, const QString &stem, SubtitleFormat format,
                                         QStringList &created);
