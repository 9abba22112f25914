#pragma once
// The engine: composes the areas, hands each what it needs of the others,
// and republishes their signals under the engine's names, so the window, the
// command line and the tests speak to one object. Each area owns its state:
//   queue/         the queue, its history, the source folder, the state
//                  files and the batch scheduler
//   pipeline/      one file from running to its final status
//   correction/    the batch's correction stage and the correction pass
//   provisioning/  the recogniser's models, the Ollama server and its install
//   organize/      the organization run and its archive
//   watch/         the watch on the source folder
//   library/       the index of every memo, for searching them all
//   remote/        the recognition servers that take files beside this machine
// What the engine keeps itself is the hand-over between them: what follows a
// batch or a pass, and the work started once the window is up.

#include <QObject>
#include <QUrl>

#include <functional>
#include <optional>

#include <qcoro/qcorotask.h>

#include "core/event_log.h"
#include "core/settings.h"
#include "correction/correction_pass.h"
#include "correction/run_correction.h"
#include "library/library.h"
#include "organize/organization_run.h"
#include "pipeline/file_pipeline.h"
#include "pipeline/process_runner.h"
#include "pipeline/tools.h"
#include "provisioning/ollama_installer.h"
#include "provisioning/ollama_runtime.h"
#include "provisioning/whisper_models.h"
#include "queue/file_queue.h"
#include "queue/scheduler.h"
#include "queue/state_store.h"
#include "watch/folder_watch.h"
#include "remote/recognition_servers.h"

class Transcriber : public QObject {
    Q_OBJECT

public:
    using IdSet = ::IdSet;
    using CorrectionPassEnd = ::CorrectionPassEnd;
    using UrlOpener = std::function<void(const QUrl &)>;
    static constexpr int maxLogLines = EventLog::maxLines;
    static constexpr int maxAutoRetries = Scheduler::maxAutoRetries;
    static inline const QStringList &audioExtensions = FileQueue::audioExtensions;

    // Locates nothing itself: the caller hands the outside programs in, so the
    // tests can point the engine at stand-ins. Migrates and loads the stored state.
    explicit Transcriber(Tools tools, QObject *parent = nullptr);
    ~Transcriber() override;

    // ---- Settings (saved 1.2 s after the last change) ----
    const ParlivoSettings &settings() const { return m_settings; }
    void setSettings(const ParlivoSettings &settings);

    // ---- State files ----
    void migrateSupportDirIfNeeded();
    void load();
    // Writes the state files now, on the calling thread.
    void saveNow() { m_store.saveNow(); }
    QCoro::Task<> waitForSaves() { return m_store.waitForWrites(); }
    void scheduleSave() { m_store.scheduleSave(); }
    bool isLoading() const { return m_isLoading; }
    bool hasPendingSave() const { return m_store.hasPendingSave(); }
    bool pendingWasRunning() const { return m_pendingWasRunning; }
    bool stateUnsaved() const { return m_store.unsaved(); }

    // ---- Log and notifications ----
    void log(const QString &message) { m_log.log(message); }
    void clearLog() { m_log.clear(); }
    const QStringList &logLines() const { return m_log.lines(); }
    void notify(const QString &title, const QString &body) { m_log.notify(title, body); }
    // The desktop's own settings decide whether alerts show: nothing to ask.
    void requestNotificationPermission() {}

    // ---- Queue and history ----
    const QList<AudioFile> &files() const { return m_queue.files(); }
    const AudioFile *entry(const QUuid &id) const { return m_queue.entry(id); }
    int count(FileStatus status) const { return m_queue.count(status); }
    int pendingCount() const { return count(FileStatus::pending); }
    int runningCount() const { return count(FileStatus::running); }
    int doneCount() const { return count(FileStatus::done); }
    int skippedCount() const { return count(FileStatus::skipped); }
    int errorCount() const { return count(FileStatus::error); }
    int emptyCount() const { return count(FileStatus::empty); }
    void setStatus(const QUuid &id, FileStatus status) { m_queue.setStatus(id, status); }
    void adjust(FileStatus status, int by) { m_queue.adjust(status, by); }
    void recomputeCounters() { m_queue.recomputeCounters(); }
    void setProgress(const QUuid &id, double fraction) { m_queue.setProgress(id, fraction); }
    const Ledger &ledger() const { return m_queue.ledger(); }

    // ---- Source folder and destinations ----
    const std::optional<QUrl> &sourceFolder() const { return m_queue.sourceFolder(); }
    void setSourceFolder(const QUrl &folder);
    void rescan();
    std::optional<QUrl> macVoiceMemosFolder() const;
    void useMacVoiceMemos();
    QString destinationDir(const QUrl &source) const;
    std::optional<QUrl> outputRootFolder() const;
    QString outputLocationDescription() const;
    void revealOutputFolder() const;

    // ---- Opening folders and files in the desktop's applications ----
    // The window hands in the desktop's opener; the default asks xdg-open.
    void setUrlOpener(UrlOpener opener) { m_urlOpener = std::move(opener); }
    void openUrl(const QUrl &url) const;

    // ---- The batch ----
    void start(std::optional<IdSet> only = std::nullopt) { m_scheduler.start(std::move(only)); }
    void pause() { m_scheduler.pause(); }
    void resume() { m_scheduler.resume(); }
    void cancel() { m_scheduler.cancel(); }
    std::optional<QUuid> claimNextPending() { return m_scheduler.claimNextPending(); }
    void requeueErrors() { m_scheduler.requeueErrors(); }
    void transcribeSelection(const IdSet &ids) { m_scheduler.transcribeSelection(ids); }
    void retry(const IdSet &ids) { m_scheduler.retry(ids); }
    void retryAllErrors() { m_scheduler.retryAllErrors(); }
    // Resumes a batch interrupted by a quit, when the stored state says so.
    void resumeInterruptedRunIfNeeded();
    bool isRunning() const { return m_scheduler.isRunning(); }
    bool isPaused() const { return m_scheduler.isPaused(); }
    bool cancelRequested() const { return m_scheduler.cancelRequested(); }
    const std::optional<QString> &fullDiskFolder() const { return m_scheduler.fullDiskFolder(); }
    const QStringList &currentFileNames() const { return m_scheduler.currentFileNames(); }
    int maxParallelism() const { return m_scheduler.maxParallelism(); }
    int threadsPerJob() const { return m_scheduler.threadsPerJob(); }
    // Awaitable end of the current run and of its hand-over to the
    // correction pass or the organization (returns at once when idle).
    QCoro::Task<> waitForRun();

    // ---- One file ----
    QCoro::Task<> process(QUuid id) { return m_pipeline.process(id); }
    bool stoppedWithoutRecogniser() const { return m_scheduler.stoppedWithoutRecogniser(); }
    QCoro::Task<std::optional<double>> probeDuration(QUuid id, QString source) {
        return m_pipeline.probeDuration(id, std::move(source));
    }
    void markEmpty(const QUuid &id, std::optional<double> duration) { m_pipeline.markEmpty(id, duration); }
    void fail(const QUuid &id, const QString &message) { m_pipeline.fail(id, message); }
    void cleanupOrphanTempAudio() { m_pipeline.cleanupOrphanTempAudio(); }
    void removeCurrentName(const QString &name) { m_scheduler.removeCurrentName(name); }
    bool correctionActiveThisRun() const { return m_runCorrection.activeThisRun(); }
    const std::optional<QString> &correctingName() const { return m_runCorrection.correctingName(); }
    void setTimeLimits(const TimeLimits &limits) { m_pipeline.setTimeLimits(limits); }

    // ---- Live figures ----
    int total() const { return int(files().size()); }
    int processedCount() const { return m_queue.processedCount(); }
    double overallProgress() const { return m_queue.overallProgress(); }
    std::optional<AudioFile> primaryRunningFile() const { return m_queue.primaryRunningFile(); }
    bool isComplete() const;
    LiveStats liveStats(const QDateTime &now = QDateTime::currentDateTime()) const { return m_scheduler.liveStats(now); }
    const std::optional<QDateTime> &startedAt() const { return m_scheduler.startedAt(); }

    // ---- Recogniser models ----
    void refreshModels() { m_models.refresh(); }
    const QList<ModelInfo> &availableModels() const { return m_models.available(); }
    bool modelAvailable() const { return m_models.modelAvailable(); }
    QString modelDisplayName() const { return m_models.displayName(); }
    void autoDownloadDefaultModel(std::optional<IdSet> thenStartOnly);
    const std::optional<double> &modelDownloadProgress() const { return m_models.downloadProgress(); }
    Downloader &modelDownloader() { return m_models.downloader(); }
    QCoro::Task<> waitForModelDownload() { return m_models.waitForDownload(); }

    // ---- Outside programs ----
    const Tools &tools() const { return m_tools; }
    bool toolsReady() const { return m_tools.ready(); }
    ProcessRunner &processes() { return m_processes; }

    // ---- Start-up work once the window is up ----
    // Resumes an interrupted batch, starts watching the Ollama server and
    // counts the raw transcripts; that count may start the correction pass (or
    // resume the organization), once per launch. From then on the source
    // folder is watched whenever the watchFolder setting is on.
    void startBackgroundWork();

    // ---- Watching the source folder ----
    // While on, recordings that appear or change under the source folder are
    // queued once they hold still and transcribed, joining the batch at work.
    void setWatching(bool on) { m_watch.setEnabled(on); }
    bool isWatching() const { return m_watch.active(); }
    void setWatchSettleDelay(std::chrono::milliseconds delay) { m_watch.setSettleDelay(delay); }

    // ---- Ollama server ----
    bool ollamaInstalled() const { return m_ollama.installed(); }
    bool ollamaRunning() const { return m_ollama.running(); }
    const std::optional<bool> &ollamaModelInstalled() const { return m_ollama.modelInstalled(); }
    bool isOllamaInstalled() const { return m_ollama.findInstalled(); }
    void launchOllamaApp() { m_ollama.launchApp(); }
    void launchOllama() { m_ollama.launch(); }
    QCoro::Task<bool> ensureOllamaRunning() { return m_ollama.ensureRunning(); }
    QCoro::Task<bool> ensureModelInstalled() { return m_ollama.ensureModelInstalled(); }
    void startOllamaMonitor() { m_ollama.startMonitor(); }
    void stopOllamaMonitor() { m_ollama.stopMonitor(); }
    void setOllamaTimings(const ollama::Timings &timings) { m_ollama.setTimings(timings); }

    // ---- Correction pass ----
    int rawCount() const { return m_correction.rawCount(); }
    bool correctionPassActive() const { return m_correction.active(); }
    int correctionPassDone() const { return m_correction.done(); }
    int correctionPassTotal() const { return m_correction.total(); }
    const std::optional<QString> &correctionPassCurrent() const { return m_correction.current(); }
    int correctionJobTotal() const { return m_correction.jobTotal(); }
    const std::optional<QDateTime> &correctionStartedAt() const { return m_correction.startedAt(); }
    // The count made at launch has arrived (it may start the pass, once).
    bool didConsiderAutoCorrect() const { return m_didConsiderAutoCorrect; }
    CorrectionPassEnd lastCorrectionPassEnd() const { return m_correction.lastEnd(); }
    QCoro::Task<bool> correctTranscript(QString md) { return m_correction.correctTranscript(std::move(md)); }
    void rewriteCorrected(const QString &md, const QString &content, const QString &raw, const QString &corrected) {
        m_correction.rewriteCorrected(md, content, raw, corrected);
    }
    bool correctionWanted() const { return m_correction.wanted(); }
    void startCorrectionPass() { m_correction.start(); }
    void cancelCorrectionPass() { m_correction.cancel(); }
    QCoro::Task<> waitForCorrectionPass() { return m_correction.waitForEnd(); }
    void refreshRawCount() { m_correction.countRaw(); }
    RateEstimate correctionLiveStats(const QDateTime &now = QDateTime::currentDateTime()) const {
        return m_correction.liveStats(now);
    }

    // ---- Ollama installer ----
    bool installingOllama() const { return m_installer.installing(); }
    double installProgress() const { return m_installer.progress(); }
    const QString &installStatus() const { return m_installer.status(); }
    const std::optional<QString> &installError() const { return m_installer.error(); }
    void installOllama() { m_installer.install(); }
    QCoro::Task<> runOllamaInstall() { return m_installer.run(); }
    QCoro::Task<> waitForInstall() { return m_installer.waitForEnd(); }

    // ---- Organization ----
    bool orgActive() const { return m_organization.active(); }
    const QString &orgPhase() const { return m_organization.phase(); }
    int orgDone() const { return m_organization.done(); }
    int orgTotal() const { return m_organization.total(); }
    const std::optional<QString> &orgCurrent() const { return m_organization.current(); }
    int orgOrganizedCount() const { return m_organization.organizedCount(); }
    const OrgLedger &orgLedger() const { return m_organization.ledger(); }
    // Refused while a run, a batch or a correction pass is active.
    void startOrganization();
    void cancelOrganization() { m_organization.cancel(); }
    QCoro::Task<> waitForOrganization() { return m_organization.waitForEnd(); }
    int pendingOrganizationCount() const { return m_organization.pendingCount(); }
    QCoro::Task<int> pendingOrganizationCountOffThread() const { return m_organization.pendingCountOffThread(); }
    std::optional<QString> organizeRootFolder() const { return m_organization.archiveRoot(); }
    QStringList organizeTranscriptFiles() const { return m_organization.transcriptFiles(); }
    void revealOrganizedArchive() const { m_organization.revealArchive(); }
    void loadOrgLedger() { m_organization.loadLedger(); }
    void saveOrgLedger() { m_organization.saveLedger(); }

    // ---- Memo library ----
    // Opens the index at the first search, rebuilding it first when needed.
    QCoro::Task<MemoLibrary::Found> searchLibrary(SearchQuery query, int limit = 100) {
        return m_library.search(std::move(query), limit);
    }
    QCoro::Task<> waitForLibrary() { return m_library.waitForRebuild(); }
    // One memo for the reader: its text and segments, from the index or its file.
    QCoro::Task<std::optional<LibraryMemo>> libraryMemo(QString transcriptPath);

signals:
    void settingsChanged();
    void logLineAdded(const QString &line);
    void notificationPosted(const QString &title, const QString &body); // also sent to the desktop
    void logCleared();
    void queueChanged();                // entries added, removed or replaced
    void entryChanged(const QUuid &id); // one entry's status, progress or texts
    void countersChanged();
    void sourceFolderChanged();
    void runStateChanged();     // running, paused, current files
    void modelsChanged();       // the local models or the automatic download
    void ollamaChanged();       // installed, running, model present
    void correctionChanged();   // the raw count, the pass and its figures
    void installChanged();      // the one-action install's progress and status
    // Emitted once at the very end of a pass or an install. The waits await
    // these rather than the change signals, which may fire twice in a row.
    void correctionPassFinished();
    void installFinished();
    void organizationChanged();   // the run's phase, figures and current memo
    void organizationFinished();  // once, at the very end of a run
    void modelDownloadFinished(); // once, when the automatic download ends
    void runFinished();
    void afterRunChained(); // the finished run has started what follows it, if anything
    void stateSaved();      // the three state files were just written
    void watchChanged();    // watching the source folder started or stopped

private:
    void connectSignals();
    SchedulerHooks schedulerHooks();
    WatchHooks watchHooks();
    std::optional<QString> outputRootPath() const;
    // Where Parlivo writes under the source: never scanned nor watched.
    QStringList writtenFolders() const;
    std::optional<WatchTarget> watchTarget() const;
    // Recordings the watch saw settle; returns those being transcribed.
    QStringList takeSettledFiles(const QStringList &paths);
    LibraryFolders libraryFolders() const;
    bool readyToRun(const std::optional<IdSet> &only);
    QCoro::Task<> chainAfterRun();
    void considerAutoStart(int rawCount);
    // The organization joins after a pass that was not cancelled, after a
    // batch that left nothing to correct, and once at launch when nothing is
    // raw (`resumingAtLaunch`: only memos its ledger still holds as pending).
    void organizeAfterCorrection(bool resumingAtLaunch);

    Tools m_tools;
    ParlivoSettings m_settings;
    UrlOpener m_urlOpener;

    // The areas, each handed what it needs of those declared before it.
    EventLog m_log;
    ProcessRunner m_processes;
    FileQueue m_queue;
    StateStore m_store;
    OllamaRuntime m_ollama;
    RunCorrection m_runCorrection;
    RecognitionServers m_servers;
    Scheduler m_scheduler;
    FilePipeline m_pipeline;
    WhisperModels m_models;
    OllamaInstaller m_installer;
    CorrectionPass m_correction;
    OrganizationRun m_organization;
    FolderWatch m_watch;
    Library m_library;

    // The hand-over between the areas.
    bool m_isLoading = false;
    bool m_pendingWasRunning = false;
    bool m_didConsiderAutoCorrect = false;
    // The end of a run looks for raw transcripts off the main thread before
    // handing over; the waits for the run include this.
    bool m_chainingAfterRun = false;
    std::optional<QCoro::Task<>> m_afterRunTask;
};
