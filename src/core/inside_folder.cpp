#include "core/inside_folder.h"

#include <QDir>

bool isInsideFolder(const QString &path, const QString &folder) {
    const QString cleanPath = QDir::cleanPath(path);
    const QString cleanFolder = QDir::cleanPath(folder);
    if (cleanPath == cleanFolder) return true;
    const QString prefix = cleanFolder.endsWith(QLatin1Char('/')) ? cleanFolder : cleanFolder + QLatin1Char('/');
    return cleanPath.startsWith(prefix);
}

QStringList foldersStrictlyInside(const QString &source, const QStringList &folders) {
    const QString root = QDir::cleanPath(source);
    QStringList inside;
    for (const QString &folder : folders) {
        if (folder.isEmpty()) continue;
        const QString clean = QDir::cleanPath(folder);
        if (clean != root && isInsideFolder(clean, root)) inside.append(clean);
    }
    return inside;
}
