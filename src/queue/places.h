#pragma once
// Where recordings come from and where their transcripts go, from the
// settings and the source folder alone.

#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

#include "core/settings.h"

// The folder of `source`'s transcripts: beside it, or its place under the
// custom destination (the source folder's layout mirrored).
QString destinationDir(const ParlivoSettings &settings, const std::optional<QUrl> &sourceFolder, const QUrl &source);

// Where transcripts are written: the custom destination, else the source folder.
std::optional<QUrl> outputRootFolder(const ParlivoSettings &settings, const std::optional<QUrl> &sourceFolder);

// The archive root: the setting when non-empty, else "Archive organisée" in
// the transcript destination; nothing when neither is known.
std::optional<QString> organizeRootFolder(const std::optional<QString> &organizeRootSetting,
                                          const std::optional<QString> &outputRoot);

// Where Parlivo writes (the organized archive, the transcripts' root): what
// a scan of the source leaves out when it lies inside.
QStringList writtenFolders(const ParlivoSettings &settings, const std::optional<QUrl> &sourceFolder);

// One sentence for the window saying where the transcripts are.
QString outputLocationDescription(const ParlivoSettings &settings);

// The voice memos a Mac syncs into the user's home, when that folder exists.
std::optional<QUrl> macVoiceMemosFolder();
