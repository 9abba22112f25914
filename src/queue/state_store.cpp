#include "queue/state_store.h"

#include <QFile>
#include <QFileInfo>

#include <QScopeGuard>

#include <algorithm>
#include <thread>

#include <qcoro/qcorotask.h>

#include "core/atomic_file.h"
#include "core/folders.h"
#include "core/next_emission.h"

namespace {
const QString settingsFile = QStringLiteral("settings.json");
const QString queueFile = QStringLiteral("queue.json");
const QString ledgerFile = QStringLiteral("ledger.json");

QString statePath(const QString &name) { return folders::supportDir() + QLatin1Char('/') + name; }

// Writes `text` unless the file already holds it; a file removed meanwhile is written again.
UnsavedState::Outcome writeIfChanged(const QString &name, QByteArray text, QByteArray &onDisk,
                                     FileAccess access = FileAccess::standard) {
    const QString path = statePath(name);
    if (text == onDisk && QFileInfo(path).size() == text.size()) return {name, std::nullopt};
    auto error = writeFileAtomically(path, text, access);
    if (!error) onDisk = std::move(text);
    return {name, std::move(error)};
}

UnsavedState::Outcome writeLedger(const std::shared_ptr<const Ledger> &ledger, StateTexts &onDisk) {
    // Most saves leave the history as it was: encoding thousands of entries
    // only to find the same text would be wasted.
    if (ledger == onDisk.ledgerWritten && QFileInfo(statePath(ledgerFile)).size() == onDisk.ledger.size())
        return {ledgerFile, std::nullopt};
    UnsavedState::Outcome outcome = writeIfChanged(ledgerFile, encodeLedger(*ledger), onDisk.ledger);
    if (!outcome.error) onDisk.ledgerWritten = ledger;
    return outcome;
}
} // namespace

QList<UnsavedState::Outcome> StateSnapshot::write(StateTexts &onDisk) const {
    // Each file is written on its own: one failing does not stop the others.
    // settings.json holds the API key, so only its owner may read it.
    // The history goes before the queue: a crash between the two leaves
    // a queue behind its history, which the next run catches up from it;
    // the other way round a file would stay done with no history entry.
    return {writeIfChanged(settingsFile, dumpCompact(toJson(settings)), onDisk.settings, FileAccess::ownerOnly),
            writeLedger(ledger, onDisk),
            writeIfChanged(queueFile, encodeQueue(queue), onDisk.queue)};
}

StateStore::StateStore(EventLog &log, Snapshot snapshot, QObject *parent)
    : QObject(parent), m_log(log), m_snapshot(std::move(snapshot)) {
    m_saveTimer.setSingleShot(true);
    connect(&m_saveTimer, &QTimer::timeout, this, &StateStore::saveAtOnce);
    m_writer.setMaxThreadCount(1);
}

StateStore::~StateStore() = default;

// A state file read and decoded, which a worker thread may do: setting it
// aside and saying so, when it is unreadable, is the store's own work.
template <typename T> struct DecodedStateFile {
    std::optional<T> value;
    QByteArray text;
    bool unreadable = false; // there, but not a state file
};

namespace {
template <typename T, typename Decode> DecodedStateFile<T> decodeStateFile(const QString &path, Decode decode) {
    DecodedStateFile<T> decoded;
    auto bytes = readWholeFile(path);
    if (!bytes) return decoded;
    try {
        decoded.value = decode(*bytes);
        decoded.text = std::move(*bytes);
    } catch (const std::exception &) {
        decoded.unreadable = true;
    }
    return decoded;
}
} // namespace

void StateStore::setAside(const QString &name) {
    if (!m_writable) {
        // A command that only looks holds no lock: the program that does
        // may be replacing this very file, and a rename would hide the new one.
        m_log.log(QStringLiteral("Fichier d'état illisible : %1. Les valeurs par défaut sont affichées ; il sera "
                                 "mis de côté au prochain lancement de Parlivo.")
                      .arg(name));
        return;
    }
    // Kept aside rather than overwritten by the next save: the user's
    // queue or history may still be recovered from it by hand.
    const QString path = statePath(name);
    const QString aside = path + QStringLiteral(".corrupt");
    QFile::remove(aside);
    QFile::rename(path, aside);
    m_log.log(QStringLiteral("Fichier d'état illisible : %1. Il est mis de côté sous le nom %2 ; les valeurs par "
                             "défaut sont utilisées.")
                  .arg(name, name + QStringLiteral(".corrupt")));
}

template <typename T, typename Decode>
std::optional<T> StateStore::readStateFile(const QString &name, Decode decode, QByteArray *text) {
    return accepted(name, decodeStateFile<T>(statePath(name), decode), text);
}

template <typename T>
std::optional<T> StateStore::accepted(const QString &name, DecodedStateFile<T> &&decoded, QByteArray *text) {
    if (decoded.unreadable) setAside(name);
    if (decoded.value && text) *text = std::move(decoded.text);
    return std::move(decoded.value);
}

StoredState StateStore::read(StateParts parts, const SettingsKnown &settingsKnown) {
    m_writable = parts == StateParts::all;
    auto document = [](auto decode) { return [decode](const QByteArray &bytes) { return decode(parseJson(bytes)); }; };
    StoredState stored;
    // The history, the largest file, is decoded on a worker meanwhile: it
    // needs nothing of the others.
    DecodedStateFile<Ledger> ledger;
    std::thread worker;
    auto joined = qScopeGuard([&worker] {
        if (worker.joinable()) worker.join();
    });
    if (parts == StateParts::all)
        worker = std::thread([&ledger, path = statePath(ledgerFile)] {
            ledger = decodeStateFile<Ledger>(path, ledgerFromText);
        });
    // The settings' text is kept only from a file its owner alone may read:
    // one left readable by others by an earlier version is rewritten
    // owner-only at the first save.
    const QFile::Permissions others = QFile::ReadGroup | QFile::ReadOther | QFile::WriteGroup | QFile::WriteOther;
    const bool ownerOnly = !(QFile::permissions(statePath(settingsFile)) & others);
    stored.settings =
        readStateFile<SettingsReading>(settingsFile, document(readSettings), ownerOnly ? &m_onDisk.settings : nullptr);
    if (stored.settings) {
        // One unusable value costs that setting alone, never the API key or the model.
        for (const QString &key : std::as_const(stored.settings->setAside))
            m_log.log(
                QStringLiteral("Réglage invalide dans settings.json : %1. Sa valeur par défaut est utilisée.").arg(key));
    }
    if (settingsKnown) settingsKnown(stored.settings ? stored.settings->settings : ParlivoSettings{});
    if (parts != StateParts::settings)
        stored.queue = readStateFile<PersistedState>(queueFile, document(persistedStateFromJson), &m_onDisk.queue);
    if (worker.joinable()) {
        worker.join();
        if (auto read = accepted(ledgerFile, std::move(ledger), &m_onDisk.ledger)) {
            stored.ledger = std::make_shared<Ledger>(std::move(*read));
            m_onDisk.ledgerWritten = stored.ledger;
        }
    }
    return stored;
}

void StateStore::noteSave(quint64 save, const QList<UnsavedState::Outcome> &outcomes) {
    // A delayed save may report after a newer immediate one: its outcome is outdated.
    if (save < m_lastSaveNoted) return;
    m_lastSaveNoted = save;
    if (auto line = m_unsavedState.record(outcomes)) m_log.log(*line);
}

void StateStore::noteOutcome(const UnsavedState::Outcome &outcome) {
    // Not a save of the other files: it leaves their outcomes, even pending ones, valid.
    noteSave(m_savesStarted, {outcome});
}

void StateStore::saveNow() {
    m_saveTimer.stop();
    if (!m_writable) return;
    // A delayed save still being written must land first, or it would
    // overwrite this newer state.
    m_writer.waitForDone();
    const quint64 save = ++m_savesStarted;
    noteSave(save, m_snapshot().write(m_onDisk));
    emit saved();
}

void StateStore::saveAtOnce() {
    // Encoding a large queue and flushing three files to disk would stall the
    // window, so a writer thread does it, one save after the other; a delayed
    // save still waiting is this one.
    m_saveTimer.stop();
    if (!m_writable) return;
    ++m_savesInFlight;
    const quint64 save = ++m_savesStarted;
    m_writer.start([this, save, snapshot = m_snapshot()] {
        const QList<UnsavedState::Outcome> outcomes = snapshot.write(m_onDisk);
        QMetaObject::invokeMethod(
            this,
            [this, save, outcomes] {
                --m_savesInFlight;
                noteSave(save, outcomes);
                emit saved();
            },
            Qt::QueuedConnection);
    });
}

QCoro::Task<> StateStore::waitForWrites() {
    while (m_savesInFlight > 0) co_await nextEmission(this, &StateStore::saved);
}

void StateStore::scheduleSave() {
    if (!m_writable) return;
    // Restarting the single-shot timer drops the pending save: a burst of
    // changes gives one write, 1.2 s after the last one, but never later
    // than 5 s after the first, or a busy batch would be saved only at its
    // end and a crash would lose its history.
    if (!m_saveTimer.isActive()) m_firstUnsavedChange.start();
    const qint64 left = maxSaveDelayMs - m_firstUnsavedChange.elapsed();
    m_saveTimer.start(int(std::clamp<qint64>(left, 0, saveDelayMs)));
}
