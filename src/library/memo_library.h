#pragma once
// The memo library: one SQLite file indexing every memo's final text and
// its recogniser segments, for a search across all memos at once that folds
// accents and case. It is a cache of the transcripts, which stay the truth:
// a file that is missing, unreadable, corrupt or of an older layout is
// recreated empty, and the owner is told to rebuild it from the transcripts.
// SQLite writes that file itself, through its own journal, not through the
// atomic write path of Parlivo's other files.
//
// One instance is one database connection, usable only on the thread that
// made it. Work on another thread (a rebuild) makes its own instance on the
// same folder; the file is shared between them.
//
// A transcript just written is indexed as memoFromTranscript (see
// library_transcripts.h) reads it back, with the recogniser's segments put
// in when they are at hand: the text is then the one a rebuild would find.

#include <QList>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

#include "library/library_memo.h"
#include "library/search_query.h"

class QSqlError;

class MemoLibrary {
public:
    // Opens, or creates, the index file in `folder` (the folder must exist).
    explicit MemoLibrary(const QString &folder);
    ~MemoLibrary();
    MemoLibrary(const MemoLibrary &) = delete;
    MemoLibrary &operator=(const MemoLibrary &) = delete;

    static QString fileName(); // "library.sqlite"

    // Why the index cannot be used at all (the folder cannot be written), in
    // French; nothing when it works.
    std::optional<QString> unusable() const { return m_unusable; }

    // True once after the index was (re)created empty, at opening or after an
    // operation found it corrupt: the owner then rebuilds it.
    bool takeRebuildRequest();

    // Adds the memo, or replaces the one with the same transcript path, with
    // its segments. Nothing on success, else why in French.
    std::optional<QString> put(const LibraryMemo &memo);
    std::optional<QString> remove(const QString &transcriptPath);

    // The memo and its segments, in order; nothing when it is not indexed.
    std::optional<LibraryMemo> memo(const QString &transcriptPath);

    // Best first: memos holding all the words as one phrase, then the others,
    // each group by relevance. At most `limit` hits (negative: all of them).
    // An empty query gives no hit; a failure gives no hit and why in French.
    using Found = LibraryFound;
    Found search(const SearchQuery &query, int limit = 100);

    // Makes the index hold exactly `memos` (in one transaction): the others
    // go; an indexed memo whose text is unchanged keeps its segments. Nothing
    // on success, else why in French.
    std::optional<QString> replaceAll(const QList<LibraryMemo> &memos);

    // The rebuild a worker thread runs: reads the transcripts under `folders`
    // (see readTranscriptsUnder) and replaces the index in `folder` with them
    // through a connection of its own. Gives the number of memos, or why not.
    struct Rebuilt {
        qsizetype memos = 0;
        std::optional<QString> error;
    };
    static Rebuilt rebuild(const QString &folder, const QStringList &folders, const std::optional<QString> &leftOut);

private:
    struct Statements;

    void open();
    bool openFile();
    bool hasCurrentLayout();
    bool createLayout();
    void recreate();
    // The failure in French; a corrupt file is noted, to be recreated (and a
    // rebuild requested) once the statement reading it is done.
    QString failed(const QSqlError &error);
    void recoverIfCorrupt();
    std::optional<QString> inTransaction(const std::function<std::optional<QString>()> &work);
    std::optional<QString> storeMemo(Statements &statements, const LibraryMemo &memo);
    std::optional<QString> storeSegments(Statements &statements, qint64 id, const QList<Segment> &segments);
    std::optional<QString> keepMemo(Statements &statements, qint64 id, const LibraryMemo &memo);
    QSqlQuery segmentsQuery(); // prepared, for segmentsOf
    QList<Segment> segmentsOf(QSqlQuery &query, qint64 id);
    Found findHits(const SearchQuery &query, int limit);
    struct HitStatements;
    std::optional<SearchHit> hit(HitStatements &statements, qint64 id, const QString &expression,
                                 std::optional<QString> &error);

    QString m_path;
    QString m_connection;
    QSqlDatabase m_db;
    bool m_rebuildRequested = false;
    bool m_corrupt = false;
    std::optional<QString> m_unusable;
};
