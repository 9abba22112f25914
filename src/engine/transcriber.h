#pragma once
// The engine: one object on the main thread that owns the queue, the settings,
// the ledgers and every value the windows show. Its operations live in the
// folder of their area (state store in core/, pipeline in pipeline/, ...);
// this header only gathers the state.

#include <QDateTime>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <QThreadPool>
#include <QTimer>
#include <QUrl>
#include <QUuid>

#include <array>
#include <functional>
#include <optional>
#include <utility>

#include <qcoro/qcorotask.h>

#include "core/cancellation.h"
#include "core/records.h"
#include "core/settings.h"
#include "core/unsaved_state.h"
#include "engine/source_files.h"
#include "organize/org_entry.h"
#include "organize/org_pass.h"
#include "pipeline/pipeline_rules.h"
#include "pipeline/process_runner.h"
#include "pipeline/tools.h"
#include "pipeline/transcript_names.h"
#include "pipeline/whisper_output.h"
#include "engine/live_stats.h"
#include "provisioning/downloader.h"
#include "provisioning/model_catalog.h"
#include "provisioning/ollama_local.h"
#include "provisioning/ollama_pull.h"

// Figures shown while a batch runs.
struct LiveStats {
    double elapsed = 0;
    double ratePerMin = 0;
    std::optional<double> eta;
};

class Transcriber : public QObject {
    Q_OBJECT

public:
    // Locates nothing itself: the caller hands the outside programs in, so the
    // tests can point the engine at stand-ins. Migrates and loads the stored state.
    explicit Transcriber(Tools tools, QObject *parent = nullptr);
    ~Transcriber() override;

    // ---- Settings (saved 1.2 s after the last change) ----
    const ParlivoSettings &settings() const { return m_settings; }
    void setSettings(const ParlivoSettings &settings);

    // ---- State store: settings.json, queue.json, ledger.json ----
    void migrateSupportDirIfNeeded();
    void load();
    // Writes the three files now, on the calling thread.
    void saveNow();
    // One write 1.2 s after the last change, made by the writer thread.
    void scheduleSave();
    bool isLoading() const { return m_isLoading; }
    // A delayed save waiting for its time or being written.
    bool hasPendingSave() const { return m_saveTimer.isActive() || m_savesInFlight > 0; }
    bool pendingWasRunning() const { return m_pendingWasRunning; }
    // The last save of some state file failed: what is on disk is older than
    // the engine's state (logged once; every later save tries again).
    bool stateUnsaved() const { return m_unsavedState.any(); }

    // ---- Log and notifications ----
    static constexpr int maxLogLines = 500;
    void log(const QString &message);
    void clearLog();
    const QStringList &logLines() const { return m_logLines; }
    void notify(const QString &title, const QString &body);
    void requestNotificationPermission();

    // ---- Queue and counters ----
    const QList<AudioFile> &files() const { return m_files; }
    const AudioFile *entry(const QUuid &id) const;
    int count(FileStatus status) const { return m_counts[size_t(status)]; }
    int pendingCount() const { return count(FileStatus::pending); }
    int runningCount() const { return count(FileStatus::running); }
    int doneCount() const { return count(FileStatus::done); }
    int skippedCount() const { return count(FileStatus::skipped); }
    int errorCount() const { return count(FileStatus::error); }
    int emptyCount() const { return count(FileStatus::empty); }
    void setStatus(const QUuid &id, FileStatus status);
    void adjust(FileStatus status, int by);
    void recomputeCounters();
    const Ledger &ledger() const { return m_ledger; }

    // ---- Source folders and file identity ----
    static const QStringList audioExtensions;
    const std::optional<QUrl> &sourceFolder() const { return m_sourceFolder; }
    void setSourceFolder(const QUrl &folder);
    void rescan();
    std::optional<QUrl> macVoiceMemosFolder() const;
    void useMacVoiceMemos();
    QString destinationDir(const QUrl &source) const;
    std::optional<QUrl> outputRootFolder() const;
    QString outputLocationDescription() const;
    void revealOutputFolder() const;

    // ---- Workspace: opening folders and files in the desktop's applications ----
    // The window hands in the desktop's opener; the default asks xdg-open.
    using UrlOpener = std::function<void(const QUrl &)>;
    void setUrlOpener(UrlOpener opener) { m_urlOpener = std::move(opener); }
    void openUrl(const QUrl &url) const;

    // ---- Scheduler ----
    static constexpr int maxAutoRetries = 3;
    using IdSet = QSet<QUuid>;
    void start(std::optional<IdSet> only = std::nullopt);
    void pause();
    void resume();
    void cancel();
    std::optional<QUuid> claimNextPending();
    void requeueErrors();
    void transcribeSelection(const IdSet &ids);
    void retry(const IdSet &ids);
    void retryAllErrors();
    // Resumes a batch interrupted by a quit, when the stored state says so.
    void resumeInterruptedRunIfNeeded();
    bool isRunning() const { return m_isRunning; }
    bool isPaused() const { return m_isPaused; }
    bool cancelRequested() const { return m_runCancel.isCancelled(); }
    // A transcript could not be written for lack of room: the run stops
    // rather than fail every file left. The folder where it happened.
    const std::optional<QString> &fullDiskFolder() const { return m_fullDiskFolder; }
    const QStringList &currentFileNames() const { return m_currentFileNames; }
    int maxParallelism() const { return m_maxParallelism; }
    int threadsPerJob() const;
    // Awaitable end of the current run and of its hand-over to the
    // correction pass or the organization (returns at once when idle).
    QCoro::Task<> waitForRun();

    // ---- Per-file pipeline ----
    QCoro::Task<> process(QUuid id);
    // Registered under the file's id: a cancel or the time limit ends it.
    QCoro::Task<std::optional<double>> probeDuration(QUuid id, QString source);
    void markEmpty(const QUuid &id, std::optional<double> duration);
    void fail(const QUuid &id, const QString &message);
    void setProgress(const QUuid &id, double fraction);
    void cleanupOrphanTempAudio();
    void removeCurrentName(const QString &name);
    bool correctionActiveThisRun() const { return m_correctionActiveThisRun; }
    // The file whose text is with the language model during a batch.
    const std::optional<QString> &correctingName() const { return m_correctingName; }
    void setTimeLimits(const TimeLimits &limits) { m_timeLimits = limits; }

    // ---- Live statistics ----
    int total() const { return int(m_files.size()); }
    int processedCount() const;
    double overallProgress() const;
    std::optional<AudioFile> primaryRunningFile() const;
    bool isComplete() const;
    LiveStats liveStats(const QDateTime &now = QDateTime::currentDateTime()) const;
    const std::optional<QDateTime> &startedAt() const { return m_startedAt; }

    // ---- Whisper models ----
    void refreshModels();
    const QList<ModelInfo> &availableModels() const { return m_availableModels; }
    bool modelAvailable() const;
    QString modelDisplayName() const;
    void autoDownloadDefaultModel(std::optional<IdSet> thenStartOnly);
    const std::optional<double> &modelDownloadProgress() const { return m_modelDownloadProgress; }
    Downloader &modelDownloader() { return m_modelDownloader; }
    // Awaitable end of the automatic download (returns at once when none runs).
    QCoro::Task<> waitForModelDownload();

    // ---- Outside programs ----
    const Tools &tools() const { return m_tools; }
    bool toolsReady() const { return m_tools.ready(); }
    ProcessRunner &processes() { return m_processes; }

    // ---- Start-up work once the window is up ----
    // Resumes an interrupted batch, starts watching the Ollama server and
    // counts the raw transcripts; that count may start the correction pass (or
    // resume the organization), once per launch.
    void startBackgroundWork();

    // ---- Ollama runtime: is the local server installed, up, and holding the model ----
    bool ollamaInstalled() const { return m_ollamaInstalled; }
    bool ollamaRunning() const { return m_ollamaRunning; }
    const std::optional<bool> &ollamaModelInstalled() const { return m_ollamaModelInstalled; }
    bool isOllamaInstalled() const;
    // Opens the server's bundle, or starts `ollama serve`; logs when there is none.
    void launchOllamaApp();
    // The user's action: start the server, then probe it once.
    void launchOllama();
    // True when the server answers (started and awaited when needed) and has
    // the correction model (pulled once when missing).
    QCoro::Task<bool> ensureOllamaRunning();
    QCoro::Task<bool> ensureModelInstalled();
    // Looks at the server now, then every few seconds, publishing changes only.
    void startOllamaMonitor();
    void stopOllamaMonitor();
    void setOllamaTimings(const ollama::Timings &timings) { m_ollamaTimings = timings; }

    // ---- Correction pass: raw transcripts under the output root, corrected one at a time ----
    int rawCount() const { return m_rawCount; }
    bool correctionPassActive() const { return m_correctionPassActive; }
    int correctionPassDone() const { return m_correctionPassDone; }
    int correctionPassTotal() const { return m_correctionPassTotal; }
    const std::optional<QString> &correctionPassCurrent() const { return m_correctionPassCurrent; }
    // Largest pass total seen, kept across launches; 0 once nothing is raw.
    int correctionJobTotal() const { return m_correctionJobTotal; }
    const std::optional<QDateTime> &correctionStartedAt() const { return m_correctionStartedAt; }
    // The count made at launch has arrived (it may start the pass, once).
    bool didConsiderAutoCorrect() const { return m_didConsiderAutoCorrect; }
    // How the last pass ended, for the command line's exit status.
    enum class CorrectionPassEnd {
        none,
        finished,
        cancelled,
        backendUnavailable,
        noOutputRoot,
        nothingToCorrect,
        noService, // the service is "none": no pass was started
    };
    CorrectionPassEnd lastCorrectionPassEnd() const { return m_lastCorrectionPassEnd; }
    // True when the file was corrected and rewritten.
    QCoro::Task<bool> correctTranscript(QString md);
    // Rewrites the .md (and its .txt sibling) with the corrected text; write errors are ignored.
    void rewriteCorrected(const QString &md, const QString &content, const QString &raw, const QString &corrected);
    // Correction is on and has a service to send the text to.
    bool correctionWanted() const;
    void startCorrectionPass();
    // Stops the pass at once: the request in flight is aborted, its file stays raw.
    void cancelCorrectionPass();
    // Awaitable end of the current pass (returns at once when idle).
    QCoro::Task<> waitForCorrectionPass();
    // Counts the raw transcripts on a worker thread and publishes the count.
    void refreshRawCount();
    RateEstimate correctionLiveStats(const QDateTime &now = QDateTime::currentDateTime()) const;

    // ---- Ollama installer: download, unpack, start, pull the model ----
    bool installingOllama() const { return m_installingOllama; }
    double installProgress() const { return m_installProgress; }
    const QString &installStatus() const { return m_installStatus; }
    // Why the last install failed; nothing while one runs or after it succeeded.
    const std::optional<QString> &installError() const { return m_installError; }
    void installOllama();
    QCoro::Task<> runOllamaInstall();
    // Awaitable end of the install (returns at once when idle).
    QCoro::Task<> waitForInstall();

    // ---- Organization: structured documents, themes, the archive and its index ----
    bool orgActive() const { return m_orgActive; }
    const QString &orgPhase() const { return m_orgPhase; }
    int orgDone() const { return m_orgDone; }
    int orgTotal() const { return m_orgTotal; }
    const std::optional<QString> &orgCurrent() const { return m_orgCurrent; }
    int orgOrganizedCount() const { return m_orgOrganizedCount; }
    const OrgLedger &orgLedger() const { return m_orgLedger; }
    // Refused while a run, a batch or a correction pass is active.
    void startOrganization();
    void cancelOrganization();
    // Awaitable end of the current run (returns at once when idle).
    QCoro::Task<> waitForOrganization();
    // Transcripts whose memo has no folder in the archive, or lost it.
    int pendingOrganizationCount() const;
    std::optional<QString> organizeRootFolder() const;
    QStringList organizeTranscriptFiles() const;
    void revealOrganizedArchive() const;
    void loadOrgLedger();
    void saveOrgLedger();

signals:
    void settingsChanged();
    void logLineAdded(const QString &line);
    void notificationPosted(const QString &title, const QString &body); // also sent to the desktop
    void logCleared();
    void queueChanged();                 // entries added, removed or replaced
    void entryChanged(const QUuid &id);  // one entry's status, progress or texts
    void countersChanged();
    void sourceFolderChanged();
    void runStateChanged();      // running, paused, current files
    void modelsChanged();        // the local models or the automatic download
    void ollamaChanged();        // installed, running, model present
    void correctionChanged();    // the raw count, the pass and its figures
    void installChanged();       // the one-action install's progress and status
    // Emitted once at the very end of a pass or an install. The waits await
    // these rather than the change signals, which may fire twice in a row.
    void correctionPassFinished();
    void installFinished();
    void organizationChanged();  // the run's phase, figures and current memo
    void organizationFinished(); // once, at the very end of a run
    void modelDownloadFinished(); // once, when the automatic download ends
    void runFinished();
    void afterRunChained(); // the finished run has started what follows it, if anything
    void stateSaved(); // the three state files were just written

private:
    AudioFile *mutableEntry(const QUuid &id);
    AudioFile restoredFromLedger(const QUrl &url) const;
    QList<QUrl> scanSource() const;
    // Files gone from the disk leave the queue, each with a log line.
    void dropVanishedFiles();
    void logVanished(const QString &path);
    bool changedSinceRecorded(const QString &path) const;
    void replaceQueue(QList<AudioFile> files);
    void rebuildLedgerFromQueue();
    template <typename T, typename Decode> std::optional<T> readStateFile(const QString &name, Decode decode);
    void saveInBackground();
    void noteStateSave(quint64 save, const QList<UnsavedState::Outcome> &outcomes);
    QCoro::Task<> runQueue();
    QCoro::Task<> worker();
    void finishRun();
    QString runSummary() const;
    // Stops claiming, ends the children and puts running files back to pending.
    void haltRun();
    void stopOnFullDisk(const QString &folder);
    void setRunning(bool running);
    bool isPendingInRun(const AudioFile &file) const;
    void requeue(AudioFile &file);
    // `identity`: the file as the outcome saw it (read now when not given).
    void recordLedger(const QString &source, const QString &status, std::optional<QString> outputPath,
                      std::optional<QString> errorMessage, std::optional<FileIdentity> identity = std::nullopt);
    std::optional<TranscriptPaths> chooseTranscriptNames(const QUuid &id, const QString &source, const QUrl &url);
    bool transcriptHeldByAnother(const QString &stem, const QUuid &id, const QString &source) const;
    void deferChangedFile(const QUuid &id);
    std::optional<LedgerEntry> matchingLedgerEntry(const QString &source) const;
    bool settleFromLedger(const QUuid &id, const QString &source, const QString &txt, const QString &md);
    void returnToPending(const QUuid &id);
    QCoro::Task<std::optional<QString>> correctForRun(QUuid id, QString text);
    QCoro::Task<> correctionPreflight();
    QCoro::Task<> chainAfterRun();
    void setCorrectingName(std::optional<QString> name);
    QCoro::Task<> monitorCycle();
    void setOllamaInstalled(bool installed);
    void setOllamaRunning(bool running);
    void setOllamaModelInstalled(bool installed);
    std::function<void(const ollama::PullUpdate &)> modelPullLogger(const QString &model);
    QCoro::Task<> runCorrectionPass();
    // Reading every Markdown transcript can take a while: on a worker thread.
    static QCoro::Task<QStringList> rawTranscriptsOffThread(QString root, std::optional<QString> archive);
    QCoro::Task<int> correctionCycle(QStringList files);
    // `rawLeft`: the count a last walk just made, published instead of walking again.
    void finishCorrectionPass(CorrectionPassEnd end, std::optional<int> rawLeft = std::nullopt);
    void setCorrectionJobTotal(int total);
    void setRawCount(int count);
    void publishRawCount(int count); // a count just made: walks still running are outdated
    void countRawTranscripts(bool atLaunch);
    void considerAutoStart(int count);
    void setInstall(double progress, const QString &status);
    QCoro::Task<> unpackOllamaArchive(QString archive, QString destination);
    std::function<void(const ollama::PullUpdate &)> installPullProgress();
    // The organization run joins here. Called when organization is enabled:
    // after a correction pass that was not cancelled, after a batch that left
    // nothing to correct, and once at launch when nothing is raw
    // (`resumingAtLaunch`: only memos the organization ledger still holds as
    // pending are taken up).
    void organizeAfterCorrection(bool resumingAtLaunch);
    QCoro::Task<> runOrganization();
    void setOrgProgress(const QString &phase, int total);
    OrgPassHooks organizationHooks();

    // Outside programs, located once.
    Tools m_tools;

    // Options and durable state.
    ParlivoSettings m_settings;
    QList<AudioFile> m_files;
    Ledger m_ledger;
    std::optional<QUrl> m_sourceFolder;

    // State store.
    bool m_isLoading = false;
    bool m_pendingWasRunning = false;
    QTimer m_saveTimer;
    int m_savesInFlight = 0;
    quint64 m_savesStarted = 0; // saves are numbered, so an outdated outcome is ignored
    quint64 m_lastSaveNoted = 0;
    UnsavedState m_unsavedState;

    // Status counters, indexed by FileStatus.
    std::array<int, fileStatusCount> m_counts{};

    // Outside programs: the running children, by queue entry.
    ProcessRunner m_processes;

    // Run state.
    bool m_isRunning = false;
    bool m_isPaused = false;
    Cancellation m_runCancel; // set by cancel(), read by the workers
    std::optional<QString> m_fullDiskFolder;
    QStringList m_currentFileNames;
    std::optional<IdSet> m_restrictedIDs;
    IdSet m_forceIDs;
    // Files that changed on disk while being transcribed: pending again, for the next run.
    IdSet m_changedDuringRun;
    // Transcript names chosen by the files in hand.
    TranscriptNameClaims m_transcriptNames;
    std::optional<QDateTime> m_startedAt;
    int m_sessionBaselineProcessed = 0;
    bool m_correctionActiveThisRun = false;
    std::optional<QCoro::Task<>> m_runTask;
    int m_maxParallelism = 1;
    TimeLimits m_timeLimits;

    // Language model during a batch.
    std::optional<QString> m_correctingName;

    // Ollama runtime, and the monitor's timer between two looks.
    bool m_ollamaInstalled = false;
    bool m_ollamaRunning = false;
    std::optional<bool> m_ollamaModelInstalled;
    ollama::Timings m_ollamaTimings;
    bool m_monitorActive = false;
    bool m_monitorCycleRunning = false;
    QTimer m_monitorTimer;

    // Correction pass. Its cancellation is checked before each file and
    // between cycles, and aborts the request in flight.
    int m_rawCount = 0;
    bool m_correctionPassActive = false;
    int m_correctionPassDone = 0;
    int m_correctionPassTotal = 0;
    std::optional<QString> m_correctionPassCurrent;
    int m_correctionJobTotal = 0;
    std::optional<QDateTime> m_correctionStartedAt;
    Cancellation m_correctionPassCancel;
    CorrectionPassEnd m_lastCorrectionPassEnd = CorrectionPassEnd::none;
    std::optional<QCoro::Task<>> m_correctionPassTask;
    // The end of a run looks for raw transcripts off the main thread before
    // handing over; the waits for the run include this.
    std::optional<QCoro::Task<>> m_afterRunTask;
    bool m_chainingAfterRun = false;
    bool m_didConsiderAutoCorrect = false;
    quint64 m_rawCountRequest = 0; // only the latest count is published

    // One-action install of the Ollama server.
    bool m_installingOllama = false;
    double m_installProgress = 0;
    QString m_installStatus;
    std::optional<QString> m_installError;
    std::optional<QCoro::Task<>> m_installTask;
    Downloader m_installDownloader;

    // Organization run and its ledger. The flag is the run's cancellation,
    // checked before each memo and between phases.
    bool m_orgActive = false;
    QString m_orgPhase;
    int m_orgDone = 0;
    int m_orgTotal = 0;
    std::optional<QString> m_orgCurrent;
    int m_orgOrganizedCount = 0;
    bool m_orgCancelRequested = false;
    OrgLedger m_orgLedger;
    std::optional<QCoro::Task<>> m_orgTask;

    // Whisper models and the automatic first download.
    QList<ModelInfo> m_availableModels;
    std::optional<double> m_modelDownloadProgress;
    Downloader m_modelDownloader;

    // The rolling log.
    QStringList m_logLines;

    // Workspace.
    UrlOpener m_urlOpener;

    // Writes delayed saves one after the other. Last member: destroyed first,
    // it waits for a write in progress while the rest is still alive.
    QThreadPool m_stateWriter;
};
