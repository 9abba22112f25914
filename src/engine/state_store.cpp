// settings.json, queue.json and ledger.json: loading at start, immediate and
// delayed saves.
#include "core/atomic_file.h"
#include "core/folders.h"
#include "engine/source_files.h"
#include "engine/transcriber.h"

#include <QFile>

namespace {
const QString settingsFile = QStringLiteral("settings.json");
const QString queueFile = QStringLiteral("queue.json");
const QString ledgerFile = QStringLiteral("ledger.json");
} // namespace

void Transcriber::migrateSupportDirIfNeeded() { folders::migrateFormerSupportDir(); }

template <typename T, typename Decode>
std::optional<T> Transcriber::readStateFile(const QString &name, Decode decode) {
    const QString path = folders::supportDir() + QLatin1Char('/') + name;
    auto bytes = readWholeFile(path);
    if (!bytes) return std::nullopt;
    try {
        return decode(*bytes);
    } catch (const std::exception &) {
        // Kept aside rather than overwritten by the next save: the user's
        // queue or history may still be recovered from it by hand.
        const QString aside = path + QStringLiteral(".corrupt");
        QFile::remove(aside);
        QFile::rename(path, aside);
        log(QStringLiteral("Fichier d'état illisible : %1. Il est mis de côté sous le nom %2 ; les valeurs par "
                           "défaut sont utilisées.")
                .arg(name, name + QStringLiteral(".corrupt")));
        return std::nullopt;
    }
}

void Transcriber::load() {
    m_isLoading = true;
    auto document = [](auto decode) { return [decode](const QByteArray &bytes) { return decode(parseJson(bytes)); }; };
    if (auto stored = readStateFile<SettingsReading>(settingsFile, document(readSettings))) {
        // One unusable value costs that setting alone, never the API key or the model.
        for (const QString &key : std::as_const(stored->setAside))
            log(QStringLiteral("Réglage invalide dans settings.json : %1. Sa valeur par défaut est utilisée.").arg(key));
        setSettings(stored->settings);
    }
    if (auto ledger = readStateFile<Ledger>(ledgerFile, ledgerFromText)) m_ledger = std::move(*ledger);
    if (auto state = readStateFile<PersistedState>(queueFile, document(persistedStateFromJson))) {
        m_sourceFolder = state->sourceFolder;
        for (auto &file : state->files) {
            if (file.status == FileStatus::running) file.status = FileStatus::pending;
            if (file.status != FileStatus::done && file.status != FileStatus::skipped) file.progress = 0;
        }
        m_pendingWasRunning = state->wasRunning;
        replaceQueue(std::move(state->files));
        emit sourceFolderChanged();
    }
    if (m_ledger.empty()) rebuildLedgerFromQueue();
    m_isLoading = false;
}

void Transcriber::rebuildLedgerFromQueue() {
    // A first start after an update from a version without a history.
    const double now = nowSince1970();
    for (const auto &file : std::as_const(m_files)) {
        if (file.status != FileStatus::done && file.status != FileStatus::skipped) continue;
        auto identity = fileIdentity(file.path());
        if (!identity) continue;
        m_ledger[file.path()] = LedgerEntry{identity->size, identity->mtime, QStringLiteral("done"),
                                            file.outputPath,  now,           std::nullopt,
                                            std::nullopt};
    }
}

namespace {
// What one save writes: a snapshot taken on the main thread, so it can be
// encoded and written anywhere.
struct StateSnapshot {
    ParlivoSettings settings;
    PersistedState queue;
    Ledger ledger;

    QList<UnsavedState::Outcome> write() const {
        const QString dir = folders::supportDir() + QLatin1Char('/');
        // Each file is written on its own: one failing does not stop the others.
        // settings.json holds the API key, so only its owner may read it.
        // The history goes before the queue: a crash between the two leaves
        // a queue behind its history, which the next run catches up from it;
        // the other way round a file would stay done with no history entry.
        QList<UnsavedState::Outcome> outcomes;
        outcomes.append({settingsFile, writeFileAtomically(dir + settingsFile, dumpCompact(toJson(settings)),
                                                           FileAccess::ownerOnly)});
        outcomes.append({ledgerFile, writeFileAtomically(dir + ledgerFile, encodeLedger(ledger))});
        outcomes.append({queueFile, writeFileAtomically(dir + queueFile, encodeQueue(queue))});
        return outcomes;
    }
};
} // namespace

void Transcriber::noteStateSave(quint64 save, const QList<UnsavedState::Outcome> &outcomes) {
    // A delayed save may report after a newer immediate one: its outcome is outdated.
    if (save < m_lastSaveNoted) return;
    m_lastSaveNoted = save;
    if (auto line = m_unsavedState.record(outcomes)) log(*line);
}

void Transcriber::saveNow() {
    m_saveTimer.stop();
    // A delayed save still being written must land first, or it would
    // overwrite this newer state.
    m_stateWriter.waitForDone();
    const quint64 save = ++m_savesStarted;
    const StateSnapshot snapshot{m_settings, PersistedState{m_sourceFolder, m_files, m_isRunning}, m_ledger};
    noteStateSave(save, snapshot.write());
    emit stateSaved();
}

void Transcriber::saveInBackground() {
    // The delayed save happens during batches: encoding a large queue and
    // flushing three files to disk would stall the window, so a writer thread
    // does it, one save after the other.
    StateSnapshot snapshot{m_settings, PersistedState{m_sourceFolder, m_files, m_isRunning}, m_ledger};
    ++m_savesInFlight;
    const quint64 save = ++m_savesStarted;
    m_stateWriter.start([this, save, snapshot = std::move(snapshot)] {
        const QList<UnsavedState::Outcome> outcomes = snapshot.write();
        QMetaObject::invokeMethod(
            this,
            [this, save, outcomes] {
                --m_savesInFlight;
                noteStateSave(save, outcomes);
                emit stateSaved();
            },
            Qt::QueuedConnection);
    });
}

void Transcriber::scheduleSave() {
    // Restarting the single-shot timer drops the pending save: a burst of
    // changes gives one write, 1.2 s after the last one.
    m_saveTimer.start();
}
