#pragma once
// Recordings seen changing, each waiting until its size and date have held
// still for the settle delay: a file still being copied or synced is never
// taken half-written. Times are milliseconds of a steady clock, handed in.

#include <QHash>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

#include "core/source_files.h"

class SettlingFiles {
public:
    using Look = std::function<std::optional<FileIdentity>(const QString &path)>;

    void setDelay(qint64 ms) { m_delay = ms; }
    qint64 delay() const { return m_delay; }

    // A third of the delay: a file still being written rarely holds still that
    // long, and work that only reads it may start ahead of its turn.
    qint64 quietAfter() const { return m_delay / 3; }

    // The file changed (or was found) at `now`, as `identity`: its wait starts again.
    void touch(const QString &path, const FileIdentity &identity, qint64 now);
    void forget(const QString &path) { m_files.remove(path); }
    // Every file inside `folder` (gone or moved away).
    void forgetUnder(const QString &folder);
    void clear() { m_files.clear(); }

    // The files whose wait is over at `now`, in natural order. `look` reads a
    // file as it is now: one unchanged since its last change has settled and
    // leaves; one that changed without a word waits again; one gone leaves.
    QStringList takeSettled(qint64 now, const Look &look);
    // The files that have held still for quietAfter() since their last change,
    // each once per change, in natural order. They may still change: whatever
    // is read of them ahead stands only for the version it was read from.
    QStringList takeQuiet(qint64 now);
    // When the next wait (or quiet time) ends; nothing when no file waits.
    std::optional<qint64> nextDue() const;
    int size() const { return int(m_files.size()); }

private:
    struct Waiting {
        FileIdentity identity;
        qint64 due = 0;
        bool quietTold = false;
    };
    Waiting waiting(const FileIdentity &identity, qint64 now) const { return {identity, now + m_delay, false}; }
    // When a file that settles at `due` has held still for quietAfter().
    qint64 quietAt(const Waiting &file) const { return file.due - m_delay + quietAfter(); }
    QHash<QString, Waiting> m_files;
    qint64 m_delay = 3000;
};
