#pragma once
// Whole-file writes that replace the target atomically: readers see the old
// content or the new one, never half a file, even after a crash.

#include <QByteArray>
#include <QString>

#include <optional>

enum class FileAccess { standard, ownerOnly };

// Writes `data` to `path` through a temporary file moved over the target.
// Returns nothing on success, else the reason in French.
std::optional<QString> writeFileAtomically(const QString &path, const QByteArray &data,
                                           FileAccess access = FileAccess::standard);

// Reads a whole file; nothing when it is missing or unreadable.
std::optional<QByteArray> readWholeFile(const QString &path);

// A whole file as UTF-8 text; nothing when it cannot be read or is not UTF-8.
std::optional<QString> readUtf8File(const QString &path);
