#pragma once
// The memo library as the engine keeps it: the index, opened at its first
// use only (a command that never searches never opens it), kept up to date
// as transcripts are written and corrected, and rebuilt from the transcripts
// on a worker thread when it was missing or found corrupt. A transcript
// deleted on disk leaves the index at the next rebuild, or when a search
// would show it.

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

#include <qcoro/qcorotask.h>

#include "core/event_log.h"
#include "library/memo_library.h"

// The folders whose transcripts are memos, and the one left out (the
// organized archive, whose files are copies).
struct LibraryFolders {
    QStringList folders;
    std::optional<QString> leftOut;
};

class Library : public QObject {
    Q_OBJECT

public:
    Library(EventLog &log, std::function<LibraryFolders()> folders, QObject *parent = nullptr);
    ~Library() override;

    // A transcript just written: its text is read back and indexed with the
    // recogniser's segments, replacing what the index held for it.
    void noteWritten(const QString &transcriptPath, const QList<Segment> &segments);
    // A transcript rewritten with its corrected text: the segments stay.
    void noteCorrected(const QString &transcriptPath, const QString &fileText);

    // Best first; waits for a rebuild the index needs. Hits whose transcript
    // is gone from the disk are left out, and out of the index.
    QCoro::Task<MemoLibrary::Found> search(SearchQuery query, int limit = 100);
    // The memo and its segments, as the index holds them (after a rebuild it
    // needs); a transcript not indexed is read from its file, without times.
    // Nothing when the file is gone or is not a transcript.
    QCoro::Task<std::optional<LibraryMemo>> memo(QString transcriptPath);
    // Returns at once when no rebuild is running.
    QCoro::Task<> waitForRebuild();

signals:
    void rebuildFinished();

private:
    // What a write or a correction changes, applied at once or, during a
    // rebuild, after it (a rebuild replaces everything it did not read).
    struct Change {
        QString transcriptPath;
        QString fileText;
        std::optional<QList<Segment>> segments; // nothing: keep the indexed ones
    };

    // The open index, starting the rebuild it asks for; nothing when unusable.
    MemoLibrary *index();
    void apply(const Change &change);
    void store(MemoLibrary &library, const Change &change);
    void rebuildIfRequested();
    QCoro::Task<> rebuild();
    void reportOnce(const std::optional<QString> &error);

    EventLog &m_log;
    std::function<LibraryFolders()> m_folders;
    std::unique_ptr<MemoLibrary> m_index;
    bool m_rebuilding = false;
    QList<Change> m_changesDuringRebuild;
    std::optional<QCoro::Task<>> m_rebuildTask;
    bool m_reported = false;
};
