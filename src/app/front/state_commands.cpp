#include "app/front/state_commands.h"

#include <QDir>
#include <QFileInfo>

#include "core/folders.h"

namespace cli {

bool holdState(std::optional<StateLock> &lock, QTextStream &err) {
    folders::migrateFormerSupportDir(); // before the lock creates the support folder
    lock.emplace(folders::supportDir());
    if (lock->tryLock()) return true;
    err << lock->refusal() << Qt::endl;
    return false;
}

std::optional<QUrl> folderArgument(const QString &path, QTextStream &err) {
    const QFileInfo folder(path);
    if (folder.isDir()) return QUrl::fromLocalFile(QDir::cleanPath(folder.absoluteFilePath()));
    err << "Dossier introuvable : " << path << Qt::endl;
    return std::nullopt;
}

bool isSourceFolder(const std::optional<QUrl> &current, const QUrl &folder) {
    return current && QDir::cleanPath(current->toLocalFile()) == folder.toLocalFile();
}

} // namespace cli
