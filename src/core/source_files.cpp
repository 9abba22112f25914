#include "core/source_files.h"

#include "core/file_names.h"

#include <QCollator>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QLocale>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <dirent.h>
#include <sys/stat.h>
#include <thread>

namespace {
std::optional<FileIdentity> identityOf(const QString &path, bool regularOnly) {
    struct stat st {};
    if (::stat(encodeFileName(path).constData(), &st) != 0) return std::nullopt;
    if (regularOnly && !S_ISREG(st.st_mode)) return std::nullopt;
    return FileIdentity{qint64(st.st_size), double(st.st_mtim.tv_sec) + double(st.st_mtim.tv_nsec) / 1e9};
}
} // namespace

std::optional<FileIdentity> fileIdentity(const QString &path) { return identityOf(path, false); }

std::optional<FileIdentity> regularFileIdentity(const QString &path) { return identityOf(path, true); }

QList<std::optional<FileIdentity>> fileIdentities(const QStringList &paths) {
    QList<std::optional<FileIdentity>> identities(paths.size());
    // Each thread fills its own stretch of the list: nothing is shared but
    // the paths, read only. A few hundred files are not worth a thread.
    const qsizetype threads = std::clamp<qsizetype>(paths.size() / 500, 1, QThread::idealThreadCount());
    const qsizetype stretch = (paths.size() + threads - 1) / threads;
    std::optional<FileIdentity> *out = identities.data();
    const auto fill = [&paths, out, stretch](qsizetype from) {
        for (qsizetype i = from; i < std::min(from + stretch, paths.size()); ++i) out[i] = fileIdentity(paths[i]);
    };
    std::vector<std::thread> helpers;
    for (qsizetype t = 1; t < threads; ++t) helpers.emplace_back(fill, t * stretch);
    fill(0);
    for (auto &helper : helpers) helper.join();
    return identities;
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

enum class EntryKind { folder, file, other };

// What a directory entry is, without following a link to a folder (it could
// loop). A link to a regular file counts as the file; pipes, sockets and
// devices are never recordings (reading a pipe waits for ever).
EntryKind kindOf(const dirent &item, const QString &path) {
    switch (item.d_type) {
    case DT_REG: return EntryKind::file;
    case DT_DIR: return EntryKind::folder;
    case DT_LNK:
    case DT_UNKNOWN: break;
    default: return EntryKind::other;
    }
    const QByteArray encoded = encodeFileName(path);
    struct stat st {};
    if (::lstat(encoded.constData(), &st) != 0) return EntryKind::other;
    if (S_ISLNK(st.st_mode))
        return ::stat(encoded.constData(), &st) == 0 && S_ISREG(st.st_mode) ? EntryKind::file : EntryKind::other;
    if (S_ISDIR(st.st_mode)) return EntryKind::folder;
    return S_ISREG(st.st_mode) ? EntryKind::file : EntryKind::other;
}

bool scannedFolder(const QString &name, const QString &path, const QStringList &skipped) {
    return !name.startsWith(QLatin1Char('.')) && !isPackage(name) && !skipped.contains(path);
}

bool scannedAudio(const QString &name, const QString &path, const QStringList &extensions) {
    if (name.startsWith(QLatin1Char('.')) || path.contains(QLatin1String("/ApplicationAssets/"))) return false;
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot > 0 && extensions.contains(name.mid(dot + 1).toLower());
}

QString lastComponent(const QString &path) { return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1); }

// readdir rather than QDirIterator: the entry type comes with the name, so a
// folder of thousands of memos needs no stat per file. Names go through
// decodeFileName so that a name that is not UTF-8 can still be opened.
void walk(const QString &dir, const QStringList &extensions, const QStringList &skipped,
          const std::function<void(const QString &)> &entering, QStringList &out) {
    if (entering) entering(dir);
    DIR *handle = ::opendir(encodeFileName(dir).constData());
    if (!handle) return;
    while (const dirent *item = ::readdir(handle)) {
        if (item->d_name[0] == '.') continue; // hidden, and . and ..
        const QString name = decodeFileName(QByteArray(item->d_name));
        const QString path = dir + QLatin1Char('/') + name;
        const EntryKind kind = kindOf(*item, path);
        if (kind == EntryKind::folder) {
            if (scannedFolder(name, path, skipped)) walk(path, extensions, skipped, entering, out);
        } else if (kind == EntryKind::file && scannedAudio(name, path, extensions)) {
            out.append(path);
        }
    }
    ::closedir(handle);
}
} // namespace

bool isScannedFolder(const QString &path, const QStringList &skippedFolders) {
    return scannedFolder(lastComponent(path), path, skippedFolders);
}

bool isScannedAudio(const QString &path, const QStringList &extensions) {
    return scannedAudio(lastComponent(path), path, extensions);
}

QStringList audioFilesUnder(const QString &root, const QStringList &extensions, const QStringList &skippedFolders,
                            const std::function<void(const QString &folder)> &entering) {
    QStringList paths;
    if (!QFileInfo(root).isDir()) return paths;
    QStringList skipped;
    for (const QString &f : skippedFolders) skipped.append(QDir::cleanPath(f));
    walk(root, extensions, skipped, entering, paths);
    return paths;
}

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

QList<QUrl> scanAudioFiles(const QUrl &folder, const QStringList &extensions, const QStringList &skippedFolders) {
    const QString root = QDir::cleanPath(folder.toLocalFile());
    QStringList paths = audioFilesUnder(root, extensions, skippedFolders);
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
