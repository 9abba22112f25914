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

AudioFile FileQueue::restoredFromLedger(const QUrl &url) const {
    AudioFile file(url);
    auto entry = matchingLedgerEntry(file.path());
    if (!entry) return file;
    if (entry->status == QLatin1String("done")) {
        file.status = FileStatus::done;
        file.outputPath = entry->outputPath;
    } else if (entry->status == QLatin1String("empty")) {
        file.status = FileStatus::empty;
        file.errorMessage = entry->errorMessage;
    }
    return file;
}

bool FileQueue::changedSinceRecorded(const QString &path) const {
    auto it = m_ledger->find(path);
    if (it == m_ledger->end()) return false;
    auto identity = fileIdentity(path);
    return identity && !sameIdentity(*identity, it->second.size, it->second.mtime);
}
