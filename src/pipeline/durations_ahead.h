#pragma once
// Durations of watched recordings read while they settle, so that their turn
// starts at the conversion: reading a duration costs about as much as the
// conversion itself, and the settle wait is otherwise idle. A reading stands
// only for the very version of the file it was read from.

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

#include "core/source_files.h"

class DurationsAhead {
public:
    using Look = std::function<std::optional<FileIdentity>(const QString &path)>;

    // Paths waiting, being read and read, at most: beyond, a file is read in
    // its turn (a folder found full of recordings would otherwise be read far
    // ahead of the batch, and the readings wanted first dropped).
    static constexpr int keptAtMost = 1000;

    // Paths to read, in order; one already waiting or being read is not added
    // again. When full, readings of versions no longer on disk (`look`) make room.
    void want(const QStringList &paths, const Look &look);
    // The next path to read while fewer than `atOnce` are being read; it then counts as being read.
    std::optional<QString> next(int atOnce);
    // A reading ended, of the file as it was (`identity`) when it began. Kept
    // when it gave a duration: a file changed since never matches it.
    void finished(const QString &path, const std::optional<FileIdentity> &identity, std::optional<double> seconds);
    // The file's turn came: its reading of this version, once; nothing when
    // there is none (not read, read from another version, or still being read).
    std::optional<double> take(const QString &path, const FileIdentity &identity);

private:
    struct Reading {
        FileIdentity identity;
        double seconds = 0;
    };
    qsizetype held() const { return m_waiting.size() + m_reading.size() + m_read.size(); }
    void dropStale(const Look &look);

    QStringList m_waiting;
    QSet<QString> m_reading;
    QHash<QString, Reading> m_read;
};
