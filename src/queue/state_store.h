#pragma once
// settings.json, queue.json and ledger.json: reading them at start, saving
// them now or 1.2 s after the last change, 5 s after the first at most (on a
// writer thread), and which of them could not be written. Owns the save timer
// and the writer thread.

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QThreadPool>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

#include <qcoro/qcorotask.h>

#include "core/event_log.h"
#include "core/records.h"
#include "core/settings.h"
#include "core/state_parts.h"
#include "core/unsaved_state.h"

// The text of each state file as this process last wrote or read it: a save
// with the same text leaves that file alone, which spares a flush to disk.
// Saves run one after the other, so one save at a time uses it.
struct StateTexts {
    QByteArray settings;
    QByteArray ledger;
    QByteArray queue;
    // The history that `ledger` is the text of: while the queue still holds
    // this very one, a save need not even encode it again.
    std::shared_ptr<const Ledger> ledgerWritten;
};

// What one save writes: a copy taken on the main thread, so it can be encoded
// and written anywhere.
struct StateSnapshot {
    ParlivoSettings settings;
    PersistedState queue;
    std::shared_ptr<const Ledger> ledger;

    QList<UnsavedState::Outcome> write(StateTexts &onDisk) const;
};

// What the state folder held at start; nothing for a file missing or unreadable.
struct StoredState {
    std::optional<SettingsReading> settings;
    std::shared_ptr<Ledger> ledger;
    std::optional<PersistedState> queue;
};

template <typename T> struct DecodedStateFile;

class StateStore : public QObject {
    Q_OBJECT

public:
    using Snapshot = std::function<StateSnapshot()>;

    StateStore(EventLog &log, Snapshot snapshot, QObject *parent = nullptr);
    ~StateStore() override;

    // An unreadable file is set aside under ".corrupt", with a log line.
    // After a partial read nothing is ever written: the files left unread
    // would be replaced by empty ones. `settingsKnown` runs on this thread
    // as soon as the settings are, while the history is still decoded.
    using SettingsKnown = std::function<void(const ParlivoSettings &)>;
    StoredState read(StateParts parts = StateParts::all, const SettingsKnown &settingsKnown = {});
    // Writes the three files now, on the calling thread.
    void saveNow();
    // One write now, made by the writer thread after those before it: the
    // window never waits for the disk.
    void saveAtOnce();
    // One write 1.2 s after the last change (at most 5 s after the first
    // one not saved), made by the writer thread.
    void scheduleSave();
    // Awaitable end of the writes under way (returns at once when none is).
    QCoro::Task<> waitForWrites();
    // A delayed save waiting for its time or being written.
    bool hasPendingSave() const { return m_saveTimer.isActive() || m_savesInFlight > 0; }
    // The last save of some state file failed (logged once; every later save tries again).
    bool unsaved() const { return m_unsavedState.any(); }
    // Another state file's save (the organization's ledger) joins the same report.
    void noteOutcome(const UnsavedState::Outcome &outcome);

signals:
    void saved(); // the three state files were just written

private:
    template <typename T, typename Decode>
    std::optional<T> readStateFile(const QString &name, Decode decode, QByteArray *text = nullptr);
    template <typename T> std::optional<T> accepted(const QString &name, DecodedStateFile<T> &&decoded, QByteArray *text);
    void setAside(const QString &name);
    void noteSave(quint64 save, const QList<UnsavedState::Outcome> &outcomes);

    EventLog &m_log;
    Snapshot m_snapshot;
    StateTexts m_onDisk;
    static constexpr qint64 saveDelayMs = 1200;
    static constexpr qint64 maxSaveDelayMs = 5000;
    QTimer m_saveTimer;
    QElapsedTimer m_firstUnsavedChange;
    int m_savesInFlight = 0;
    bool m_writable = true; // false after a partial read
    quint64 m_savesStarted = 0; // saves are numbered, so an outdated outcome is ignored
    quint64 m_lastSaveNoted = 0;
    UnsavedState m_unsavedState;
    // Last member: destroyed first, it waits for a write in progress while the rest is still alive.
    QThreadPool m_writer;
};
