#include "engine/source_files.h"

#include <QCollator>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QLocale>

#include <algorithm>
#include <cmath>
#include <sys/stat.h>

std::optional<FileIdentity> fileIdentity(const QString &path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) return std::nullopt;
    return FileIdentity{qint64(st.st_size), double(st.st_mtim.tv_sec) + double(st.st_mtim.tv_nsec) / 1e9};
}

bool sameIdentity(const FileIdentity &now, qint64 size, double mtime) {
    return now.size == size && std::fabs(now.mtime - mtime) < 1.0;
}

namespace {
bool isPackage(const QString &name) {
    return name.endsWith(QLatin1String(".app"), Qt::CaseInsensitive) ||
           name.endsWith(QLatin1String(".bundle"), Qt::CaseInsensitive) ||
           name.endsWith(QLatin1String(".framework"), Qt::CaseInsensitive);
}

void walk(const QString &dir, const QStringList &extensions, QStringList &out) {
    // Without QDir::Hidden the iterator leaves dot-files and dot-folders out.
    QDirIterator it(dir, QDir::AllEntries | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        if (info.isDir()) {
            // Symbolic links to folders are not followed: they could loop.
            if (!info.isSymLink() && !isPackage(info.fileName())) walk(info.filePath(), extensions, out);
            continue;
        }
        const QString path = info.filePath();
        if (path.contains(QLatin1String("/ApplicationAssets/"))) continue;
        if (extensions.contains(info.suffix().toLower())) out.append(path);
    }
}
} // namespace

void naturalSort(QStringList &paths) {
    QCollator collator(QLocale(QLocale::English, QLocale::UnitedStates));
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(paths.begin(), paths.end(),
                     [&](const QString &a, const QString &b) { return collator.compare(a, b) < 0; });
}

QList<QUrl> scanAudioFiles(const QUrl &folder, const QStringList &extensions) {
    QStringList paths;
    const QString root = QDir::cleanPath(folder.toLocalFile());
    if (!QFileInfo(root).isDir()) return {};
    walk(root, extensions, paths);
    naturalSort(paths);
    QList<QUrl> urls;
    urls.reserve(paths.size());
    for (const auto &p : paths) urls.append(QUrl::fromLocalFile(p));
    return urls;
}

QString relativePath(const QUrl &folder, const QUrl &base) {
    const QStringList a = QDir::cleanPath(folder.toLocalFile()).split(QLatin1Char('/'), Qt::SkipEmptyParts);
    const QStringList b = QDir::cleanPath(base.toLocalFile()).split(QLatin1Char('/'), Qt::SkipEmptyParts);
    qsizetype shared = 0;
    while (shared < a.size() && shared < b.size() && a[shared] == b[shared]) ++shared;
    return a.mid(shared).join(QLatin1Char('/'));
}

std::optional<QString> existingOutputPath(const QString &txtPath, const QString &mdPath) {
    if (QFileInfo::exists(txtPath)) return txtPath;
    if (QFileInfo::exists(mdPath)) return mdPath;
    return std::nullopt;
}
