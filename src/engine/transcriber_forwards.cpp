// Transcriber's published names, each handing the call to the area that owns
// it. Out of line, so that the files speaking to the engine do not see the
// areas' headers.
#include "engine/transcriber.h"

#include "engine/areas.h"

const int Transcriber::maxAutoRetries = Scheduler::maxAutoRetries;
const QStringList &Transcriber::audioExtensions = FileQueue::audioExtensions;

const ParlivoSettings &Transcriber::settings() const { return m_settings; }
void Transcriber::saveNow() { m_store->saveNow(); }
QCoro::Task<> Transcriber::waitForSaves() { return m_store->waitForWrites(); }
void Transcriber::scheduleSave() { m_store->scheduleSave(); }
bool Transcriber::isLoading() const { return m_isLoading; }
bool Transcriber::hasPendingSave() const { return m_store->hasPendingSave(); }
bool Transcriber::pendingWasRunning() const { return m_pendingWasRunning; }
bool Transcriber::stateUnsaved() const { return m_store->unsaved(); }
void Transcriber::log(const QString &message) { m_log.log(message); }
void Transcriber::clearLog() { m_log.clear(); }
const QStringList &Transcriber::logLines() const { return m_log.lines(); }
void Transcriber::notify(const QString &title, const QString &body) { m_log.notify(title, body); }
void Transcriber::requestNotificationPermission() {}
const QList<AudioFile> &Transcriber::files() const { return m_queue->files(); }
const AudioFile *Transcriber::entry(const QUuid &id) const { return m_queue->entry(id); }
int Transcriber::count(FileStatus status) const { return m_queue->count(status); }
int Transcriber::pendingCount() const { return count(FileStatus::pending); }
int Transcriber::runningCount() const { return count(FileStatus::running); }
int Transcriber::doneCount() const { return count(FileStatus::done); }
int Transcriber::skippedCount() const { return count(FileStatus::skipped); }
int Transcriber::errorCount() const { return count(FileStatus::error); }
int Transcriber::emptyCount() const { return count(FileStatus::empty); }
void Transcriber::setStatus(const QUuid &id, FileStatus status) { m_queue->setStatus(id, status); }
void Transcriber::adjust(FileStatus status, int by) { m_queue->adjust(status, by); }
void Transcriber::recomputeCounters() { m_queue->recomputeCounters(); }
void Transcriber::setProgress(const QUuid &id, double fraction) { m_queue->setProgress(id, fraction); }
const Ledger &Transcriber::ledger() const { return m_queue->ledger(); }
const std::optional<QUrl> &Transcriber::sourceFolder() const { return m_queue->sourceFolder(); }
void Transcriber::setUrlOpener(UrlOpener opener) { m_urlOpener = std::move(opener); }
void Transcriber::start(std::optional<IdSet> only) { m_scheduler->start(std::move(only)); }
void Transcriber::pause() { m_scheduler->pause(); }
void Transcriber::resume() { m_scheduler->resume(); }
void Transcriber::cancel() { m_scheduler->cancel(); }
std::optional<QUuid> Transcriber::claimNextPending() { return m_scheduler->claimNextPending(); }
void Transcriber::requeueErrors() { m_scheduler->requeueErrors(); }
void Transcriber::transcribeSelection(const IdSet &ids) { m_scheduler->transcribeSelection(ids); }
void Transcriber::retry(const IdSet &ids) { m_scheduler->retry(ids); }
void Transcriber::retryAllErrors() { m_scheduler->retryAllErrors(); }
bool Transcriber::isRunning() const { return m_scheduler->isRunning(); }
bool Transcriber::isPaused() const { return m_scheduler->isPaused(); }
bool Transcriber::cancelRequested() const { return m_scheduler->cancelRequested(); }
const std::optional<QString> &Transcriber::fullDiskFolder() const { return m_scheduler->fullDiskFolder(); }
const QStringList &Transcriber::currentFileNames() const { return m_scheduler->currentFileNames(); }
QString Transcriber::runningLabel(const AudioFile &file) const {
    const QString label = m_scheduler->currentLabel(file.id);
    return label.isEmpty() ? file.fileName() : label;
}
int Transcriber::maxParallelism() const { return m_scheduler->maxParallelism(); }
int Transcriber::threadsPerJob() const { return m_scheduler->threadsPerJob(); }
QCoro::Task<> Transcriber::process(QUuid id) { return m_pipeline->process(id); }
bool Transcriber::stoppedWithoutRecogniser() const { return m_scheduler->stoppedWithoutRecogniser(); }
QCoro::Task<std::optional<double>> Transcriber::probeDuration(QUuid id, QString source) {
    return m_pipeline->probeDuration(id, std::move(source));
}
void Transcriber::markEmpty(const QUuid &id, std::optional<double> duration) { m_pipeline->markEmpty(id, duration); }
void Transcriber::fail(const QUuid &id, const QString &message) { m_pipeline->fail(id, message); }
void Transcriber::cleanupOrphanTempAudio() { m_pipeline->cleanupOrphanTempAudio(); }
void Transcriber::removeCurrentName(const QString &name) { m_scheduler->removeCurrentName(name); }
bool Transcriber::correctionActiveThisRun() const { return m_runCorrection->activeThisRun(); }
const std::optional<QString> &Transcriber::correctingName() const { return m_runCorrection->correctingName(); }
void Transcriber::setTimeLimits(const TimeLimits &limits) { m_pipeline->setTimeLimits(limits); }
int Transcriber::total() const { return int(files().size()); }
int Transcriber::processedCount() const { return m_queue->processedCount(); }
double Transcriber::overallProgress() const { return m_queue->overallProgress(); }
std::optional<AudioFile> Transcriber::primaryRunningFile() const { return m_queue->primaryRunningFile(); }
LiveStats Transcriber::liveStats(const QDateTime &now) const { return m_scheduler->liveStats(now); }
const std::optional<QDateTime> &Transcriber::startedAt() const { return m_scheduler->startedAt(); }
void Transcriber::refreshModels() { m_models->refresh(); }
const QList<ModelInfo> &Transcriber::availableModels() const { return m_models->available(); }
bool Transcriber::modelAvailable() const { return m_models->modelAvailable(); }
bool Transcriber::localModelMissing() const { return m_settings.localWorkers() > 0 && !modelAvailable(); }
QString Transcriber::modelDisplayName() const { return m_models->displayName(); }
const std::optional<double> &Transcriber::modelDownloadProgress() const { return m_models->downloadProgress(); }
Downloader &Transcriber::modelDownloader() { return m_models->downloader(); }
QCoro::Task<> Transcriber::waitForModelDownload() { return m_models->waitForDownload(); }
const Tools &Transcriber::tools() const { return m_tools; }
// With servers alone the recogniser runs on them: this machine only converts.
bool Transcriber::toolsReady() const {
    return m_settings.localWorkers() > 0 ? m_tools.ready() : m_tools.canConvert();
}
ProcessRunner &Transcriber::processes() { return *m_processes; }
void Transcriber::setWatching(bool on) { m_watch->setEnabled(on); }
bool Transcriber::isWatching() const { return m_watch->active(); }
void Transcriber::setWatchSettleDelay(std::chrono::milliseconds delay) { m_watch->setSettleDelay(delay); }
bool Transcriber::ollamaInstalled() const { return m_ollama->installed(); }
bool Transcriber::ollamaRunning() const { return m_ollama->running(); }
const std::optional<bool> &Transcriber::ollamaModelInstalled() const { return m_ollama->modelInstalled(); }
bool Transcriber::isOllamaInstalled() const { return m_ollama->findInstalled(); }
void Transcriber::launchOllamaApp() { m_ollama->launchApp(); }
void Transcriber::launchOllama() { m_ollama->launch(); }
QCoro::Task<bool> Transcriber::ensureOllamaRunning() { return m_ollama->ensureRunning(); }
QCoro::Task<bool> Transcriber::ensureModelInstalled() { return m_ollama->ensureModelInstalled(); }
void Transcriber::startOllamaMonitor() { m_ollama->startMonitor(); }
void Transcriber::stopOllamaMonitor() { m_ollama->stopMonitor(); }
void Transcriber::setOllamaTimings(const ollama::Timings &timings) { m_ollama->setTimings(timings); }
int Transcriber::rawCount() const { return m_correction->rawCount(); }
bool Transcriber::correctionPassActive() const { return m_correction->active(); }
int Transcriber::correctionPassDone() const { return m_correction->done(); }
int Transcriber::correctionPassTotal() const { return m_correction->total(); }
const std::optional<QString> &Transcriber::correctionPassCurrent() const { return m_correction->current(); }
int Transcriber::correctionJobTotal() const { return m_correction->jobTotal(); }
const std::optional<QDateTime> &Transcriber::correctionStartedAt() const { return m_correction->startedAt(); }
bool Transcriber::didConsiderAutoCorrect() const { return m_didConsiderAutoCorrect; }
CorrectionPassEnd Transcriber::lastCorrectionPassEnd() const { return m_correction->lastEnd(); }
QCoro::Task<bool> Transcriber::correctTranscript(QString md) { return m_correction->correctTranscript(std::move(md)); }
void Transcriber::rewriteCorrected(const QString &md, const QString &content, const QString &raw,
                                   const QString &corrected) {
    m_correction->rewriteCorrected(md, content, raw, corrected);
}
bool Transcriber::correctionWanted() const { return m_correction->wanted(); }
void Transcriber::startCorrectionPass() { m_correction->start(); }
void Transcriber::cancelCorrectionPass() { m_correction->cancel(); }
QCoro::Task<> Transcriber::waitForCorrectionPass() { return m_correction->waitForEnd(); }
void Transcriber::refreshRawCount() { m_correction->countRaw(); }
RateEstimate Transcriber::correctionLiveStats(const QDateTime &now) const { return m_correction->liveStats(now); }
bool Transcriber::installingOllama() const { return m_installer->installing(); }
double Transcriber::installProgress() const { return m_installer->progress(); }
const QString &Transcriber::installStatus() const { return m_installer->status(); }
const std::optional<QString> &Transcriber::installError() const { return m_installer->error(); }
void Transcriber::installOllama() { m_installer->install(); }
QCoro::Task<> Transcriber::runOllamaInstall() { return m_installer->run(); }
QCoro::Task<> Transcriber::waitForInstall() { return m_installer->waitForEnd(); }
bool Transcriber::orgActive() const { return m_organization->active(); }
const QString &Transcriber::orgPhase() const { return m_organization->phase(); }
int Transcriber::orgDone() const { return m_organization->done(); }
int Transcriber::orgTotal() const { return m_organization->total(); }
const std::optional<QString> &Transcriber::orgCurrent() const { return m_organization->current(); }
int Transcriber::orgOrganizedCount() const { return m_organization->organizedCount(); }
const OrgLedger &Transcriber::orgLedger() const { return m_organization->ledger(); }
void Transcriber::cancelOrganization() { m_organization->cancel(); }
QCoro::Task<> Transcriber::waitForOrganization() { return m_organization->waitForEnd(); }
int Transcriber::pendingOrganizationCount() const { return m_organization->pendingCount(); }
QCoro::Task<int> Transcriber::pendingOrganizationCountOffThread() const {
    return m_organization->pendingCountOffThread();
}
std::optional<QString> Transcriber::organizeRootFolder() const { return m_organization->archiveRoot(); }
QStringList Transcriber::organizeTranscriptFiles() const { return m_organization->transcriptFiles(); }
void Transcriber::revealOrganizedArchive() const { m_organization->revealArchive(); }
void Transcriber::loadOrgLedger() { m_organization->loadLedger(); }
void Transcriber::saveOrgLedger() { m_organization->saveLedger(); }
QCoro::Task<LibraryFound> Transcriber::searchLibrary(SearchQuery query, int limit) {
    return m_library->search(std::move(query), limit);
}
QCoro::Task<> Transcriber::waitForLibrary() { return m_library->waitForRebuild(); }
QCoro::Task<std::optional<LibraryMemo>> Transcriber::libraryMemo(QString transcriptPath) {
    return m_library->memo(std::move(transcriptPath));
}
