#include "queue/file_queue.h"

#include <algorithm>

#include "queue/state_store.h"

FileQueue::FileQueue(EventLog &log, WrittenFolders written, QObject *parent)
    : QObject(parent), m_log(log), m_writtenFolders(std::move(written)) {}

const AudioFile *FileQueue::entry(const QUuid &id) const {
    for (const auto &file : m_files)
        if (file.id == id) return &file;
    return nullptr;
}

AudioFile *FileQueue::mutableEntry(const QUuid &id) {
    return const_cast<AudioFile *>(std::as_const(*this).entry(id));
}

int FileQueue::processedCount() const {
    return count(FileStatus::done) + count(FileStatus::skipped) + count(FileStatus::error) + count(FileStatus::empty);
}

double FileQueue::overallProgress() const {
    if (m_files.isEmpty()) return 0;
    double sum = processedCount();
    for (const auto &file : m_files)
        if (file.status == FileStatus::running) sum += file.progress;
    return sum / double(m_files.size());
}

std::optional<AudioFile> FileQueue::primaryRunningFile() const {
    for (const auto &file : m_files)
        if (file.status == FileStatus::running) return file;
    return std::nullopt;
}

void FileQueue::setStatus(const QUuid &id, FileStatus status) {
    AudioFile *file = mutableEntry(id);
    if (!file || file->status == status) return;
    adjust(file->status, -1);
    adjust(status, +1);
    file->status = status;
    emit entryChanged(id);
}

void FileQueue::adjust(FileStatus status, int by) {
    m_counts[size_t(status)] += by;
    emit countersChanged();
}

void FileQueue::recomputeCounters() {
    m_counts.fill(0);
    for (const auto &file : m_files) ++m_counts[size_t(file.status)];
    emit countersChanged();
}

void FileQueue::replace(QList<AudioFile> files) {
    m_files = std::move(files);
    recomputeCounters();
    emit queueChanged();
}

void FileQueue::restore(QList<AudioFile> files) {
    for (auto &file : files) {
        if (file.status == FileStatus::running) file.status = FileStatus::pending;
        if (file.status != FileStatus::done && file.status != FileStatus::skipped) file.progress = 0;
    }
    replace(std::move(files));
}

bool FileQueue::restoreStored(StoredState &stored, StateParts parts) {
    if (stored.ledger) m_ledger = std::move(stored.ledger);
    bool wasRunning = false;
    if (stored.queue) {
        wasRunning = stored.queue->wasRunning;
        restore(std::move(stored.queue->files));
        restoreSourceFolder(stored.queue->sourceFolder);
    }
    if (parts == StateParts::all && ledger().empty()) rebuildLedgerFromQueue();
    return wasRunning;
}

void FileQueue::setProgress(const QUuid &id, double fraction) {
    AudioFile *file = mutableEntry(id);
    if (!file) return;
    file->progress = std::clamp(fraction, 0.0, 1.0);
    emit entryChanged(id);
}

void FileQueue::returnToPending(const QUuid &id) {
    setStatus(id, FileStatus::pending);
    if (AudioFile *file = mutableEntry(id)) {
        file->progress = 0;
        emit entryChanged(id);
    }
}

void FileQueue::requeue(const QUuid &id) {
    setStatus(id, FileStatus::pending);
    AudioFile *file = mutableEntry(id);
    if (!file) return;
    file->progress = 0;
    file->errorMessage.reset();
    file->outputPath.reset();
    emit entryChanged(id);
}
