#include "engine/transcriber.h"

#include <QDir>
#include <QProcess>

#include "core/folders.h"
#include "queue/places.h"

Transcriber::Transcriber(Tools tools, QObject *parent)
    : QObject(parent), m_tools(std::move(tools)),
      m_queue(m_log, [this] { return writtenFolders(); }),
      m_store(m_log,
              [this] {
                  return StateSnapshot{m_settings,
                                       PersistedState{m_queue.sourceFolder(), m_queue.files(), isRunning()},
                                       m_queue.ledger()};
              }),
      m_ollama(m_settings, m_log, m_tools.ollama, [this](const QUrl &url) { openUrl(url); }),
      m_runCorrection(m_settings, m_log, m_ollama), m_servers(m_settings, m_log), m_scheduler(m_queue, m_log, m_processes, m_settings),
      m_pipeline(m_queue, m_scheduler, m_runCorrection, m_processes, m_tools, m_settings, m_log),
      m_models(m_settings, m_log), m_installer(m_settings, m_log, m_ollama, m_processes),
      m_correction(m_settings, m_log, m_ollama,
                   {[this] { return outputRootPath(); }, [this] { return organizeRootFolder(); },
                    [this] { return isRunning(); },
                    [this](CorrectionPassEnd end) {
                        if (end == CorrectionPassEnd::finished && m_settings.organizeEnabled)
                            organizeAfterCorrection(false);
                    }}),
      m_organization(m_settings, m_log, m_ollama,
                     {[this] { return outputRootPath(); }, [this](const QUrl &url) { openUrl(url); },
                      [this](const UnsavedState::Outcome &outcome) { m_store.noteOutcome(outcome); }}),
      m_watch(m_log, FileQueue::audioExtensions),
      m_library(m_log, [this] { return libraryFolders(); }) {
    m_scheduler.setHooks(schedulerHooks());
    m_watch.setHooks(watchHooks());
    m_scheduler.setServerSlots(&m_servers);
    m_pipeline.setRemoteRecogniser(&m_servers);
    connectSignals();
    migrateSupportDirIfNeeded();
    load();
}

Transcriber::~Transcriber() = default;

void Transcriber::connectSignals() {
    connect(&m_log, &EventLog::lineAdded, this, &Transcriber::logLineAdded);
    connect(&m_log, &EventLog::cleared, this, &Transcriber::logCleared);
    connect(&m_log, &EventLog::notificationPosted, this, &Transcriber::notificationPosted);
    connect(&m_queue, &FileQueue::queueChanged, this, &Transcriber::queueChanged);
    connect(&m_queue, &FileQueue::entryChanged, this, &Transcriber::entryChanged);
    connect(&m_queue, &FileQueue::countersChanged, this, &Transcriber::countersChanged);
    connect(&m_queue, &FileQueue::sourceFolderChanged, this, &Transcriber::sourceFolderChanged);
    connect(&m_queue, &FileQueue::saveWanted, &m_store, &StateStore::scheduleSave);
    connect(&m_store, &StateStore::saved, this, &Transcriber::stateSaved);
    connect(&m_scheduler, &Scheduler::runStateChanged, this, &Transcriber::runStateChanged);
    connect(&m_scheduler, &Scheduler::runFinished, this, &Transcriber::runFinished);
    connect(&m_runCorrection, &RunCorrection::changed, this, &Transcriber::runStateChanged);
    connect(&m_models, &WhisperModels::changed, this, &Transcriber::modelsChanged);
    connect(&m_models, &WhisperModels::downloadFinished, this, &Transcriber::modelDownloadFinished);
    connect(&m_ollama, &OllamaRuntime::changed, this, &Transcriber::ollamaChanged);
    connect(&m_installer, &OllamaInstaller::changed, this, &Transcriber::installChanged);
    connect(&m_installer, &OllamaInstaller::finished, this, &Transcriber::installFinished);
    connect(&m_correction, &CorrectionPass::changed, this, &Transcriber::correctionChanged);
    connect(&m_correction, &CorrectionPass::finished, this, &Transcriber::correctionPassFinished);
    connect(&m_organization, &OrganizationRun::changed, this, &Transcriber::organizationChanged);
    connect(&m_organization, &OrganizationRun::finished, this, &Transcriber::organizationFinished);
    connect(&m_watch, &FolderWatch::activeChanged, this, &Transcriber::watchChanged);
    // The watch follows the source folder and where Parlivo writes inside it.
    const auto retarget = [this] { m_watch.setTarget(watchTarget()); };
    connect(this, &Transcriber::sourceFolderChanged, this, retarget);
    connect(this, &Transcriber::settingsChanged, this, retarget);
    connect(&m_pipeline, &FilePipeline::transcriptWritten, &m_library, &Library::noteWritten);
    connect(&m_correction, &CorrectionPass::transcriptCorrected, &m_library, &Library::noteCorrected);
}

void Transcriber::setSettings(const ParlivoSettings &settings) {
    if (settings == m_settings) return;
    m_settings = settings;
    emit settingsChanged();
    if (!m_isLoading) scheduleSave();
}

void Transcriber::migrateSupportDirIfNeeded() { folders::migrateFormerSupportDir(); }

void Transcriber::load() {
    m_isLoading = true;
    StoredState stored = m_store.read();
    if (stored.settings) setSettings(stored.settings->settings);
    if (stored.ledger) m_queue.setLedger(std::move(*stored.ledger));
    if (stored.queue) {
        m_pendingWasRunning = stored.queue->wasRunning;
        m_queue.restore(std::move(stored.queue->files));
        m_queue.restoreSourceFolder(stored.queue->sourceFolder);
    }
    if (m_queue.ledger().empty()) m_queue.rebuildLedgerFromQueue();
    m_isLoading = false;
}

// ---------------------------------------------------------------- places

std::optional<QString> Transcriber::outputRootPath() const {
    const auto root = outputRootFolder();
    return root ? std::optional(root->toLocalFile()) : std::nullopt;
}

QStringList Transcriber::writtenFolders() const {
    return {organizeRootFolder().value_or(QString()), outputRootPath().value_or(QString())};
}

std::optional<WatchTarget> Transcriber::watchTarget() const {
    if (!sourceFolder()) return std::nullopt;
    const QString folder = QDir::cleanPath(sourceFolder()->toLocalFile());
    return WatchTarget{folder, foldersStrictlyInside(folder, writtenFolders())};
}

LibraryFolders Transcriber::libraryFolders() const {
    QStringList where;
    if (const auto &source = sourceFolder()) where << source->toLocalFile();
    if (const auto root = outputRootPath(); root && !where.contains(*root)) where << *root;
    return {where, organizeRootFolder()};
}

void Transcriber::setSourceFolder(const QUrl &folder) {
    m_queue.setSourceFolder(folder);
    saveNow();
}

void Transcriber::rescan() {
    if (!sourceFolder()) return;
    m_queue.rescan();
    saveNow();
}

std::optional<QUrl> Transcriber::macVoiceMemosFolder() const { return ::macVoiceMemosFolder(); }

void Transcriber::useMacVoiceMemos() {
    if (isRunning()) return;
    auto folder = macVoiceMemosFolder();
    if (!folder) {
        log(QStringLiteral("Dossier des mémos vocaux du Mac introuvable. Active la synchro iCloud des mémos "
                           "vocaux, ou choisis le dossier manuellement."));
        return;
    }
    const auto &current = sourceFolder();
    if (current && QDir::cleanPath(current->toLocalFile()) == QDir::cleanPath(folder->toLocalFile()))
        rescan();
    else
        setSourceFolder(*folder);
}

QString Transcriber::destinationDir(const QUrl &source) const {
    return ::destinationDir(m_settings, sourceFolder(), source);
}

std::optional<QUrl> Transcriber::outputRootFolder() const { return ::outputRootFolder(m_settings, sourceFolder()); }

QString Transcriber::outputLocationDescription() const { return ::outputLocationDescription(m_settings); }

void Transcriber::revealOutputFolder() const {
    if (auto root = outputRootFolder()) openUrl(*root);
}

void Transcriber::openUrl(const QUrl &url) const {
    if (m_urlOpener) {
        m_urlOpener(url);
        return;
    }
    QProcess::startDetached(QStringLiteral("xdg-open"), {url.toString()});
}
