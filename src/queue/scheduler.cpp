// The queue run: checks before starting, workers claiming pending files,
// pause, resume, cancel, retries, and the summary at the end.
#include "queue/scheduler.h"

#include <algorithm>

#include <qcoro/qcorotimer.h>

#include "core/live_stats.h"

using namespace std::chrono_literals;

namespace {
constexpr int workersPerServer = 2;
}

Scheduler::Scheduler(FileQueue &queue, EventLog &log, ProcessRunner &processes, const ParlivoSettings &settings,
                     QObject *parent)
    : QObject(parent), m_queue(queue), m_log(log), m_processes(processes), m_settings(settings),
      m_maxParallelism(::maxParallelism()) {}

int Scheduler::threadsPerJob() const {
    return std::max(1, m_maxParallelism / m_settings.effectiveParallelism());
}

void Scheduler::setRunning(bool running) {
    m_isRunning = running;
    emit runStateChanged();
}

bool Scheduler::isPendingInRun(const AudioFile &file) const {
    return file.status == FileStatus::pending && (!m_restrictedIDs || m_restrictedIDs->contains(file.id)) &&
           !m_changedDuringRun.contains(file.id);
}

void Scheduler::start(std::optional<IdSet> only) {
    if (m_isRunning) return;
    if (!m_hooks.readyToRun(only)) return;
    // A file deleted since the scan would fail on every run: it leaves instead.
    m_queue.dropVanishedFiles();
    m_changedDuringRun.clear();
    m_restrictedIDs = only;
    if (!only) requeueErrors();
    const QList<AudioFile> &files = m_queue.files();
    if (std::none_of(files.cbegin(), files.cend(), [&](const AudioFile &f) { return isPendingInRun(f); })) {
        m_log.log(QStringLiteral("Rien à transcrire : aucun fichier en attente."));
        m_restrictedIDs.reset();
        return;
    }
    m_runCancel.reset();
    m_fullDiskFolder.reset();
    m_noRecogniser = false;
    m_isPaused = false;
    m_startedAt = QDateTime::currentDateTime();
    m_sessionBaselineProcessed = m_queue.processedCount();
    m_processes.clearTimedOut();
    m_hooks.prepare();
    setRunning(true);
    m_hooks.saveNow();
    m_runTask = runQueue();
}

QCoro::Task<> Scheduler::runQueue() {
    co_await m_hooks.beforeFiles();
    // The workers start at once (tasks run to their first wait) and drain the
    // queue together; the servers claim first: they are there because they are
    // faster. Files that join the run while the last ones finish get workers of
    // their own (addWorkers), awaited here as well.
    m_draining = true;
    addWorkers();
    while (!m_workers.empty()) {
        QCoro::Task<> next = std::move(m_workers.front());
        m_workers.pop_front();
        co_await std::move(next);
    }
    m_draining = false;
    finishRun();
}

void Scheduler::addWorkers() {
    // Two workers per server: one converts its next file here while the
    // other's file is on the machine, which then never waits for a conversion
    // (the server itself still takes one request at a time).
    m_liveServerSlots.resize(serverCount(), 0);
    for (int slot = 0; slot < serverCount(); ++slot) {
        for (; m_liveServerSlots[slot] < workersPerServer; ++m_liveServerSlots[slot])
            m_workers.push_back(worker(slot));
    }
    const int localCount = std::min(m_settings.localWorkers(), m_maxParallelism);
    // Counted before it starts: a worker that finds nothing ends at once.
    for (int missing = localCount - m_liveLocalWorkers; missing > 0; --missing) {
        ++m_liveLocalWorkers;
        m_workers.push_back(worker(std::nullopt));
    }
}

QCoro::Task<> Scheduler::worker(std::optional<int> server) {
    co_await workerLoop(server);
    if (server)
        --m_liveServerSlots[*server];
    else
        --m_liveLocalWorkers;
}

QCoro::Task<> Scheduler::workerLoop(std::optional<int> server) {
    while (!m_runCancel.isCancelled()) {
        const bool setAside = server && !m_servers->slotAvailable(*server);
        if (setAside && noRecogniserLeft()) {
            m_noRecogniser = true;
            haltRun();
            co_return;
        }
        if (m_isPaused || setAside) {
            if (!m_isPaused && !mayGetWork()) co_return;
            co_await QCoro::sleepFor(200ms);
            continue;
        }
        auto id = claimNextPending(server ? m_servers->machine(*server) : QString());
        if (!id) {
            if (serverCount() == 0 || m_queue.count(FileStatus::running) == 0) co_return;
            co_await QCoro::sleepFor(200ms);
            continue;
        }
        co_await m_hooks.process(*id, server);
    }
}

bool Scheduler::mayGetWork() const {
    if (m_queue.count(FileStatus::running) > 0) return true;
    const QList<AudioFile> &files = m_queue.files();
    return std::any_of(files.cbegin(), files.cend(), [&](const AudioFile &f) { return isPendingInRun(f); });
}

bool Scheduler::noRecogniserLeft() const {
    if (m_settings.localWorkers() > 0) return false;
    for (int slot = 0; slot < serverCount(); ++slot)
        if (m_servers->slotAvailable(slot)) return false;
    return true;
}

void Scheduler::finishRun() {
    const bool cancelled = m_runCancel.isCancelled();
    m_isPaused = false;
    m_currentFileNames.clear();
    m_currentLabels.clear();
    m_restrictedIDs.reset();
    m_forceIDs.clear();
    setRunning(false);
    const QString summary = runSummary();
    m_log.log(summary);
    m_log.notify(QStringLiteral("Parlivo"), summary);
    m_hooks.saveNow();
    m_hooks.afterRun(cancelled);
    emit runFinished();
}

QString Scheduler::runSummary() const {
    if (m_fullDiskFolder)
        return QStringLiteral("Lot arrêté : disque plein dans « %1 ». Libère de la place, puis relance la "
                              "transcription.")
            .arg(*m_fullDiskFolder);
    if (m_noRecogniser)
        return QStringLiteral("Lot arrêté : aucun serveur de reconnaissance ne répond et aucune transcription "
                              "n'est prévue sur cet ordinateur. Les fichiers restent en attente ; relance la "
                              "transcription quand un serveur répond.");
    if (m_runCancel.isCancelled()) return QStringLiteral("Lot interrompu.");
    return QStringLiteral("Lot terminé : %1 transcrits, %2 sautés, %3 en erreur.")
        .arg(m_queue.count(FileStatus::done))
        .arg(m_queue.count(FileStatus::skipped))
        .arg(m_queue.count(FileStatus::error));
}

std::optional<QUuid> Scheduler::claimNextPending(const QString &machine) {
    for (const auto &file : m_queue.files()) {
        if (!isPendingInRun(file)) continue;
        const QUuid id = file.id;
        const QString label =
            machine.isEmpty() ? file.fileName() : QStringLiteral("%1 (sur %2)").arg(file.fileName(), machine);
        m_currentLabels.insert(id, label);
        m_currentFileNames.append(label);
        m_queue.setStatus(id, FileStatus::running);
        m_queue.setProgress(id, 0);
        emit runStateChanged();
        return id;
    }
    return std::nullopt;
}

void Scheduler::pause() {
    if (!m_isRunning) return;
    m_isPaused = true;
    emit runStateChanged();
    m_hooks.saveNow();
}

void Scheduler::resume() {
    if (!m_isRunning) return;
    m_isPaused = false;
    emit runStateChanged();
}

void Scheduler::cancel() {
    if (!m_isRunning) return;
    haltRun();
    m_log.log(QStringLiteral("Annulation demandée."));
}

void Scheduler::stopOnFullDisk(const QString &folder) {
    if (!m_isRunning || m_fullDiskFolder) return;
    m_fullDiskFolder = folder;
    haltRun();
}

void Scheduler::haltRun() {
    m_runCancel.cancel(); // also cuts off a correction request in flight
    m_isPaused = false;
    m_processes.terminateAll();
    for (const auto &file : m_queue.files())
        if (file.status == FileStatus::running) m_queue.returnToPending(file.id);
    m_currentFileNames.clear();
    m_currentLabels.clear();
    emit runStateChanged();
}

void Scheduler::requeueErrors() {
    int requeued = 0, setAside = 0;
    const Ledger &ledger = m_queue.ledger();
    for (const auto &file : m_queue.files()) {
        if (file.status != FileStatus::error) continue;
        auto it = ledger.find(file.path());
        if (it == ledger.end() || it->second.attempts.value_or(0) < maxAutoRetries) {
            m_queue.returnToPending(file.id);
            ++requeued;
        } else {
            ++setAside;
        }
    }
    if (requeued > 0) {
        m_hooks.scheduleSave();
        m_log.log(QStringLiteral("Réessai automatique de %1 fichier(s) en échec.").arg(requeued));
    }
    if (setAside > 0)
        m_log.log(QStringLiteral("%1 fichier(s) en échec répété (%2 tentatives) laissé(s) de côté. Clic droit > Remettre "
                           "en attente pour forcer.")
                .arg(setAside)
                .arg(maxAutoRetries));
}

void Scheduler::transcribeSelection(const IdSet &ids) {
    IdSet requeued;
    for (const auto &file : m_queue.files()) {
        if (!ids.contains(file.id) || file.status == FileStatus::running) continue;
        m_queue.requeue(file.id);
        m_queue.editLedger().erase(file.path());
        requeued.insert(file.id);
    }
    if (requeued.isEmpty()) return;
    m_forceIDs.unite(requeued);
    m_hooks.scheduleSave();
    if (m_isRunning) {
        join(requeued);
    } else {
        m_log.log(QStringLiteral("Transcription de %1 vocal(aux) sélectionné(s).").arg(requeued.size()));
        start(requeued);
    }
}

void Scheduler::join(const IdSet &ids) {
    if (!m_isRunning || ids.isEmpty()) return;
    if (m_restrictedIDs) m_restrictedIDs->unite(ids);
    // Put off for having changed during the run: they are ready now.
    m_changedDuringRun.subtract(ids);
    if (m_draining) addWorkers();
    m_log.log(QStringLiteral("%1 vocal(aux) ajouté(s) au lot en cours.").arg(ids.size()));
}

void Scheduler::retry(const IdSet &ids) {
    for (const auto &file : m_queue.files()) {
        if (!ids.contains(file.id) || file.status == FileStatus::running) continue;
        m_queue.requeue(file.id);
        Ledger &ledger = m_queue.editLedger();
        auto it = ledger.find(file.path());
        if (it != ledger.end()) it->second.attempts = 0;
    }
    m_hooks.scheduleSave();
}

void Scheduler::retryAllErrors() {
    IdSet failed;
    for (const auto &file : m_queue.files())
        if (file.status == FileStatus::error) failed.insert(file.id);
    retry(failed);
}

void Scheduler::removeCurrentName(const QString &name) {
    if (m_currentFileNames.removeOne(name)) emit runStateChanged();
}

void Scheduler::releaseCurrent(const QUuid &id) {
    if (auto label = m_currentLabels.take(id); !label.isEmpty()) removeCurrentName(label);
}

void Scheduler::deferChanged(const QUuid &id) {
    m_changedDuringRun.insert(id);
    m_queue.returnToPending(id);
}

LiveStats Scheduler::liveStats(const QDateTime &now) const {
    if (!m_startedAt) return {};
    const double elapsed = double(m_startedAt->msecsTo(now)) / 1000.0;
    // Only files finished during this run count: a half-done queue must not inflate the rate.
    const double finished = std::max(0, m_queue.processedCount() - m_sessionBaselineProcessed);
    const double remaining = m_queue.count(FileStatus::pending) + m_queue.count(FileStatus::running);
    const RateEstimate rate = estimateRate(finished, elapsed, remaining);
    return {elapsed, rate.ratePerMin, rate.eta};
}
