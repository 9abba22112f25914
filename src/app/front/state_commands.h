#pragma once
// What the two programs behind parlivo-cli share to change the state: the
// lock on the state folder and the choice of the source folder.

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

// `path` becomes the source folder. False, with a message, when it is not a
// folder. Source is the engine or its file queue.
template <typename Source> bool chooseSourceFolder(Source &source, const QString &path, QTextStream &err) {
    const auto folder = folderArgument(path, err);
    if (!folder) return false;
    if (isSourceFolder(source.sourceFolder(), *folder))
        source.rescan();
    else
        source.setSourceFolder(*folder);
    return true;
}

} // namespace cli
