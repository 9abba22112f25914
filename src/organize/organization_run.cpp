// The organization run: structuring, sorting by theme and laying out the
// archive, resumable from its ledger, with the progress the window shows.
#include "engine/transcriber.h"

#include <QFileInfo>
#include <QScopeGuard>

#include <qcoro/qcorosignal.h>

#include "correction/corrector.h"
#include "organize/archive.h"
#include "organize/archive_index.h"
#include "organize/org_selection.h"
#include "organize/placement.h"
#include "organize/structuring.h"
#include "organize/themes.h"
#include "pipeline/transcript_files.h"

namespace {
constexpr int organizationContext = 8192;
constexpr int ledgerSaveEvery = 5;
} // namespace

std::optional<QString> Transcriber::organizeRootFolder() const {
    const auto output = outputRootFolder();
    return ::organizeRootFolder(m_settings.organizeRoot,
                                output ? std::optional(output->toLocalFile()) : std::nullopt);
}

QStringList Transcriber::organizeTranscriptFiles() const {
    const auto output = outputRootFolder();
    if (!output) return {};
    return ::organizeTranscriptFiles(output->toLocalFile(), m_settings.destinationMode, organizeRootFolder());
}

int Transcriber::pendingOrganizationCount() const {
    return ::pendingOrganizationCount(organizeTranscriptFiles(), m_orgLedger);
}

void Transcriber::loadOrgLedger() {
    OrgLedgerLoad loaded = ::loadOrgLedger(orgLedgerPath());
    if (loaded.status == OrgLedgerLoad::Status::setAside)
        log(QStringLiteral("Fichier d'état illisible : organize.json. Il est mis de côté sous le nom "
                           "organize.json.corrupt ; les valeurs par défaut sont utilisées."));
    if (loaded.status != OrgLedgerLoad::Status::loaded) return;
    m_orgLedger = std::move(loaded.ledger);
    m_orgOrganizedCount = organizedCount(m_orgLedger);
    emit organizationChanged();
}

void Transcriber::saveOrgLedger() {
    // Not a save of the other files: it leaves their outcomes, even pending ones, valid.
    noteStateSave(m_savesStarted, {{QStringLiteral("organize.json"), ::saveOrgLedger(orgLedgerPath(), m_orgLedger)}});
}

void Transcriber::revealOrganizedArchive() const {
    const auto root = organizeRootFolder();
    if (root && QFileInfo(*root).isDir()) openUrl(QUrl::fromLocalFile(*root));
}

void Transcriber::organizeAfterCorrection(bool resumingAtLaunch) {
    if (resumingAtLaunch) {
        const int pending = pendingOrganizationCount();
        if (pending < 1) return;
        log(QStringLiteral("Reprise de l'organisation : %1 vocal(aux) à ranger.").arg(pending));
    }
    startOrganization();
}

QCoro::Task<> Transcriber::waitForOrganization() {
    while (m_orgActive) co_await qCoro(this, &Transcriber::organizationFinished);
}

void Transcriber::startOrganization() {
    if (m_orgActive || m_isRunning || m_correctionPassActive) return;
    m_orgCancelRequested = false;
    m_orgTask = runOrganization();
}

void Transcriber::cancelOrganization() {
    if (m_orgActive) m_orgCancelRequested = true;
}

void Transcriber::setOrgProgress(const QString &phase, int total) {
    m_orgPhase = phase;
    m_orgTotal = total;
    m_orgDone = 0;
    emit organizationChanged();
}

OrgPassHooks Transcriber::organizationHooks() {
    OrgPassHooks hooks;
    // A plain lambda returning the task: the call's arguments live in the task's frame.
    hooks.ask = [this](QString system, QString user) {
        return Corrector::ask(std::move(system), std::move(user), m_settings, organizeModelName(m_settings),
                              organizationContext);
    };
    hooks.isCancelled = [this] { return m_orgCancelRequested; };
    hooks.setCurrent = [this](const QString &name) {
        m_orgCurrent = name;
        emit organizationChanged();
    };
    hooks.memoDone = [this] {
        ++m_orgDone;
        emit organizationChanged();
    };
    hooks.log = [this](const QString &line) { log(line); };
    return hooks;
}

QCoro::Task<> Transcriber::runOrganization() {
    m_orgActive = true;
    m_orgCurrent.reset();
    setOrgProgress(QStringLiteral("Préparation"), 0);
    loadOrgLedger();
    std::optional<QString> root;
    // Every way out, cancellation included, leaves the ledger saved and the
    // index matching what is in the archive.
    auto finish = qScopeGuard([this, &root] {
        m_orgActive = false;
        m_orgCurrent.reset();
        saveOrgLedger();
        if (root && organizedCount(m_orgLedger) > 0) writeIndex(*root, m_orgLedger);
        emit organizationChanged();
        emit organizationFinished();
    });

    if (!co_await ensureOllamaRunning()) {
        log(QStringLiteral("Organisation : Ollama indisponible."));
        co_return;
    }
    root = organizeRootFolder();
    if (!root) {
        log(QStringLiteral("Organisation : dossier de sortie inconnu."));
        co_return;
    }
    const QStringList files = organizeTranscriptFiles();
    if (files.isEmpty()) {
        log(QStringLiteral("Organisation : aucune transcription à ranger."));
        co_return;
    }
    log(QStringLiteral("Organisation de %1 transcription(s) : structuration, tri, rangement.").arg(files.size()));
    const OrgPassHooks hooks = organizationHooks();

    const QStringList toStructure = filesToStructure(files, m_orgLedger);
    setOrgProgress(QStringLiteral("Structuration par l'IA"), int(toStructure.size()));
    for (const QString &path : toStructure) {
        if (m_orgCancelRequested) co_return;
        hooks.current(QFileInfo(path).completeBaseName());
        if (co_await structureOne(path, m_orgLedger, hooks) == StructureOutcome::backendDown)
            co_await ensureOllamaRunning();
        ++m_orgDone;
        emit organizationChanged();
        if (m_orgDone % ledgerSaveEvery == 0) saveOrgLedger();
    }
    saveOrgLedger();
    if (m_orgCancelRequested) co_return;

    const QStringList toAssign = filesToAssign(files, m_orgLedger);
    setOrgProgress(QStringLiteral("Tri par thèmes"), int(toAssign.size()));
    co_await assignThemes(toAssign, m_orgLedger, hooks);
    co_await consolidateThemes(m_orgLedger, hooks);
    saveOrgLedger();
    if (m_orgCancelRequested) co_return;

    const QStringList toPlace = filesToPlace(files, m_orgLedger);
    setOrgProgress(QStringLiteral("Rangement des dossiers"), int(toPlace.size()));
    const ArchiveOptions archive{*root, m_settings.organizeCopyAudio, recordingDate,
                                 [this](const QString &line) { log(line); }};
    int placed = 0;
    for (const QString &path : toPlace) {
        if (m_orgCancelRequested) co_return;
        const auto it = m_orgLedger.find(path);
        hooks.current(it != m_orgLedger.end() && it->second.title ? *it->second.title : QFileInfo(path).fileName());
        if (materialize(path, m_orgLedger, archive)) ++placed;
        ++m_orgDone;
        emit organizationChanged();
    }

    writeIndex(*root, m_orgLedger);
    m_orgOrganizedCount = organizedCount(m_orgLedger);
    saveOrgLedger();
    m_orgPhase = QStringLiteral("Terminé");
    emit organizationChanged();
    log(QStringLiteral("Organisation terminée : %1 vocal(aux) rangé(s) dans %2.").arg(placed).arg(*root));
    notify(QStringLiteral("Organisation terminée"),
           QStringLiteral("%1 vocaux rangés par thème. Ouvre l'archive dans Parlivo.").arg(m_orgOrganizedCount));
}
