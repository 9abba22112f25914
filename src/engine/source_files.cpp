#include "engine/source_files.h"

#include <QCollator>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QLocale>

#include <algorithm>
#include <cmath>
#include <dirent.h>
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

// readdir rather than QDirIterator: the entry type comes with the name, so a
// folder of thousands of memos needs no stat per file.
void walk(const QString &dir, const QStringList &extensions, QStringList &out) {
    const QByteArray encoded = QFile::encodeName(dir);
    DIR *handle = ::opendir(encoded.constData());
    if (!handle) return;
    while (const dirent *item = ::readdir(handle)) {
        if (item->d_name[0] == '.') continue; // hidden, and . and ..
        const QString name = QFile::decodeName(item->d_name);
        const QString path = dir + QLatin1Char('/') + name;
        bool isDir = item->d_type == DT_DIR;
        if (item->d_type == DT_UNKNOWN || item->d_type == DT_LNK) {
            // Symbolic links to folders are not followed (they could loop);
            // a link to an audio file is taken like the file.
            struct stat st {};
            if (::lstat(QFile::encodeName(path).constData(), &st) != 0) continue;
            if (S_ISLNK(st.st_mode)) {
                if (::stat(QFile::encodeName(path).constData(), &st) != 0 || S_ISDIR(st.st_mode)) continue;
            }
            isDir = S_ISDIR(st.st_mode);
        }
        if (isDir) {
            if (!isPackage(name)) walk(path, extensions, out);
            continue;
        }
        if (path.contains(QLatin1String("/ApplicationAssets/"))) continue;
        const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
        if (dot > 0 && extensions.contains(name.mid(dot + 1).toLower())) out.append(path);
    }
    ::closedir(handle);
}
} // namespace

void naturalSort(QStringList &paths, qsizetype sharedPrefix) {
    QCollator collator(QLocale(QLocale::English, QLocale::UnitedStates));
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    // One collation key per path, then cheap key comparisons: collating the
    // full paths at every comparison dominated the scan of large folders.
    std::vector<std::pair<QCollatorSortKey, qsizetype>> keyed;
    keyed.reserve(size_t(paths.size()));
    for (qsizetype i = 0; i < paths.size(); ++i) keyed.emplace_back(collator.sortKey(paths[i].mid(sharedPrefix)), i);
    std::stable_sort(keyed.begin(), keyed.end(),
                     [](const auto &a, const auto &b) { return a.first.compare(b.first) < 0; });
    QStringList sorted;
    sorted.reserve(paths.size());
    for (const auto &entry : keyed) sorted.append(paths[entry.second]);
    paths = std::move(sorted);
}

QList<QUrl> scanAudioFiles(const QUrl &folder, const QStringList &extensions) {
    QStringList paths;
    const QString root = QDir::cleanPath(folder.toLocalFile());
    if (!QFileInfo(root).isDir()) return {};
    walk(root, extensions, paths);
    // Every path starts with the root: leaving it out of the collation keys
    // halves their cost and keeps the order.
    naturalSort(paths, root.endsWith(QLatin1Char('/')) ? root.size() : root.size() + 1);
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

bool isInsideFolder(const QString &path, const QString &folder) {
    const QString cleanPath = QDir::cleanPath(path);
    const QString cleanFolder = QDir::cleanPath(folder);
    if (cleanPath == cleanFolder) return true;
    const QString prefix = cleanFolder.endsWith(QLatin1Char('/')) ? cleanFolder : cleanFolder + QLatin1Char('/');
    return cleanPath.startsWith(prefix);
}

namespace {
void walkMarkdown(const QString &dir, const std::optional<QString> &leftOut, QStringList &out) {
    QDirIterator it(dir, QDir::AllEntries | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        if (leftOut && isInsideFolder(info.filePath(), *leftOut)) continue;
        if (info.isDir()) {
            if (!info.isSymLink()) walkMarkdown(info.filePath(), leftOut, out);
        } else if (info.isFile() && info.suffix().toLower() == QLatin1String("md")) {
            out.append(info.filePath());
        }
    }
}
} // namespace

QStringList markdownFilesUnder(const QString &root, const std::optional<QString> &leftOut) {
    QStringList found;
    walkMarkdown(QDir::cleanPath(root), leftOut, found);
    return found;
}
