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

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>

#include <qcoro/qcorotask.h>

#include "core/event_log.h"
#include "core/live_stats.h"
#include "core/records.h"
#include "core/settings.h"
#include "core/state_parts.h"
#include "pipeline/tools.h" // the constructor's argument

// The areas and the types of their interfaces, declared only: an area's
// header reaches the engine's own files, not every file that speaks to the engine.
class CorrectionPass;
class Downloader;
class FilePipeline;
class FileQueue;
class FolderWatch;
class Library;
class OllamaInstaller;
class OllamaRuntime;
class OrganizationRun;
class ProcessRunner;
class RecognitionServers;
class RunCorrection;
class Scheduler;
class StateStore;
class WhisperModels;
struct LibraryFolders;
struct LibraryFound;
struct LibraryMemo;
struct ModelInfo;
struct SchedulerHooks;
struct SearchQuery;
struct TimeLimits;
struct WatchHooks;
struct WatchTarget;
enum class CorrectionPassEnd;
namespace ollama {
struct Timings;
}
struct OrgEntry;
using OrgLedger = std::map<QString, OrgEntry>;

class Transcriber : public QObject {
    Q_OBJECT

public:
    using IdSet = ::IdSet;
    using CorrectionPassEnd = ::CorrectionPassEnd;
    using UrlOpener = std::function<void(const QUrl &)>;
    static constexpr int maxLogLines = EventLog::maxLines;
    static const int maxAutoRetries;
    static const QStringList &audioExtensions;

    // Locates nothing itself: the caller hands the outside programs in, so the
    // tests can point the engine at stand-ins. Migrates and loads the stored
    // state, or only the `parts` a command prints (it then writes nothing).
    explicit Transcriber(Tools tools, StateParts parts = StateParts::all, QObject *parent = nullptr);
    ~Transcriber() override;

    // ---- Settings (saved 1.2 s after the last change) ----
    const ParlivoSettings &settings() const;
    void setSettings(const ParlivoSettings &settings);

    // ---- State files ----
    void migrateSupportDirIfNeeded();
    void load(StateParts parts = StateParts::all);
    // Writes the state files now, on the calling thread.
    void saveNow();
    QCoro::Task<> waitForSaves();
    void scheduleSave();
    bool isLoading() const;
    bool hasPendingSave() const;
    bool pendingWasRunning() const;
    bool stateUnsaved() const;

    // ---- Log and notifications ----
    void log(const QString &message);
    void clearLog();
    const QStringList &logLines() const;
    void notify(const QString &title, const QString &body);
    // The desktop's own settings decide whether alerts show: nothing to ask.
    void requestNotificationPermission();

    // ---- Queue and history ----
    const QList<AudioFile> &files() const;
    const AudioFile *entry(const QUuid &id) const;
    int count(FileStatus status) const;
    int pendingCount() const;
    int runningCount() const;
    int doneCount() const;
    int skippedCount() const;
    int errorCount() const;
    int emptyCount() const;
    void setStatus(const QUuid &id, FileStatus status);
    void adjust(FileStatus status, int by);
    void recomputeCounters();
    void setProgress(const QUuid &id, double fraction);
    const Ledger &ledger() const;

    // ---- Source folder and destinations ----
    const std::optional<QUrl> &sourceFolder() const;
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
    void setUrlOpener(UrlOpener opener);
    void openUrl(const QUrl &url) const;

    // ---- The batch ----
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
    bool isRunning() const;
    bool isPaused() const;
    bool cancelRequested() const;
    const std::optional<QString> &fullDiskFolder() const;
    const QStringList &currentFileNames() const;
    int maxParallelism() const;
    int threadsPerJob() const;
    // Awaitable end of the current run and of its hand-over to the
    // correction pass or the organization (returns at once when idle).
    QCoro::Task<> waitForRun();

    // ---- One file ----
    QCoro::Task<> process(QUuid id);
    bool stoppedWithoutRecogniser() const;
    QCoro::Task<std::optional<double>> probeDuration(QUuid id, QString source);
    void markEmpty(const QUuid &id, std::optional<double> duration);
    void fail(const QUuid &id, const QString &message);
    void cleanupOrphanTempAudio();
    void removeCurrentName(const QString &name);
    bool correctionActiveThisRun() const;
    const std::optional<QString> &correctingName() const;
    void setTimeLimits(const TimeLimits &limits);

    // ---- Live figures ----
    int total() const;
    int processedCount() const;
    double overallProgress() const;
    std::optional<AudioFile> primaryRunningFile() const;
    // A running file's name, with the machine that has it when a server does.
    QString runningLabel(const AudioFile &file) const;
    bool isComplete() const;
    LiveStats liveStats(const QDateTime &now = QDateTime::currentDateTime()) const;
    const std::optional<QDateTime> &startedAt() const;

    // ---- Recogniser models ----
    void refreshModels();
    const QList<ModelInfo> &availableModels() const;
    bool modelAvailable() const;
    // A local worker would run without its model (the servers alone need none here).
    bool localModelMissing() const;
    QString modelDisplayName() const;
    void autoDownloadDefaultModel(std::optional<IdSet> thenStartOnly);
    const std::optional<double> &modelDownloadProgress() const;
    Downloader &modelDownloader();
    QCoro::Task<> waitForModelDownload();

    // ---- Outside programs ----
    const Tools &tools() const;
    bool toolsReady() const;
    ProcessRunner &processes();

    // ---- Start-up work once the window is up ----
    // Resumes an interrupted batch, starts watching the Ollama server and
    // counts the raw transcripts; that count may start the correction pass (or
    // resume the organization), once per launch. From then on the source
    // folder is watched whenever the watchFolder setting is on.
    void startBackgroundWork();

    // ---- Watching the source folder ----
    // While on, recordings that appear or change under the source folder are
    // queued once they hold still and transcribed, joining the batch at work.
    void setWatching(bool on);
    bool isWatching() const;
    void setWatchSettleDelay(std::chrono::milliseconds delay);

    // ---- Ollama server ----
    bool ollamaInstalled() const;
    bool ollamaRunning() const;
    const std::optional<bool> &ollamaModelInstalled() const;
    bool isOllamaInstalled() const;
    void launchOllamaApp();
    void launchOllama();
    QCoro::Task<bool> ensureOllamaRunning();
    QCoro::Task<bool> ensureModelInstalled();
    void startOllamaMonitor();
    void stopOllamaMonitor();
    void setOllamaTimings(const ollama::Timings &timings);

    // ---- Correction pass ----
    int rawCount() const;
    bool correctionPassActive() const;
    int correctionPassDone() const;
    int correctionPassTotal() const;
    const std::optional<QString> &correctionPassCurrent() const;
    int correctionJobTotal() const;
    const std::optional<QDateTime> &correctionStartedAt() const;
    // The count made at launch has arrived (it may start the pass, once).
    bool didConsiderAutoCorrect() const;
    CorrectionPassEnd lastCorrectionPassEnd() const;
    QCoro::Task<bool> correctTranscript(QString md);
    void rewriteCorrected(const QString &md, const QString &content, const QString &raw, const QString &corrected);
    bool correctionWanted() const;
    void startCorrectionPass();
    void cancelCorrectionPass();
    QCoro::Task<> waitForCorrectionPass();
    void refreshRawCount();
    RateEstimate correctionLiveStats(const QDateTime &now = QDateTime::currentDateTime()) const;

    // ---- Ollama installer ----
    bool installingOllama() const;
    double installProgress() const;
    const QString &installStatus() const;
    const std::optional<QString> &installError() const;
    void installOllama();
    QCoro::Task<> runOllamaInstall();
    QCoro::Task<> waitForInstall();

    // ---- Organization ----
    bool orgActive() const;
    const QString &orgPhase() const;
    int orgDone() const;
    int orgTotal() const;
    const std::optional<QString> &orgCurrent() const;
    int orgOrganizedCount() const;
    const OrgLedger &orgLedger() const;
    // Refused while a run, a batch or a correction pass is active.
    void startOrganization();
    void cancelOrganization();
    QCoro::Task<> waitForOrganization();
    int pendingOrganizationCount() const;
    QCoro::Task<int> pendingOrganizationCountOffThread() const;
    std::optional<QString> organizeRootFolder() const;
    QStringList organizeTranscriptFiles() const;
    void revealOrganizedArchive() const;
    void loadOrgLedger();
    void saveOrgLedger();

    // ---- Memo library ----
    // Opens the index at the first search, rebuilding it first when needed.
    QCoro::Task<LibraryFound> searchLibrary(SearchQuery query, int limit = 100);
    QCoro::Task<> waitForLibrary();
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
    std::unique_ptr<ProcessRunner> m_processes;
    std::unique_ptr<FileQueue> m_queue;
    std::unique_ptr<StateStore> m_store;
    std::unique_ptr<OllamaRuntime> m_ollama;
    std::unique_ptr<RunCorrection> m_runCorrection;
    std::unique_ptr<RecognitionServers> m_servers;
    std::unique_ptr<Scheduler> m_scheduler;
    std::unique_ptr<FilePipeline> m_pipeline;
    std::unique_ptr<WhisperModels> m_models;
    std::unique_ptr<OllamaInstaller> m_installer;
    std::unique_ptr<CorrectionPass> m_correction;
    std::unique_ptr<OrganizationRun> m_organization;
    std::unique_ptr<FolderWatch> m_watch;
    std::unique_ptr<Library> m_library;

    // The hand-over between the areas.
    bool m_isLoading = false;
    bool m_pendingWasRunning = false;
    bool m_didConsiderAutoCorrect = false;
    // The end of a run looks for raw transcripts off the main thread before
    // handing over; the waits for the run include this.
    bool m_chainingAfterRun = false;
    std::optional<QCoro::Task<>> m_afterRunTask;
};
