// The queue run: checks before starting, workers claiming pending files,
// pause, resume, cancel, retries, and the summary at the end.
#include "engine/transcriber.h"

#include <QThread>

#include <qcoro/qcorosignal.h>
#include <qcoro/qcorotimer.h>

using namespace std::chrono_literals;

int Transcriber::threadsPerJob() const {
    return std::max(1, m_maxParallelism / m_settings.effectiveParallelism());
}

void Transcriber::setRunning(bool running) {
    m_isRunning = running;
    emit runStateChanged();
}

bool Transcriber::isPendingInRun(const AudioFile &file) const {
    return file.status == FileStatus::pending && (!m_restrictedIDs || m_restrictedIDs->contains(file.id)) &&
           !m_changedDuringRun.contains(file.id);
}

void Transcriber::start(std::optional<IdSet> only) {
    if (m_isRunning) return;
    if (!toolsReady()) {
        log(QString::fromUtf8(missingRecogniserText));
        return;
    }
    if (!modelAvailable()) {
        autoDownloadDefaultModel(only);
        return;
    }
    // A file deleted since the scan would fail on every run: it leaves instead.
    dropVanishedFiles();
    m_changedDuringRun.clear();
    m_restrictedIDs = only;
    if (!only) requeueErrors();
    if (std::none_of(m_files.cbegin(), m_files.cend(), [&](const AudioFile &f) { return isPendingInRun(f); })) {
        log(QStringLiteral("Rien à transcrire : aucun fichier en attente."));
        m_restrictedIDs.reset();
        return;
    }
    m_runCancel.reset();
    m_fullDiskFolder.reset();
    m_isPaused = false;
    m_startedAt = QDateTime::currentDateTime();
    m_sessionBaselineProcessed = processedCount();
    m_processes.clearTimedOut();
    cleanupOrphanTempAudio();
    setRunning(true);
    saveNow();
    m_runTask = runQueue();
}

QCoro::Task<> Transcriber::runQueue() {
    const int workerCount = std::max(1, std::min(m_settings.parallelism, m_maxParallelism));
    co_await correctionPreflight();
    // The workers start at once (tasks run to their first wait), then are
    // awaited one by one: together they drain the queue.
    std::vector<QCoro::Task<>> workers;
    for (int i = 0; i < workerCount; ++i) workers.push_back(worker());
    for (auto &w : workers) co_await std::move(w);
    finishRun();
}

QCoro::Task<> Transcriber::worker() {
    while (!m_runCancel.isCancelled()) {
        if (m_isPaused) {
            co_await QCoro::sleepFor(200ms);
            continue;
        }
        auto id = claimNextPending();
        if (!id) co_return;
        co_await process(*id);
    }
}

void Transcriber::finishRun() {
    const bool cancelled = m_runCancel.isCancelled();
    m_isPaused = false;
    m_currentFileNames.clear();
    m_restrictedIDs.reset();
    m_forceIDs.clear();
    setRunning(false);
    const QString summary = runSummary();
    log(summary);
    notify(QStringLiteral("Parlivo"), summary);
    saveNow();
    // The hand-over walks the transcripts and publishes their count itself.
    if (cancelled)
        refreshRawCount();
    else
        m_afterRunTask = chainAfterRun();
    emit runFinished();
}

QString Transcriber::runSummary() const {
    if (m_fullDiskFolder)
        return QStringLiteral("Lot arrêté : disque plein dans « %1 ». Libère de la place, puis relance la "
                              "transcription.")
            .arg(*m_fullDiskFolder);
    if (m_runCancel.isCancelled()) return QStringLiteral("Lot interrompu.");
    return QStringLiteral("Lot terminé : %1 transcrits, %2 sautés, %3 en erreur.")
        .arg(doneCount())
        .arg(skippedCount())
        .arg(errorCount());
}

QCoro::Task<> Transcriber::waitForRun() {
    while (m_isRunning) co_await qCoro(this, &Transcriber::runFinished);
    while (m_chainingAfterRun) co_await qCoro(this, &Transcriber::afterRunChained);
}

std::optional<QUuid> Transcriber::claimNextPending() {
    for (auto &file : m_files) {
        if (!isPendingInRun(file)) continue;
        setStatus(file.id, FileStatus::running);
        file.progress = 0;
        m_currentFileNames.append(file.fileName());
        emit runStateChanged();
        return file.id;
    }
    return std::nullopt;
}

void Transcriber::pause() {
    if (!m_isRunning) return;
    m_isPaused = true;
    emit runStateChanged();
    saveNow();
}

void Transcriber::resume() {
    if (!m_isRunning) return;
    m_isPaused = false;
    emit runStateChanged();
}

void Transcriber::cancel() {
    if (!m_isRunning) return;
    haltRun();
    log(QStringLiteral("Annulation demandée."));
}

void Transcriber::stopOnFullDisk(const QString &folder) {
    if (!m_isRunning || m_fullDiskFolder) return;
    m_fullDiskFolder = folder;
    haltRun();
}

void Transcriber::haltRun() {
    m_runCancel.cancel(); // also cuts off a correction request in flight
    m_isPaused = false;
    m_processes.terminateAll();
    for (auto &file : m_files)
        if (file.status == FileStatus::running) returnToPending(file.id);
    m_currentFileNames.clear();
    emit runStateChanged();
}

void Transcriber::returnToPending(const QUuid &id) {
    setStatus(id, FileStatus::pending);
    if (AudioFile *file = mutableEntry(id)) {
        file->progress = 0;
        emit entryChanged(id);
    }
}

void Transcriber::requeue(AudioFile &file) {
    setStatus(file.id, FileStatus::pending);
    file.progress = 0;
    file.errorMessage.reset();
    file.outputPath.reset();
    emit entryChanged(file.id);
}

void Transcriber::requeueErrors() {
    int requeued = 0, setAside = 0;
    for (auto &file : m_files) {
        if (file.status != FileStatus::error) continue;
        auto it = m_ledger.find(file.path());
        if (it == m_ledger.end() || it->second.attempts.value_or(0) < maxAutoRetries) {
            returnToPending(file.id);
            ++requeued;
        } else {
            ++setAside;
        }
    }
    if (requeued > 0) {
        scheduleSave();
        log(QStringLiteral("Réessai automatique de %1 fichier(s) en échec.").arg(requeued));
    }
    if (setAside > 0)
        log(QStringLiteral("%1 fichier(s) en échec répété (%2 tentatives) laissé(s) de côté. Clic droit > Remettre "
                           "en attente pour forcer.")
                .arg(setAside)
                .arg(maxAutoRetries));
}

void Transcriber::transcribeSelection(const IdSet &ids) {
    IdSet requeued;
    for (auto &file : m_files) {
        if (!ids.contains(file.id) || file.status == FileStatus::running) continue;
        requeue(file);
        m_ledger.erase(file.path());
        requeued.insert(file.id);
    }
    if (requeued.isEmpty()) return;
    m_forceIDs.unite(requeued);
    scheduleSave();
    if (m_isRunning) {
        if (m_restrictedIDs) m_restrictedIDs->unite(requeued);
        log(QStringLiteral("%1 vocal(aux) ajouté(s) au lot en cours.").arg(requeued.size()));
    } else {
        log(QStringLiteral("Transcription de %1 vocal(aux) sélectionné(s).").arg(requeued.size()));
        start(requeued);
    }
}

void Transcriber::retry(const IdSet &ids) {
    for (auto &file : m_files) {
        if (!ids.contains(file.id) || file.status == FileStatus::running) continue;
        requeue(file);
        auto it = m_ledger.find(file.path());
        if (it != m_ledger.end()) it->second.attempts = 0;
    }
    scheduleSave();
}

void Transcriber::retryAllErrors() {
    IdSet failed;
    for (const auto &file : std::as_const(m_files))
        if (file.status == FileStatus::error) failed.insert(file.id);
    retry(failed);
}

void Transcriber::resumeInterruptedRunIfNeeded() {
    if (!m_settings.autoResume || !m_pendingWasRunning || pendingCount() == 0 || !toolsReady() || !modelAvailable())
        return;
    log(QStringLiteral("Reprise automatique du lot après redémarrage."));
    start();
}
