#pragma once
// The batch: which pending files it takes, the workers that drain them,
// pause, resume, cancel, retries, and the figures shown while it runs. What
// happens to one file, what a run needs before it starts and what follows it
// are handed in (SchedulerHooks), so the scheduler knows no other area.

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <QUuid>

#include <deque>
#include <vector>
#include <functional>
#include <optional>

#include <qcoro/qcorotask.h>

#include "core/cancellation.h"
#include "core/event_log.h"
#include "core/live_stats.h"
#include "core/records.h"
#include "core/settings.h"
#include "pipeline/process_runner.h"
#include "queue/file_queue.h"
#include "queue/server_slots.h"

// Figures shown while a batch runs.
struct SchedulerHooks {
    // True when a run may start now; otherwise it has said why, or started
    // what must come first (the model download), with the files to take then.
    std::function<bool(const std::optional<IdSet> &only)> readyToRun;
    // Just before the workers start: left-overs of a crash are cleared.
    std::function<void()> prepare;
    // Awaited before the first file (whether this run corrects).
    std::function<QCoro::Task<>()> beforeFiles;
    // The file and the server slot that took it (none: a local worker).
    std::function<QCoro::Task<>(QUuid, std::optional<int> server)> process;
    std::function<void()> saveNow;
    std::function<void()> scheduleSave;
    // After the summary: what follows a finished or cancelled run.
    std::function<void(bool cancelled)> afterRun;
};

class Scheduler : public QObject {
    Q_OBJECT

public:
    static constexpr int maxAutoRetries = 3;

    Scheduler(FileQueue &queue, EventLog &log, ProcessRunner &processes, const ParlivoSettings &settings,
              QObject *parent = nullptr);
    void setHooks(SchedulerHooks hooks) { m_hooks = std::move(hooks); }
    // The recognition servers, each a slot beside the local workers.
    void setServerSlots(const ServerSlots *servers) { m_servers = servers; }

    void start(std::optional<IdSet> only = std::nullopt);
    void pause();
    void resume();
    void cancel();
    // `machine`: the server that takes it, shown beside its name.
    std::optional<QUuid> claimNextPending(const QString &machine = {});
    void requeueErrors();
    void transcribeSelection(const IdSet &ids);
    // Pending files that join the batch at work (nothing when none runs).
    void join(const IdSet &ids);
    void retry(const IdSet &ids);
    void retryAllErrors();

    bool isRunning() const { return m_isRunning; }
    bool isPaused() const { return m_isPaused; }
    Cancellation &cancellation() { return m_runCancel; }
    bool cancelRequested() const { return m_runCancel.isCancelled(); }
    // A transcript could not be written for lack of room: the run stops
    // rather than fail every file left. The folder where it happened.
    const std::optional<QString> &fullDiskFolder() const { return m_fullDiskFolder; }
    void stopOnFullDisk(const QString &folder);
    const QStringList &currentFileNames() const { return m_currentFileNames; }
    // What a file in hand shows: its name, and the machine that has it; empty when not in hand.
    QString currentLabel(const QUuid &id) const { return m_currentLabels.value(id); }
    void removeCurrentName(const QString &name);
    // The file is no longer in hand: its name leaves the current ones.
    void releaseCurrent(const QUuid &id);
    // Every server set aside and no local worker: the run stopped, files pending.
    bool stoppedWithoutRecogniser() const { return m_noRecogniser; }
    int maxParallelism() const { return m_maxParallelism; }
    int threadsPerJob() const;
    // Transcribed again even when the history says done.
    bool isForced(const QUuid &id) const { return m_forceIDs.contains(id); }
    // Changed on disk while being transcribed: pending again, for the next run.
    void deferChanged(const QUuid &id);

    LiveStats liveStats(const QDateTime &now = QDateTime::currentDateTime()) const;
    const std::optional<QDateTime> &startedAt() const { return m_startedAt; }

signals:
    void runStateChanged(); // running, paused, current files
    void runFinished();

private:
    QCoro::Task<> runQueue();
    QCoro::Task<> worker(std::optional<int> server);
    QCoro::Task<> workerLoop(std::optional<int> server);
    void addWorkers();
    // A slot with nothing to claim waits while files are in hand: a server
    // fault may put one back to pending.
    bool mayGetWork() const;
    bool noRecogniserLeft() const;
    int serverCount() const { return m_servers ? m_servers->slotCount() : 0; }
    void finishRun();
    QString runSummary() const;
    // Stops claiming, ends the children and puts running files back to pending.
    void haltRun();
    void setRunning(bool running);
    bool isPendingInRun(const AudioFile &file) const;

    FileQueue &m_queue;
    EventLog &m_log;
    ProcessRunner &m_processes;
    const ParlivoSettings &m_settings;
    SchedulerHooks m_hooks;

    bool m_isRunning = false;
    bool m_isPaused = false;
    Cancellation m_runCancel; // set by cancel(), read by the workers
    std::optional<QString> m_fullDiskFolder;
    bool m_noRecogniser = false;
    const ServerSlots *m_servers = nullptr;
    QHash<QUuid, QString> m_currentLabels; // what each file in hand shows in m_currentFileNames
    QStringList m_currentFileNames;
    std::optional<IdSet> m_restrictedIDs;
    IdSet m_forceIDs;
    IdSet m_changedDuringRun;
    std::optional<QDateTime> m_startedAt;
    int m_sessionBaselineProcessed = 0;
    std::optional<QCoro::Task<>> m_runTask;
    std::deque<QCoro::Task<>> m_workers; // started, not yet awaited by the run
    int m_liveLocalWorkers = 0;
    std::vector<int> m_liveServerSlots; // per server slot: how many of its workers run
    bool m_draining = false; // the workers are at work (the run's checks are over)
    int m_maxParallelism = 1;
};
