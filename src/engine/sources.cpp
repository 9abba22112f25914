// Turning a folder into the queue, and where each file's transcripts go.
#include "core/folders.h"
#include "engine/source_files.h"
#include "engine/transcriber.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QProcess>

const QStringList Transcriber::audioExtensions = {
    "m4a", "mp3", "wav", "aac", "m4b", "ogg", "flac", "aiff", "aif", "caf", "opus", "wma", "mp4", "mov", "m4v"};

AudioFile Transcriber::restoredFromLedger(const QUrl &url) const {
    AudioFile file(url);
    auto it = m_ledger.find(file.path());
    if (it == m_ledger.end()) return file;
    const LedgerEntry &entry = it->second;
    auto identity = fileIdentity(file.path());
    if (!identity || !sameIdentity(*identity, entry.size, entry.mtime)) return file;
    if (entry.status == QLatin1String("done")) {
        file.status = FileStatus::done;
        file.outputPath = entry.outputPath;
    } else if (entry.status == QLatin1String("empty")) {
        file.status = FileStatus::empty;
        file.errorMessage = entry.errorMessage;
    }
    return file;
}

bool Transcriber::changedSinceRecorded(const QString &path) const {
    auto it = m_ledger.find(path);
    if (it == m_ledger.end()) return false;
    auto identity = fileIdentity(path);
    return identity && !sameIdentity(*identity, it->second.size, it->second.mtime);
}

QList<QUrl> Transcriber::scanSource() const {
    // What Parlivo writes inside the source (the organized archive, a
    // transcript destination) holds copies of recordings, not new ones.
    QStringList written;
    if (auto archive = organizeRootFolder()) written.append(*archive);
    if (auto output = outputRootFolder()) written.append(output->toLocalFile());
    const QString source = m_sourceFolder->toLocalFile();
    return scanAudioFiles(*m_sourceFolder, audioExtensions, foldersStrictlyInside(source, written));
}

void Transcriber::logVanished(const QString &path) {
    log(QStringLiteral("Fichier introuvable, retiré de la file : %1").arg(path));
}

void Transcriber::dropVanishedFiles() {
    QList<AudioFile> kept;
    for (const AudioFile &file : std::as_const(m_files)) {
        if (file.status == FileStatus::running || fileIdentity(file.path())) {
            kept.append(file);
            continue;
        }
        logVanished(file.path());
    }
    if (kept.size() == m_files.size()) return;
    replaceQueue(std::move(kept));
    scheduleSave();
}

void Transcriber::setSourceFolder(const QUrl &folder) {
    m_sourceFolder = folder;
    emit sourceFolderChanged();
    QList<AudioFile> queue;
    for (const QUrl &url : scanSource()) queue.append(restoredFromLedger(url));
    replaceQueue(std::move(queue));
    log(QStringLiteral("Dossier scanné : %1 - %2 fichier(s) audio trouvé(s).")
            .arg(folder.toLocalFile())
            .arg(m_files.size()));
    saveNow();
}

void Transcriber::rescan() {
    if (!m_sourceFolder) return;
    QHash<QUrl, qsizetype> current;
    for (qsizetype i = 0; i < m_files.size(); ++i) current.insert(m_files[i].url, i);
    QList<AudioFile> queue;
    const QList<QUrl> found = scanSource();
    for (const QUrl &url : found) {
        auto it = current.constFind(url);
        const bool finished = it != current.constEnd() && (m_files[*it].status == FileStatus::done ||
                                                            m_files[*it].status == FileStatus::skipped);
        // A finished file re-recorded or edited since its transcript must be
        // transcribed again, not kept as done.
        queue.append(finished && !changedSinceRecorded(url.toLocalFile()) ? m_files[*it] : restoredFromLedger(url));
    }
    // Entries not found again leave the queue; those whose file is gone say so.
    const QSet<QUrl> still(found.cbegin(), found.cend());
    for (const AudioFile &file : std::as_const(m_files))
        if (!still.contains(file.url) && !fileIdentity(file.path())) logVanished(file.path());
    replaceQueue(std::move(queue));
    log(QStringLiteral("Nouveau scan : %1 fichier(s).").arg(m_files.size()));
    saveNow();
}

std::optional<QUrl> Transcriber::macVoiceMemosFolder() const {
    const QString path = folders::realHome() +
                         QStringLiteral("/Library/Group Containers/group.com.apple.VoiceMemos.shared/Recordings");
    if (!QFileInfo(path).isDir()) return std::nullopt;
    return QUrl::fromLocalFile(path);
}

void Transcriber::useMacVoiceMemos() {
    if (m_isRunning) return;
    auto folder = macVoiceMemosFolder();
    if (!folder) {
        log(QStringLiteral("Dossier des mémos vocaux du Mac introuvable. Active la synchro iCloud des mémos "
                           "vocaux, ou choisis le dossier manuellement."));
        return;
    }
    if (m_sourceFolder && QDir::cleanPath(m_sourceFolder->toLocalFile()) == QDir::cleanPath(folder->toLocalFile()))
        rescan();
    else
        setSourceFolder(*folder);
}

QString Transcriber::destinationDir(const QUrl &source) const {
    const QString parent = QFileInfo(source.toLocalFile()).absolutePath();
    const auto &custom = m_settings.customDestination;
    if (m_settings.destinationMode != DestinationMode::custom || !custom || custom->isEmpty()) return parent;
    if (!m_sourceFolder) return *custom;
    const QString relative = relativePath(QUrl::fromLocalFile(parent), *m_sourceFolder);
    return relative.isEmpty() ? *custom : *custom + QLatin1Char('/') + relative;
}

std::optional<QUrl> Transcriber::outputRootFolder() const {
    const auto &custom = m_settings.customDestination;
    if (m_settings.destinationMode == DestinationMode::custom && custom && !custom->isEmpty())
        return QUrl::fromLocalFile(*custom);
    return m_sourceFolder;
}

QString Transcriber::outputLocationDescription() const {
    const auto &custom = m_settings.customDestination;
    if (m_settings.destinationMode == DestinationMode::custom) {
        if (custom && !custom->isEmpty()) return QStringLiteral("Les transcriptions sont dans : ") + *custom;
        return QStringLiteral("Les transcriptions sont à côté de chaque vocal.");
    }
    return QStringLiteral("Les transcriptions (.txt / .md) sont à côté de chaque vocal, dans le dossier source.");
}

void Transcriber::revealOutputFolder() const {
    if (auto root = outputRootFolder()) openUrl(*root);
}

void Transcriber::openUrl(const QUrl &url) const {
    if (m_urlOpener) {
        m_urlOpener(url);
        return;
    }
    QProcess::startDetached(QStringLiteral("xdg-open"), {url.toString()});
}
