#pragma once
// The queue of recordings: the entries and their status counters, the
// history of every file already handled (the ledger), and the source folder
// they were scanned from. Changes that must reach the disk ask for a delayed
// save through saveWanted(); the engine connects it to the state store.

#include <QList>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <QUrl>
#include <QUuid>

#include <array>
#include <functional>
#include <memory>
#include <optional>

#include "core/event_log.h"
#include "core/records.h"
#include "core/source_files.h"
#include "core/state_parts.h"

struct StoredState;

class FileQueue : public QObject {
    Q_OBJECT

public:
    static const QStringList audioExtensions;
    // Folders under the source that hold Parlivo's own output, never scanned.
    using WrittenFolders = std::function<QStringList()>;

    FileQueue(EventLog &log, WrittenFolders written, QObject *parent = nullptr);

    // ---- Entries and counters ----
    const QList<AudioFile> &files() const { return m_files; }
    const AudioFile *entry(const QUuid &id) const;
    AudioFile *mutableEntry(const QUuid &id);
    int count(FileStatus status) const { return m_counts[size_t(status)]; }
    // Done, skipped, in error or empty.
    int processedCount() const;
    double overallProgress() const;
    std::optional<AudioFile> primaryRunningFile() const;
    void setStatus(const QUuid &id, FileStatus status);
    void adjust(FileStatus status, int by);
    void recomputeCounters();
    void replace(QList<AudioFile> files);
    // The stored queue as loaded: nothing is running any more.
    void restore(QList<AudioFile> files);
    // Takes over the queue, its source folder and the history the state
    // folder held; returns whether a batch was under way when it was saved.
    bool restoreStored(StoredState &stored, StateParts parts);
    void setProgress(const QUuid &id, double fraction);
    void returnToPending(const QUuid &id);
    // Pending again with its results forgotten.
    void requeue(const QUuid &id);

    // ---- History ----
    const Ledger &ledger() const { return *m_ledger; }
    // The history as it is now, shared rather than copied: a save holding it
    // sees it unchanged, since an edit while it is held works on a copy.
    std::shared_ptr<const Ledger> sharedLedger() const { return m_ledger; }
    Ledger &editLedger();
    // The history entry of `source` while the file is still the one it describes.
    std::optional<LedgerEntry> matchingLedgerEntry(const QString &source) const;
    // `identity`: the file as the outcome saw it (read now when not given).
    void recordLedger(const QString &source, const QString &status, std::optional<QString> outputPath,
                      std::optional<QString> errorMessage, std::optional<FileIdentity> identity = std::nullopt);

    // ---- Source folder ----
    const std::optional<QUrl> &sourceFolder() const { return m_sourceFolder; }
    void restoreSourceFolder(std::optional<QUrl> folder);
    // Scans the folder into a new queue (the history restores finished files).
    void setSourceFolder(const QUrl &folder);
    void rescan();
    // What a scan of `folder` finds, leaving out the folders Parlivo writes
    // (`written`) inside it. It needs nothing of the queue: a command can walk
    // the folder while the state is still being read, and hand the result on.
    static QList<QUrl> audioFilesIn(const QUrl &folder, const QStringList &written);
    void setSourceFolder(const QUrl &folder, const QList<QUrl> &found);
    void rescan(const QList<QUrl> &found);
    // Files gone from the disk leave the queue, each with a log line.
    void dropVanishedFiles();

    // Recordings that appeared or changed under the source folder: a new one
    // joins the queue, a finished one that is no longer the version the
    // history holds is pending again. `pending`: those now waiting for the
    // batch; `busy`: those being transcribed, to be offered again later.
    struct Arrivals {
        QSet<QUuid> pending;
        QStringList busy;
    };
    Arrivals admit(const QStringList &paths);

signals:
    void queueChanged();                // entries added, removed or replaced
    void entryChanged(const QUuid &id); // one entry's status, progress or texts
    void countersChanged();
    void sourceFolderChanged();
    void saveWanted(); // the queue or the history changed

private:
    // A first start after an update from a version without a history.
    void rebuildLedgerFromQueue();
    AudioFile restoredFromLedger(const QUrl &url) const;
    // The entries of a scan in line with the history, the files it holds
    // looked at all at once: a new (pending) entry takes what the history
    // says of its file; a finished one whose file changed since is new again.
    void alignWithLedger(QList<AudioFile> &files) const;
    void logVanished(const QString &path);

    EventLog &m_log;
    WrittenFolders m_writtenFolders;
    QList<AudioFile> m_files;
    std::array<int, fileStatusCount> m_counts{};
    std::shared_ptr<Ledger> m_ledger = std::make_shared<Ledger>();
    std::optional<QUrl> m_sourceFolder;
};
