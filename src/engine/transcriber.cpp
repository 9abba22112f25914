#include "engine/transcriber.h"

#include <QDir>
#include <QProcess>

#include "core/desktop_notifications.h"
#include "core/folders.h"
#include "engine/areas.h"
#include "queue/places.h"

Transcriber::Transcriber(Tools tools, StateParts parts, QObject *parent)
    : QObject(parent), m_tools(std::move(tools)),
      m_processes(std::make_unique<ProcessRunner>()),
      m_queue(std::make_unique<FileQueue>(m_log, [this] { return writtenFolders(); })),
      m_store(std::make_unique<StateStore>(m_log,
                                           [this] {
                                               return StateSnapshot{m_settings,
                                                                    PersistedState{m_queue->sourceFolder(),
                                                                                   m_queue->files(), isRunning()},
                                                                    m_queue->sharedLedger()};
                                           })),
      m_ollama(std::make_unique<OllamaRuntime>(m_settings, m_log, m_tools.ollama,
                                               [this](const QUrl &url) { openUrl(url); })),
      m_runCorrection(std::make_unique<RunCorrection>(m_settings, m_log, *m_ollama)),
      m_servers(std::make_unique<RecognitionServers>(m_settings, m_log)),
      m_scheduler(std::make_unique<Scheduler>(*m_queue, m_log, *m_processes, m_settings)),
      m_pipeline(std::make_unique<FilePipeline>(*m_queue, *m_scheduler, *m_runCorrection, *m_processes, m_tools,
                                                m_settings, m_log)),
      m_models(std::make_unique<WhisperModels>(m_settings, m_log)),
      m_installer(std::make_unique<OllamaInstaller>(m_settings, m_log, *m_ollama, *m_processes)),
      m_correction(std::make_unique<CorrectionPass>(
          m_settings, m_log, *m_ollama,
          CorrectionPassHooks{[this] { return outputRootPath(); }, [this] { return organizeRootFolder(); },
                              [this] { return isRunning(); },
                              [this](CorrectionPassEnd end) {
                                  if (end == CorrectionPassEnd::finished && m_settings.organizeEnabled)
                                      organizeAfterCorrection(false);
                              }})),
      m_organization(std::make_unique<OrganizationRun>(
          m_settings, m_log, *m_ollama,
          OrganizationHooks{[this] { return outputRootPath(); }, [this](const QUrl &url) { openUrl(url); },
                            [this](const UnsavedState::Outcome &outcome) { m_store->noteOutcome(outcome); }})),
      m_watch(std::make_unique<FolderWatch>(m_log, FileQueue::audioExtensions)),
      m_library(std::make_unique<Library>(m_log, [this] { return libraryFolders(); })) {
    m_scheduler->setHooks(schedulerHooks());
    m_watch->setHooks(watchHooks());
    m_scheduler->setServerSlots(m_servers.get());
    m_pipeline->setRemoteRecogniser(m_servers.get());
    connectSignals();
    migrateSupportDirIfNeeded();
    load(parts);
}

Transcriber::~Transcriber() = default;

void Transcriber::connectSignals() {
    connect(&m_log, &EventLog::lineAdded, this, &Transcriber::logLineAdded);
    connect(&m_log, &EventLog::cleared, this, &Transcriber::logCleared);
    connect(&m_log, &EventLog::notificationPosted, this, &Transcriber::notificationPosted);
    connect(&m_log, &EventLog::notificationPosted, this, &sendDesktopNotification);
    connect(m_queue.get(), &FileQueue::queueChanged, this, &Transcriber::queueChanged);
    connect(m_queue.get(), &FileQueue::entryChanged, this, &Transcriber::entryChanged);
    connect(m_queue.get(), &FileQueue::countersChanged, this, &Transcriber::countersChanged);
    connect(m_queue.get(), &FileQueue::sourceFolderChanged, this, &Transcriber::sourceFolderChanged);
    connect(m_queue.get(), &FileQueue::saveWanted, m_store.get(), &StateStore::scheduleSave);
    connect(m_store.get(), &StateStore::saved, this, &Transcriber::stateSaved);
    connect(m_scheduler.get(), &Scheduler::runStateChanged, this, &Transcriber::runStateChanged);
    connect(m_scheduler.get(), &Scheduler::runFinished, this, &Transcriber::runFinished);
    connect(m_runCorrection.get(), &RunCorrection::changed, this, &Transcriber::runStateChanged);
    connect(m_models.get(), &WhisperModels::changed, this, &Transcriber::modelsChanged);
    connect(m_models.get(), &WhisperModels::downloadFinished, this, &Transcriber::modelDownloadFinished);
    connect(m_ollama.get(), &OllamaRuntime::changed, this, &Transcriber::ollamaChanged);
    connect(m_installer.get(), &OllamaInstaller::changed, this, &Transcriber::installChanged);
    connect(m_installer.get(), &OllamaInstaller::finished, this, &Transcriber::installFinished);
    connect(m_correction.get(), &CorrectionPass::changed, this, &Transcriber::correctionChanged);
    connect(m_correction.get(), &CorrectionPass::finished, this, &Transcriber::correctionPassFinished);
    connect(m_organization.get(), &OrganizationRun::changed, this, &Transcriber::organizationChanged);
    connect(m_organization.get(), &OrganizationRun::finished, this, &Transcriber::organizationFinished);
    connect(m_watch.get(), &FolderWatch::activeChanged, this, &Transcriber::watchChanged);
    // The watch follows the source folder and where Parlivo writes inside it.
    const auto retarget = [this] { m_watch->setTarget(watchTarget()); };
    connect(this, &Transcriber::sourceFolderChanged, this, retarget);
    connect(this, &Transcriber::settingsChanged, this, retarget);
    connect(m_pipeline.get(), &FilePipeline::transcriptWritten, m_library.get(), &Library::noteWritten);
    connect(m_correction.get(), &CorrectionPass::transcriptCorrected, m_library.get(), &Library::noteCorrected);
}

void Transcriber::setSettings(const ParlivoSettings &settings) {
    if (settings == m_settings) return;
    m_settings = settings;
    emit settingsChanged();
    if (!m_isLoading) scheduleSave();
}

void Transcriber::migrateSupportDirIfNeeded() { folders::migrateFormerSupportDir(); }

void Transcriber::load(StateParts parts) {
    m_isLoading = true;
    StoredState stored = m_store->read(parts);
    if (stored.settings) setSettings(stored.settings->settings);
    m_pendingWasRunning = m_queue->restoreStored(stored, parts);
    m_isLoading = false;
}

// ---------------------------------------------------------------- places

std::optional<QString> Transcriber::outputRootPath() const {
    const auto root = outputRootFolder();
    return root ? std::optional(root->toLocalFile()) : std::nullopt;
}

QStringList Transcriber::writtenFolders() const { return ::writtenFolders(m_settings, sourceFolder()); }

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
    m_queue->setSourceFolder(folder);
    saveNow();
}

void Transcriber::rescan() {
    if (!sourceFolder()) return;
    m_queue->rescan();
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
