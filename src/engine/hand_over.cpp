// What the engine decides between the areas: when a batch may start, what
// follows a batch or a correction pass, and the work started once the window
// is up.
#include "engine/transcriber.h"

#include <QPointer>

#include <qcoro/qcorotask.h>

#include "core/next_emission.h"
#include "core/source_files.h"
#include "engine/areas.h"

SchedulerHooks Transcriber::schedulerHooks() {
    SchedulerHooks hooks;
    hooks.readyToRun = [this](const std::optional<IdSet> &only) { return readyToRun(only); };
    hooks.prepare = [this] {
        m_pipeline->cleanupOrphanTempAudio();
        m_servers->beginRun();
    };
    hooks.beforeFiles = [this] { return m_runCorrection->preflight(); };
    hooks.process = [this](QUuid id, std::optional<int> server) { return m_pipeline->process(id, server); };
    hooks.saveNow = [this] { saveNow(); };
    hooks.scheduleSave = [this] { scheduleSave(); };
    hooks.afterRun = [this](bool cancelled) {
        // The hand-over walks the transcripts and publishes their count itself.
        if (cancelled)
            refreshRawCount();
        else
            m_afterRunTask = chainAfterRun();
    };
    return hooks;
}

WatchHooks Transcriber::watchHooks() {
    WatchHooks hooks;
    // Found by a walk: wanted unless the history holds this very version.
    hooks.wanted = [this](const QString &path, const FileIdentity &identity) {
        const auto it = ledger().find(path);
        return it == ledger().end() || !sameIdentity(identity, it->second.size, it->second.mtime);
    };
    hooks.settled = [this](const QStringList &paths) { return takeSettledFiles(paths); };
    hooks.quiet = [this](const QStringList &paths) { m_pipeline->probeAhead(paths); };
    return hooks;
}

QStringList Transcriber::takeSettledFiles(const QStringList &paths) {
    const FileQueue::Arrivals arrivals = m_queue->admit(paths);
    if (!arrivals.pending.isEmpty()) {
        log(QStringLiteral("Dossier surveillé : %1 vocal(aux) à transcrire.").arg(arrivals.pending.size()));
        // A batch at work takes them in; otherwise one starts (after the
        // model's download when there is none yet).
        if (isRunning())
            m_scheduler->join(arrivals.pending);
        else
            start();
    }
    return arrivals.busy;
}

bool Transcriber::readyToRun(const std::optional<IdSet> &only) {
    if (!toolsReady()) {
        log(QString::fromUtf8(missingRecogniserText));
        return false;
    }
    if (localModelMissing()) {
        autoDownloadDefaultModel(only);
        return false;
    }
    return true;
}

void Transcriber::autoDownloadDefaultModel(std::optional<IdSet> thenStartOnly) {
    m_models->downloadDefault(
        [this](const QString &path) {
            ParlivoSettings s = m_settings;
            s.modelPath = path;
            setSettings(s);
        },
        [this, thenStartOnly] { start(thenStartOnly); });
}

bool Transcriber::isComplete() const {
    return !isRunning() && !files().isEmpty() && pendingCount() == 0 && runningCount() == 0;
}

QCoro::Task<> Transcriber::waitForRun() {
    while (isRunning()) co_await nextEmission(this, &Transcriber::runFinished);
    while (m_chainingAfterRun) co_await nextEmission(this, &Transcriber::afterRunChained);
}

QCoro::Task<> Transcriber::chainAfterRun() {
    QPointer<Transcriber> self(this);
    m_chainingAfterRun = true;
    int rawLeft = 0;
    if (const auto root = outputRootPath()) {
        rawLeft = int((co_await rawTranscriptsOffThread(*root, organizeRootFolder())).size());
        if (!self) co_return;
    }
    m_correction->publishRawCount(rawLeft);
    m_chainingAfterRun = false;
    if (correctionWanted() && rawLeft > 0)
        startCorrectionPass(); // goes on to organization itself
    else if (m_settings.organizeEnabled)
        organizeAfterCorrection(false);
    emit afterRunChained();
}

void Transcriber::startOrganization() {
    if (isRunning() || correctionPassActive()) return;
    m_organization->start();
}

void Transcriber::organizeAfterCorrection(bool resumingAtLaunch) {
    if (resumingAtLaunch) {
        const int pending = pendingOrganizationCount();
        if (pending < 1) return;
        log(QStringLiteral("Reprise de l'organisation : %1 vocal(aux) à ranger.").arg(pending));
    }
    startOrganization();
}

void Transcriber::startBackgroundWork() {
    resumeInterruptedRunIfNeeded();
    startOllamaMonitor();
    m_correction->countRaw([this](int count) { considerAutoStart(count); });
    setWatching(m_settings.watchFolder);
    connect(this, &Transcriber::settingsChanged, this, [this] { setWatching(m_settings.watchFolder); });
}

void Transcriber::resumeInterruptedRunIfNeeded() {
    if (!m_settings.autoResume || !m_pendingWasRunning || pendingCount() == 0 || !toolsReady() || localModelMissing())
        return;
    log(QStringLiteral("Reprise automatique du lot après redémarrage."));
    start();
}

void Transcriber::considerAutoStart(int rawCount) {
    // Once per launch, and not over a batch (its end chains the pass anyway).
    if (std::exchange(m_didConsiderAutoCorrect, true) || isRunning()) return;
    if (rawCount == 0) {
        if (m_settings.organizeEnabled) organizeAfterCorrection(true);
    } else if (m_settings.correctionEnabled && m_settings.correctionBackend == CorrectionBackend::ollama) {
        startCorrectionPass();
    }
}
