#pragma once
// The value records every part of Parlivo exchanges: queue entries, their
// status, the option enums held by the settings, the per-file history and the
// stored queue. Their JSON keys are the on-disk format of the state files.

#include <QDateTime>
#include <QList>
#include <QSet>
#include <QString>
#include <QUrl>
#include <QUuid>

#include <map>
#include <optional>

#include "core/enums.h"

// Seconds to "m:ss" or "h:mm:ss"; "-" for a negative or non-finite value.
QString formatClock(double seconds);

struct AudioFile {
    QUuid id;
    QUrl url;
    FileStatus status = FileStatus::pending;
    double progress = 0;
    std::optional<QString> errorMessage;
    std::optional<double> durationSeconds;
    std::optional<QString> outputPath;

    AudioFile() = default;
    // A new pending entry with a fresh identity.
    explicit AudioFile(const QUrl &url);

    QString path() const { return url.toLocalFile(); }
    QString fileName() const;
    QString durationDisplay() const;

    bool operator==(const AudioFile &) const = default;
};

struct LedgerEntry {
    qint64 size = 0;
    double mtime = 0;
    QString status;
    std::optional<QString> outputPath;
    double date = 0;
    std::optional<QString> errorMessage;
    std::optional<int> attempts;

    bool operator==(const LedgerEntry &) const = default;
};

// Keyed by the source file's absolute path text.
using Ledger = std::map<QString, LedgerEntry>;

// Queue entries chosen together (a selection, a run restricted to some files).
using IdSet = QSet<QUuid>;

struct PersistedState {
    std::optional<QUrl> sourceFolder;
    QList<AudioFile> files;
    bool wasRunning = false;

    bool operator==(const PersistedState &) const = default;
};

// Seconds since 1970-01-01 UTC, the unit of every time stored in JSON.
double secondsSince1970(const QDateTime &time);
double nowSince1970();
