#include "organize/archive.h"

#include "organize/archive_files.h"
#include "core/source_files.h"
#include "organize/placement.h"

#include <QDir>
#include <QFileInfo>

namespace {
constexpr int maxNameSuffix = 99;

// Only a folder this archive made is ever moved: whatever path the ledger
// holds, nothing else on the disk is carried into the archive.
bool isMovableMemoFolder(const std::optional<QString> &folder) {
    if (!folder) return false;
    const QFileInfo info(*folder);
    return info.isDir() && !info.isSymLink() && QFileInfo(*folder + QStringLiteral("/structure.md")).isFile();
}

QString candidate(const QString &base, int suffix) {
    return suffix == 1 ? base : base + QStringLiteral(" (%1)").arg(suffix);
}

// Another memo of the ledger already lives in `folder`.
bool claimedByOther(const OrgLedger &ledger, const QString &self, const QString &folder) {
    for (const auto &[path, entry] : ledger)
        if (path != self && entry.folder == folder && QFileInfo(folder).isDir())
            return true;
    return false;
}

struct FolderChoice {
    QString folder;
    std::optional<QString> moveFrom; // the memo's previous folder, to be moved here
};

// The memo keeps its folder when nothing changed; a changed place gets the
// first free name, " (2)", " (3)"… on a clash.
std::optional<FolderChoice> chooseFolder(const QString &target, const OrgEntry &entry, const OrgLedger &ledger) {
    const bool hasOld = isMovableMemoFolder(entry.folder);
    const QString old = hasOld ? QDir::cleanPath(*entry.folder) : QString();
    for (int suffix = 1; suffix <= maxNameSuffix; ++suffix) {
        const QString folder = candidate(target, suffix);
        if (hasOld && folder == old) return FolderChoice{folder, std::nullopt};
        if (hasOld && !somethingAt(folder)) return FolderChoice{folder, old};
        if (!hasOld && !claimedByOther(ledger, entry.transcriptPath, folder)) return FolderChoice{folder, std::nullopt};
    }
    return std::nullopt;
}

FileError fillMemoFolder(const QString &folder, const QString &transcriptPath, const OrgEntry &entry,
                         const ArchiveOptions &options) {
    if (auto error = makeFolder(folder)) return error;
    if (auto error = replaceWithCopy(transcriptPath, folder + QStringLiteral("/transcription.md"))) return error;
    if (auto error = replaceWithCopy(*entry.structurePath, folder + QStringLiteral("/structure.md"))) return error;
    if (entry.audioPath && QFileInfo(*entry.audioPath).isFile()) {
        const QString destination = folder + QLatin1Char('/') + QFileInfo(*entry.audioPath).fileName();
        if (auto error = placeAudio(*entry.audioPath, destination, options.copyAudio)) return error;
    }
    return std::nullopt;
}

FileError place(const FolderChoice &choice, const QString &transcriptPath, const OrgEntry &entry,
                const ArchiveOptions &options) {
    if (choice.moveFrom) {
        if (auto error = makeFolder(QFileInfo(choice.folder).absolutePath())) return error;
        if (auto error = moveFolder(*choice.moveFrom, choice.folder)) return error;
    }
    return fillMemoFolder(choice.folder, transcriptPath, entry, options);
}

QDateTime recordedAt(const OrgEntry &entry, const QString &transcriptPath, const ArchiveOptions &options) {
    const QString source = entry.audioPath ? *entry.audioPath : transcriptPath;
    if (options.recordingDate) return options.recordingDate(source);
    return QFileInfo(source).lastModified();
}
} // namespace

bool materialize(const QString &transcriptPath, OrgLedger &ledger, const ArchiveOptions &options) {
    auto it = ledger.find(transcriptPath);
    if (it == ledger.end() || !it->second.structurePath || !QFileInfo(*it->second.structurePath).isFile()) return false;
    OrgEntry entry = it->second;
    const QString root = QDir::cleanPath(options.root);
    const QString name = memoFolderName(recordedAt(entry, transcriptPath, options), entry);
    const QString target = placementDir(root, placementFor(entry)) + QLatin1Char('/') + name;
    const auto fail = [&](const QString &reason) {
        if (options.log) options.log(QStringLiteral("Rangement échoué : %1 (%2)").arg(name, reason));
        return false;
    };

    const auto choice = chooseFolder(QDir::cleanPath(target), entry, ledger);
    if (!choice) return fail(QStringLiteral("trop de dossiers du même nom"));
    // Names are made folder-safe upstream; this holds even if one slipped through.
    if (!isInsideFolder(choice->folder, root) || QDir::cleanPath(choice->folder) == root)
        return fail(QStringLiteral("chemin hors de l'archive"));
    if (auto error = place(*choice, transcriptPath, entry, options)) return fail(*error);

    entry.folder = choice->folder;
    ledger[transcriptPath] = std::move(entry);
    return true;
}
