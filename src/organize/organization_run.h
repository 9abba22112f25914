#pragma once
// The organization run: structuring each memo, sorting them by theme and
// laying out the archive with its index, resumable from its own ledger
// (organize.json). Owns that ledger, the run's phase, figures and
// cancellation. Where the transcripts are is handed in.

#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <optional>

#include <qcoro/qcorotask.h>

#include "core/event_log.h"
#include "core/settings.h"
#include "core/unsaved_state.h"
#include "organize/org_entry.h"
#include "organize/org_pass.h"
#include "provisioning/ollama_runtime.h"

struct OrganizationHooks {
    std::function<std::optional<QString>()> outputRoot;
    std::function<void(const QUrl &)> openUrl;
    // The ledger's save joins the report of the other state files.
    std::function<void(const UnsavedState::Outcome &)> reportSave;
};

class OrganizationRun : public QObject {
    Q_OBJECT

public:
    OrganizationRun(const ParlivoSettings &settings, EventLog &log, OllamaRuntime &ollama, OrganizationHooks hooks,
                    QObject *parent = nullptr);

    bool active() const { return m_active; }
    const QString &phase() const { return m_phase; }
    int done() const { return m_done; }
    int total() const { return m_total; }
    const std::optional<QString> &current() const { return m_current; }
    // The ledger is read at the first look, not when the engine starts.
    int organizedCount() const {
        ensureLoaded();
        return m_organizedCount;
    }
    const OrgLedger &ledger() const {
        ensureLoaded();
        return m_ledger;
    }

    // The caller checks that nothing else runs.
    void start();
    void cancel();
    QCoro::Task<> waitForEnd();
    // Transcripts whose memo has no folder in the archive, or lost it.
    int pendingCount() const;
    // The same count, made on a worker thread: the walk reads a whole tree.
    QCoro::Task<int> pendingCountOffThread() const;
    std::optional<QString> archiveRoot() const;
    QStringList transcriptFiles() const;
    void revealArchive() const;
    void loadLedger();
    void saveLedger();
    OrgPassHooks passHooks();

signals:
    void changed();  // the run's phase, figures and current memo
    void finished(); // once, at the very end of a run

private:
    QCoro::Task<> run();
    void ensureLoaded() const;
    void setProgress(const QString &phase, int total);
    // INDEX.md as the ledger has it; a failure is said, never taken for success.
    void writeArchiveIndex(const QString &root);

    const ParlivoSettings &m_settings;
    EventLog &m_log;
    OllamaRuntime &m_ollama;
    OrganizationHooks m_hooks;

    bool m_active = false;
    QString m_phase;
    int m_done = 0;
    int m_total = 0;
    std::optional<QString> m_current;
    int m_organizedCount = 0;
    // The run's cancellation, checked before each memo and between phases.
    bool m_cancelRequested = false;
    OrgLedger m_ledger;
    bool m_ledgerLoaded = false;
    std::optional<QCoro::Task<>> m_task;
};
