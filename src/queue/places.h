#pragma once
// Where recordings come from and where their transcripts go, from the
// settings and the source folder alone.

#include <QString>
#include <QUrl>

#include <optional>

#include "core/settings.h"

// The folder of `source`'s transcripts: beside it, or its place under the
// custom destination (the source folder's layout mirrored).
QString destinationDir(const ParlivoSettings &settings, const std::optional<QUrl> &sourceFolder, const QUrl &source);

// Where transcripts are written: the custom destination, else the source folder.
std::optional<QUrl> outputRootFolder(const ParlivoSettings &settings, const std::optional<QUrl> &sourceFolder);

// One sentence for the window saying where the transcripts are.
QString outputLocationDescription(const ParlivoSettings &settings);

// The voice memos a Mac syncs into the user's home, when that folder exists.
std::optional<QUrl> macVoiceMemosFolder();
