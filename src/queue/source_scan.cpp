// Turning the source folder into the queue, and keeping the two in step.
#include "queue/file_queue.h"

#include <QHash>
#include <QSet>

const QStringList FileQueue::audioExtensions = {
    "m4a", "mp3", "wav", "aac", "m4b", "ogg", "flac", "aiff", "aif", "caf", "opus", "wma", "mp4", "mov", "m4v"};

QList<QUrl> FileQueue::audioFilesIn(const QUrl &folder, const QStringList &written) {
    // What Parlivo writes inside the source (the organized archive, a
    // transcript destination) holds copies of recordings, not new ones.
    return scanAudioFiles(folder, audioExtensions, foldersStrictlyInside(folder.toLocalFile(), written));
}

void FileQueue::logVanished(const QString &path) {
    m_log.log(QStringLiteral("Fichier introuvable, retiré de la file : %1").arg(path));
}

void FileQueue::dropVanishedFiles() {
    QList<AudioFile> kept;
    for (const AudioFile &file : std::as_const(m_files)) {
        if (file.status == FileStatus::running || fileIdentity(file.path())) {
            kept.append(file);
            continue;
        }
        logVanished(file.path());
    }
    if (kept.size() == m_files.size()) return;
    replace(std::move(kept));
    emit saveWanted();
}

void FileQueue::restoreSourceFolder(std::optional<QUrl> folder) {
    m_sourceFolder = std::move(folder);
    emit sourceFolderChanged();
}

void FileQueue::setSourceFolder(const QUrl &folder) {
    restoreSourceFolder(folder);
    setSourceFolder(folder, audioFilesIn(folder, m_writtenFolders()));
}

void FileQueue::setSourceFolder(const QUrl &folder, const QList<QUrl> &found) {
    if (m_sourceFolder != folder) restoreSourceFolder(folder);
    QList<AudioFile> queue;
    queue.reserve(found.size());
    for (const QUrl &url : found) queue.append(AudioFile(url));
    alignWithLedger(queue);
    replace(std::move(queue));
    m_log.log(QStringLiteral("Dossier scanné : %1 - %2 fichier(s) audio trouvé(s).")
                  .arg(folder.toLocalFile())
                  .arg(m_files.size()));
}

void FileQueue::rescan() {
    if (m_sourceFolder) rescan(audioFilesIn(*m_sourceFolder, m_writtenFolders()));
}

void FileQueue::rescan(const QList<QUrl> &found) {
    if (!m_sourceFolder) return;
    QHash<QUrl, qsizetype> current;
    for (qsizetype i = 0; i < m_files.size(); ++i) current.insert(m_files[i].url, i);
    QList<AudioFile> queue;
    queue.reserve(found.size());
    for (const QUrl &url : found) {
        auto it = current.constFind(url);
        const bool finished = it != current.constEnd() && (m_files[*it].status == FileStatus::done ||
                                                            m_files[*it].status == FileStatus::skipped);
        queue.append(finished ? m_files[*it] : AudioFile(url));
    }
    alignWithLedger(queue);
    // Entries not found again leave the queue; those whose file is gone say so.
    const QSet<QUrl> still(found.cbegin(), found.cend());
    for (const AudioFile &file : std::as_const(m_files))
        if (!still.contains(file.url) && !fileIdentity(file.path())) logVanished(file.path());
    replace(std::move(queue));
    m_log.log(QStringLiteral("Nouveau scan : %1 fichier(s).").arg(m_files.size()));
}

FileQueue::Arrivals FileQueue::admit(const QStringList &paths) {
    QHash<QString, qsizetype> index;
    for (qsizetype i = 0; i < m_files.size(); ++i) index.insert(m_files[i].path(), i);
    Arrivals arrivals;
    QList<AudioFile> added;
    bool requeued = false;
    for (const QString &path : paths) {
        const auto it = index.constFind(path);
        if (it == index.constEnd()) {
            added.append(restoredFromLedger(QUrl::fromLocalFile(path)));
            if (added.last().status == FileStatus::pending) arrivals.pending.insert(added.last().id);
            continue;
        }
        const AudioFile &file = m_files[*it];
        if (file.status == FileStatus::running) {
            arrivals.busy.append(path);
        } else if (file.status == FileStatus::pending) {
            arrivals.pending.insert(file.id);
        } else if (!matchingLedgerEntry(path)) {
            requeue(file.id);
            arrivals.pending.insert(file.id);
            requeued = true;
        }
    }
    if (!added.isEmpty()) replace(m_files + added);
    if (requeued || !added.isEmpty()) emit saveWanted();
    return arrivals;
}
