#pragma once
// What the two programs behind parlivo-cli share to change the state: the
// lock on the state folder and the choice of the source folder.

#include <QDir>
#include <QFileInfo>
#include <QTextStream>
#include <QUrl>

#include <optional>

#include "core/state_lock.h"

namespace cli {

// Takes the state folder's lock, after moving a former state folder into
// place; false, with the reason on `err`, when it cannot be had.
bool holdState(std::optional<StateLock> &lock, QTextStream &err);

// `path` becomes the source folder: scanned again when it already is, scanned
// anew otherwise. False, with a message, when it is not a folder. Source is
// the engine or its file queue.
template <typename Source> bool chooseSourceFolder(Source &source, const QString &path, QTextStream &err) {
    const QFileInfo folder(path);
    if (!folder.isDir()) {
        err << "Dossier introuvable : " << path << Qt::endl;
        return false;
    }
    const QUrl url = QUrl::fromLocalFile(QDir::cleanPath(folder.absoluteFilePath()));
    const auto &current = source.sourceFolder();
    if (current && QDir::cleanPath(current->toLocalFile()) == url.toLocalFile())
        source.rescan();
    else
        source.setSourceFolder(url);
    return true;
}

} // namespace cli
