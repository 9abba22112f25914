// The history side of the queue: what is known of each file already handled,
// recognised again by its size and modification time.
#include "queue/file_queue.h"

Ledger &FileQueue::editLedger() {
    // Shared with a save in progress (or with the text last written): that
    // one keeps the history it was given.
    if (m_ledger.use_count() > 1) m_ledger = std::make_shared<Ledger>(*m_ledger);
    return *m_ledger;
}

void FileQueue::rebuildLedgerFromQueue() {
    const double now = nowSince1970();
    for (const auto &file : std::as_const(m_files)) {
        if (file.status != FileStatus::done && file.status != FileStatus::skipped) continue;
        auto identity = fileIdentity(file.path());
        if (!identity) continue;
        editLedger()[file.path()] = LedgerEntry{identity->size, identity->mtime, QStringLiteral("done"),
                                            file.outputPath,  now,           std::nullopt,
                                            std::nullopt};
    }
}

std::optional<LedgerEntry> FileQueue::matchingLedgerEntry(const QString &source) const {
    auto it = m_ledger->find(source);
    if (it == m_ledger->end()) return std::nullopt;
    auto identity = fileIdentity(source);
    if (!identity || !sameIdentity(*identity, it->second.size, it->second.mtime)) return std::nullopt;
    return it->second;
}

void FileQueue::recordLedger(const QString &source, const QString &status, std::optional<QString> outputPath,
                             std::optional<QString> errorMessage, std::optional<FileIdentity> identity) {
    if (!identity) identity = fileIdentity(source);
    if (!identity) return;
    int attempts = 0;
    if (status == QLatin1String("error")) {
        auto previous = m_ledger->find(source);
        attempts = (previous != m_ledger->end() ? previous->second.attempts.value_or(0) : 0) + 1;
    }
    editLedger()[source] = LedgerEntry{identity->size,          identity->mtime, status, std::move(outputPath),
                                   nowSince1970(),          std::move(errorMessage), attempts};
    emit saveWanted();
}

namespace {
// What the history says of a file still the version it describes.
void takeFromLedger(AudioFile &file, const LedgerEntry &entry) {
    if (entry.status == QLatin1String("done")) {
        file.status = FileStatus::done;
        file.outputPath = entry.outputPath;
    } else if (entry.status == QLatin1String("empty")) {
        file.status = FileStatus::empty;
        file.errorMessage = entry.errorMessage;
    }
}
} // namespace

AudioFile FileQueue::restoredFromLedger(const QUrl &url) const {
    AudioFile file(url);
    if (auto entry = matchingLedgerEntry(file.path())) takeFromLedger(file, *entry);
    return file;
}

void FileQueue::alignWithLedger(QList<AudioFile> &files) const {
    QStringList known;
    QList<std::pair<qsizetype, const LedgerEntry *>> entries; // the file's place, its entry
    for (qsizetype i = 0; i < files.size(); ++i) {
        QString path = files[i].path();
        const auto it = m_ledger->find(path);
        if (it == m_ledger->end()) continue;
        known.append(std::move(path));
        entries.append({i, &it->second});
    }
    const QList<std::optional<FileIdentity>> now = fileIdentities(known);
    for (qsizetype k = 0; k < known.size(); ++k) {
        AudioFile &file = files[entries[k].first];
        const LedgerEntry &entry = *entries[k].second;
        const bool same = !now[k] || sameIdentity(*now[k], entry.size, entry.mtime);
        if (file.status == FileStatus::pending) {
            if (now[k] && same) takeFromLedger(file, entry);
        } else if (!same) {
            // Re-recorded or edited since its transcript: to be transcribed again.
            file = AudioFile(file.url);
        }
    }
}
