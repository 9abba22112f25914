#include "organize/archive_files.h"

#include "core/atomic_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

bool somethingAt(const QString &path) {
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

FileError makeFolder(const QString &path) {
    if (QFileInfo(path).isDir() || QDir().mkpath(path)) return std::nullopt;
    return QStringLiteral("création du dossier impossible : ") + path;
}

namespace {
// A copy that is whole or absent, never a truncated file on a full disk.
FileError copied(const QString &source, const QString &destination) {
    if (auto error = copyFileAtomically(source, destination))
        return QStringLiteral("copie impossible de %1 : %2").arg(source, error->reason);
    return std::nullopt;
}
} // namespace

FileError replaceWithCopy(const QString &source, const QString &destination) {
    // The copy replaces a file in one step; a link is removed first, or the
    // copy would go where it points.
    if (QFileInfo(destination).isSymLink() && !QFile::remove(destination))
        return QStringLiteral("suppression impossible : ") + destination;
    return copied(source, destination);
}

namespace {
FileError copyTree(const QString &from, const QString &to) {
    if (auto error = makeFolder(to)) return error;
    const auto entries = QDir(from).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo &info : entries) {
        const QString target = to + QLatin1Char('/') + info.fileName();
        if (info.isSymLink()) {
            if (!QFile::link(info.symLinkTarget(), target)) return QStringLiteral("lien impossible : ") + target;
        } else if (info.isDir()) {
            if (auto error = copyTree(info.filePath(), target)) return error;
        } else if (auto error = copied(info.filePath(), target)) {
            return error;
        }
    }
    return std::nullopt;
}
} // namespace

FileError moveFolder(const QString &from, const QString &to) {
    if (QDir().rename(from, to)) return std::nullopt;
    if (somethingAt(to)) return QStringLiteral("déplacement impossible vers ") + to;
    if (auto error = copyTree(from, to)) {
        QDir(to).removeRecursively();
        return QStringLiteral("déplacement impossible vers %1 : %2").arg(to, *error);
    }
    QDir(from).removeRecursively();
    return std::nullopt;
}

FileError placeAudio(const QString &audioPath, const QString &destination, bool copy) {
    if (somethingAt(destination)) return std::nullopt;
    if (copy) {
        if (auto error = copied(audioPath, destination)) return error;
    } else if (!QFile::link(audioPath, destination)) {
        return QStringLiteral("lien impossible vers ") + audioPath;
    }
    return std::nullopt;
}
