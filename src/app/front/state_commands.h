#pragma once
// What the two programs behind parlivo-cli share to change the state: the
// lock on the state folder and the folder a command names as the source.

#include <QTextStream>
#include <QUrl>

#include <optional>

#include "core/state_lock.h"

namespace cli {

// Takes the state folder's lock, after moving a former state folder into
// place; false, with the reason on `err`, when it cannot be had.
bool holdState(std::optional<StateLock> &lock, QTextStream &err);

// The folder named on the command line as a clean URL; nothing, with a
// message, when it is not a folder.
std::optional<QUrl> folderArgument(const QString &path, QTextStream &err);
// Whether `folder` already is the source folder: scanned again, not anew.
bool isSourceFolder(const std::optional<QUrl> &current, const QUrl &folder);

} // namespace cli
