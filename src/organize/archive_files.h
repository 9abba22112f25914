#pragma once
// File operations of the archive, each returning the reason of a failure in
// French (nothing on success).

#include <QString>

#include <optional>

using FileError = std::optional<QString>;

FileError makeFolder(const QString &path);

// Replaces `destination` with a copy of `source`.
FileError replaceWithCopy(const QString &source, const QString &destination);

// Renames a folder; across file systems, copies it (links kept as links) and
// removes the original once the copy is complete.
FileError moveFolder(const QString &from, const QString &to);

// A copy of the recording, or a symbolic link to it; an existing file or link
// (even a dangling one) at `destination` is left alone.
FileError placeAudio(const QString &audioPath, const QString &destination, bool copy);

// A file or link exists at `path`, even a link whose target is gone.
bool somethingAt(const QString &path);
