// The organization run: structuring, sorting by theme and laying out the
// archive, resumable from its ledger, with the progress the window shows.
#include "organize/organization_run.h"

#include <QFileInfo>
#include <QScopeGuard>

#include <qcoro/qcorotask.h>

#include "core/background.h"
#include "core/next_emission.h"

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

OrganizationRun::OrganizationRun(const ParlivoSettings &settings, EventLog &log, OllamaRuntime &ollama,
                                 OrganizationHooks hooks, QObject *parent)
    : QObject(parent), m_settings(settings), m_log(log), m_ollama(ollama), m_hooks(std::move(hooks)) {}

std::optional<QString> OrganizationRun::archiveRoot() const {
    return organizeRootFolder(m_settings.organizeRoot, m_hooks.outputRoot());
}

QStringList OrganizationRun::transcriptFiles() const {
    const auto output = m_hooks.outputRoot();
    if (!output) return {};
    return organizeTranscriptFiles(*output, m_settings.destinationMode, archiveRoot());
}

int OrganizationRun::pendingCount() const { return pendingOrganizationCount(transcriptFiles(), ledger()); }

QCoro::Task<int> OrganizationRun::pendingCountOffThread() const {
    const auto output = m_hooks.outputRoot();
    if (!output) co_return 0;
    // Named before the co_await: GCC 12 may destroy a temporary lambda twice there.
    auto count = [output = *output, mode = m_settings.destinationMode, archive = archiveRoot(), ledger = ledger()] {
        return pendingOrganizationCount(organizeTranscriptFiles(output, mode, archive), ledger);
    };
    QCoro::Task<int> counting = onWorkerThread(std::move(count));
    co_return co_await std::move(counting);
}

void OrganizationRun::ensureLoaded() const {
    if (!m_ledgerLoaded) const_cast<OrganizationRun *>(this)->loadLedger();
}

void OrganizationRun::loadLedger() {
    m_ledgerLoaded = true;
    OrgLedgerLoad loaded = loadOrgLedger(orgLedgerPath());
    if (loaded.status == OrgLedgerLoad::Status::setAside)
        m_log.log(QStringLiteral("Fichier d'état illisible : organize.json. Il est mis de côté sous le nom "
                           "organize.json.corrupt ; les valeurs par défaut sont utilisées."));
    if (loaded.status != OrgLedgerLoad::Status::loaded) return;
    m_ledger = std::move(loaded.ledger);
    m_organizedCount = ::organizedCount(m_ledger);
    emit changed();
}

void OrganizationRun::saveLedger() {
    ensureLoaded(); // never an empty ledger over the stored one
    m_hooks.reportSave({QStringLiteral("organize.json"), saveOrgLedger(orgLedgerPath(), m_ledger)});
}

void OrganizationRun::writeArchiveIndex(const QString &root) {
    if (auto error = writeIndex(root, m_ledger))
        m_log.log(error->diskFull ? error->reason
                                  : QStringLiteral("Impossible d'écrire l'index de l'archive : ") + error->reason);
}

void OrganizationRun::revealArchive() const {
    const auto root = archiveRoot();
    if (root && QFileInfo(*root).isDir()) m_hooks.openUrl(QUrl::fromLocalFile(*root));
}

QCoro::Task<> OrganizationRun::waitForEnd() {
    while (m_active) co_await nextEmission(this, &OrganizationRun::finished);
}

void OrganizationRun::start() {
    if (m_active) return;
    m_cancelRequested = false;
    m_task = run();
}

void OrganizationRun::cancel() {
    if (m_active) m_cancelRequested = true;
}

void OrganizationRun::setProgress(const QString &phase, int total) {
    m_phase = phase;
    m_total = total;
    m_done = 0;
    emit changed();
}

OrgPassHooks OrganizationRun::passHooks() {
    OrgPassHooks hooks;
    // A plain lambda returning the task: the call's arguments live in the task's frame.
    hooks.ask = [this](QString system, QString user) {
        return Corrector::ask(std::move(system), std::move(user), m_settings, organizeModelName(m_settings),
                              organizationContext);
    };
    hooks.isCancelled = [this] { return m_cancelRequested; };
    hooks.setCurrent = [this](const QString &name) {
        m_current = name;
        emit changed();
    };
    hooks.memoDone = [this] {
        ++m_done;
        emit changed();
    };
    hooks.log = [this](const QString &line) { m_log.log(line); };
    return hooks;
}

QCoro::Task<> OrganizationRun::run() {
    m_active = true;
    m_current.reset();
    setProgress(QStringLiteral("Préparation"), 0);
    loadLedger();
    std::optional<QString> root;
    bool indexWritten = false;
    // Every way out, cancellation included, leaves the ledger saved and the
    // index matching what is in the archive.
    auto finish = qScopeGuard([this, &root, &indexWritten] {
        m_active = false;
        m_current.reset();
        saveLedger();
        if (root && !indexWritten && ::organizedCount(m_ledger) > 0) writeArchiveIndex(*root);
        emit changed();
        emit finished();
    });

    if (!co_await m_ollama.ensureRunning()) {
        m_log.log(QStringLiteral("Organisation : Ollama indisponible."));
        co_return;
    }
    root = archiveRoot();
    if (!root) {
        m_log.log(QStringLiteral("Organisation : dossier de sortie inconnu."));
        co_return;
    }
    const QStringList files = transcriptFiles();
    if (files.isEmpty()) {
        m_log.log(QStringLiteral("Organisation : aucune transcription à ranger."));
        co_return;
    }
    m_log.log(QStringLiteral("Organisation de %1 transcription(s) : structuration, tri, rangement.").arg(files.size()));
    const OrgPassHooks hooks = passHooks();

    const QStringList toStructure = filesToStructure(files, m_ledger);
    setProgress(QStringLiteral("Structuration par l'IA"), int(toStructure.size()));
    for (const QString &path : toStructure) {
        if (m_cancelRequested) co_return;
        hooks.current(QFileInfo(path).completeBaseName());
        if (co_await structureOne(path, m_ledger, hooks) == StructureOutcome::backendDown)
            co_await m_ollama.ensureRunning();
        ++m_done;
        emit changed();
        if (m_done % ledgerSaveEvery == 0) saveLedger();
    }
    saveLedger();
    if (m_cancelRequested) co_return;

    const QStringList toAssign = filesToAssign(files, m_ledger);
    setProgress(QStringLiteral("Tri par thèmes"), int(toAssign.size()));
    co_await assignThemes(toAssign, m_ledger, hooks);
    co_await consolidateThemes(m_ledger, hooks);
    saveLedger();
    if (m_cancelRequested) co_return;

    const QStringList toPlace = filesToPlace(files, m_ledger);
    setProgress(QStringLiteral("Rangement des dossiers"), int(toPlace.size()));
    const ArchiveOptions archive{*root, m_settings.organizeCopyAudio, recordingDate,
                                 [this](const QString &line) { m_log.log(line); }};
    int placed = 0;
    for (const QString &path : toPlace) {
        if (m_cancelRequested) co_return;
        const auto it = m_ledger.find(path);
        hooks.current(it != m_ledger.end() && it->second.title ? *it->second.title : QFileInfo(path).fileName());
        if (materialize(path, m_ledger, archive)) ++placed;
        ++m_done;
        emit changed();
    }

    writeArchiveIndex(*root);
    indexWritten = true;
    m_organizedCount = ::organizedCount(m_ledger);
    saveLedger();
    m_phase = QStringLiteral("Terminé");
    emit changed();
    m_log.log(QStringLiteral("Organisation terminée : %1 vocal(aux) rangé(s) dans %2.").arg(placed).arg(*root));
    m_log.notify(QStringLiteral("Organisation terminée"),
           QStringLiteral("%1 vocaux rangés par thème. Ouvre l'archive dans Parlivo.").arg(m_organizedCount));
}
