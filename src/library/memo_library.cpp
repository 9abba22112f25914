#include "library/memo_library.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <atomic>
#include <utility>

#include "library/library_sql.h"
#include "library/library_transcripts.h"
#include "library/segment_packing.h"

namespace {
// Raised whenever the tables change: an older file is then rebuilt.
constexpr int layoutVersion = 1;

const char *const layout[] = {
    "CREATE TABLE memos(id INTEGER PRIMARY KEY, transcript TEXT NOT NULL UNIQUE, audio TEXT NOT NULL,"
    " recorded INTEGER, text TEXT NOT NULL)",
    "CREATE TABLE segments(memo INTEGER PRIMARY KEY, packed BLOB NOT NULL)",
    // The words index the memos' own text rather than a copy of it: half the size.
    "CREATE VIRTUAL TABLE memo_words USING fts5(text, content='memos', content_rowid='id',"
    " tokenize='unicode61 remove_diacritics 2')",
    "CREATE TRIGGER memo_added AFTER INSERT ON memos BEGIN"
    " INSERT INTO memo_words(rowid, text) VALUES (new.id, new.text); END",
    "CREATE TRIGGER memo_removed AFTER DELETE ON memos BEGIN"
    " INSERT INTO memo_words(memo_words, rowid, text) VALUES ('delete', old.id, old.text);"
    " DELETE FROM segments WHERE memo = old.id; END",
    "CREATE TRIGGER memo_changed AFTER UPDATE OF text ON memos BEGIN"
    " INSERT INTO memo_words(memo_words, rowid, text) VALUES ('delete', old.id, old.text);"
    " INSERT INTO memo_words(rowid, text) VALUES (new.id, new.text); END",
};

std::atomic<int> connections{0};

QVariant dateValue(const std::optional<QDateTime> &date) {
    return date ? QVariant(date->toMSecsSinceEpoch()) : QVariant(QMetaType::fromType<qint64>());
}

bool isCorruption(const QSqlError &error) {
    // SQLITE_CORRUPT and SQLITE_NOTADB, extended codes included.
    const int code = error.nativeErrorCode().toInt() & 0xff;
    return code == 11 || code == 26;
}
} // namespace

QString MemoLibrary::fileName() { return QStringLiteral("library.sqlite"); }

MemoLibrary::MemoLibrary(const QString &folder)
    : m_path(folder + QLatin1Char('/') + fileName()),
      m_connection(QStringLiteral("parlivo-library-%1").arg(connections.fetch_add(1))) {
    m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    if (!m_db.isValid()) {
        m_unusable = QStringLiteral("Le pilote SQLite de Qt est absent : la bibliothèque des mémos est indisponible.");
        return;
    }
    m_db.setDatabaseName(m_path);
    // A rebuild on another connection holds the file for a moment.
    m_db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
    open();
}

MemoLibrary::~MemoLibrary() {
    m_db.close();
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_connection);
}

bool MemoLibrary::takeRebuildRequest() { return std::exchange(m_rebuildRequested, false); }

void MemoLibrary::open() {
    if (openFile() && hasCurrentLayout()) return;
    recreate();
}

bool MemoLibrary::openFile() {
    if (!m_db.open()) return false;
    QSqlQuery query(m_db);
    // A cache: losing the last transactions in a power cut costs a rebuild,
    // never a corrupt file. The write-ahead log lets a rebuild run beside searches.
    // Up to 32 MB of pages stay in memory: searches in a row, or words typed
    // one after another, find the commonest words' lists there, not on disk.
    return query.exec(QStringLiteral("PRAGMA synchronous = NORMAL")) &&
           query.exec(QStringLiteral("PRAGMA cache_size = -32768"));
}

bool MemoLibrary::hasCurrentLayout() {
    QSqlQuery query(m_db);
    return query.exec(QStringLiteral("PRAGMA user_version")) && query.next() && query.value(0).toInt() == layoutVersion;
}

bool MemoLibrary::createLayout() {
    QSqlQuery query(m_db);
    // Set on the empty file, before anything else. A memo's text is a few
    // kilobytes: on small pages only one fits, leaving half of each empty.
    // Pages the words index frees when it is merged go back to the disk at
    // each commit.
    for (const char *setting : {"PRAGMA page_size = 16384", "PRAGMA auto_vacuum = FULL", "PRAGMA journal_mode = WAL"})
        if (!query.exec(QString::fromLatin1(setting))) return false;
    if (!m_db.transaction()) return false;
    bool created = true;
    for (const char *statement : layout) created = created && query.exec(QString::fromLatin1(statement));
    created = created && query.exec(QStringLiteral("PRAGMA user_version = %1").arg(layoutVersion));
    query.finish();
    if (!created) m_db.rollback();
    return created && m_db.commit();
}

void MemoLibrary::recreate() {
    m_db.close();
    for (const QString &suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")})
        QFile::remove(m_path + suffix);
    m_rebuildRequested = true;
    if (openFile() && createLayout()) {
        m_unusable.reset();
        return;
    }
    m_unusable = QStringLiteral("La bibliothèque des mémos « %1 » n'a pas pu être créée : %2")
                     .arg(m_path, m_db.lastError().text());
    m_db.close();
}

QString MemoLibrary::failed(const QSqlError &error) {
    if (isCorruption(error)) m_corrupt = true;
    return QStringLiteral("Bibliothèque des mémos : ") + error.text();
}

void MemoLibrary::recoverIfCorrupt() {
    if (std::exchange(m_corrupt, false)) recreate();
}

std::optional<QString> MemoLibrary::inTransaction(const std::function<std::optional<QString>()> &work) {
    if (m_unusable) return m_unusable;
    std::optional<QString> error;
    if (!m_db.transaction()) {
        error = failed(m_db.lastError());
    } else if ((error = work())) {
        m_db.rollback();
    } else if (!m_db.commit()) {
        error = failed(m_db.lastError());
        m_db.rollback();
    }
    // Every statement of the work is finished by now: the file may be replaced.
    recoverIfCorrupt();
    return error;
}

// The statements that store memos, prepared once for a whole transaction.
struct MemoLibrary::Statements {
    explicit Statements(const QSqlDatabase &db) : upsert(db), id(db), keep(db), dropSegments(db), addSegments(db) {
        prepare(upsert, QStringLiteral("INSERT INTO memos(transcript, audio, recorded, text) VALUES (?, ?, ?, ?)"
                                      " ON CONFLICT(transcript) DO UPDATE SET audio = excluded.audio,"
                                      " recorded = excluded.recorded, text = excluded.text"));
        prepare(id, QStringLiteral("SELECT id FROM memos WHERE transcript = ?"));
        prepare(keep, QStringLiteral("UPDATE memos SET audio = coalesce(nullif(?, ''), audio),"
                                    " recorded = coalesce(?, recorded) WHERE id = ?"));
        prepare(dropSegments, QStringLiteral("DELETE FROM segments WHERE memo = ?"));
        prepare(addSegments, QStringLiteral("INSERT OR REPLACE INTO segments(memo, packed) VALUES (?, ?)"));
    }
    void prepare(QSqlQuery &query, const QString &sql) {
        if (!query.prepare(sql) && !error) error = query.lastError();
    }
    QSqlQuery upsert, id, keep, dropSegments, addSegments;
    std::optional<QSqlError> error; // the first statement that did not prepare
};

std::optional<QString> MemoLibrary::storeMemo(Statements &statements, const LibraryMemo &memo) {
    const QString path = QDir::cleanPath(memo.transcriptPath);
    if (auto error = run(statements.upsert, {path, memo.audioPath, dateValue(memo.date), memo.text}))
        return failed(*error);
    QSqlQuery &id = statements.id;
    if (auto error = run(id, {path})) return failed(*error);
    if (!id.next()) return failed(id.lastError());
    const qint64 memoId = id.value(0).toLongLong();
    id.finish();
    return storeSegments(statements, memoId, memo.segments);
}

std::optional<QString> MemoLibrary::storeSegments(Statements &statements, qint64 id, const QList<Segment> &segments) {
    const auto error = segments.isEmpty() ? run(statements.dropSegments, {id})
                                          : run(statements.addSegments, {id, packSegments(segments)});
    if (error) return failed(*error);
    return std::nullopt;
}

std::optional<QString> MemoLibrary::put(const LibraryMemo &memo) {
    return inTransaction([&] {
        Statements statements(m_db);
        return statements.error ? failed(*statements.error) : storeMemo(statements, memo);
    });
}

std::optional<QString> MemoLibrary::remove(const QString &transcriptPath) {
    return inTransaction([&]() -> std::optional<QString> {
        QSqlQuery query(m_db);
        const auto error = run(query, QStringLiteral("DELETE FROM memos WHERE transcript = ?"),
                               {QDir::cleanPath(transcriptPath)});
        return error ? failed(*error) : std::optional<QString>();
    });
}

// An indexed memo whose text is unchanged keeps its segments (the file has
// no times unless written with them); only what the file says is updated.
std::optional<QString> MemoLibrary::keepMemo(Statements &statements, qint64 id, const LibraryMemo &memo) {
    if (auto error = run(statements.keep, {memo.audioPath, dateValue(memo.date), id})) return failed(*error);
    if (memo.segments.isEmpty()) return std::nullopt;
    QSqlQuery stored = segmentsQuery();
    if (!segmentsOf(stored, id).isEmpty()) return std::nullopt;
    return storeSegments(statements, id, memo.segments);
}

std::optional<QString> MemoLibrary::replaceAll(const QList<LibraryMemo> &memos) {
    return inTransaction([&]() -> std::optional<QString> {
        struct Indexed {
            qint64 id;
            QString text;
        };
        QHash<QString, Indexed> indexed;
        QSqlQuery all(m_db);
        all.setForwardOnly(true);
        if (!all.exec(QStringLiteral("SELECT id, transcript, text FROM memos"))) return failed(all.lastError());
        while (all.next()) indexed.insert(all.value(1).toString(), {all.value(0).toLongLong(), all.value(2).toString()});

        Statements statements(m_db);
        if (statements.error) return failed(*statements.error);
        for (const LibraryMemo &memo : memos) {
            const auto known = indexed.constFind(QDir::cleanPath(memo.transcriptPath));
            const bool same = known != indexed.constEnd() && known->text == memo.text;
            const auto error = same ? keepMemo(statements, known->id, memo) : storeMemo(statements, memo);
            if (error) return error;
            if (known != indexed.constEnd()) indexed.erase(known);
        }
        QSqlQuery drop(m_db);
        for (const Indexed &gone : std::as_const(indexed))
            if (auto error = run(drop, QStringLiteral("DELETE FROM memos WHERE id = ?"), {gone.id}))
                return failed(*error);
        // Merges the words index into one piece: smaller, and quicker to search.
        QSqlQuery optimize(m_db);
        if (!optimize.exec(QStringLiteral("INSERT INTO memo_words(memo_words) VALUES ('optimize')")))
            return failed(optimize.lastError());
        return std::nullopt;
    });
}

MemoLibrary::Rebuilt MemoLibrary::rebuild(const QString &folder, const QStringList &folders,
                                          const std::optional<QString> &leftOut) {
    // The files are read first, so the write transaction stays short.
    const QList<LibraryMemo> memos = readTranscriptsUnder(folders, leftOut);
    MemoLibrary library(folder);
    if (auto error = library.replaceAll(memos)) return {0, error};
    return {memos.size(), std::nullopt};
}

QSqlQuery MemoLibrary::segmentsQuery() {
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT packed FROM segments WHERE memo = ?"));
    return query;
}

QList<Segment> MemoLibrary::segmentsOf(QSqlQuery &query, qint64 id) {
    QList<Segment> segments;
    if (auto error = run(query, {id})) {
        failed(*error);
        return segments;
    }
    if (query.next()) segments = unpackSegments(query.value(0).toByteArray());
    query.finish();
    return segments;
}

std::optional<LibraryMemo> MemoLibrary::memo(const QString &transcriptPath) {
    if (m_unusable) return std::nullopt;
    std::optional<LibraryMemo> found;
    {
        QSqlQuery query(m_db);
        if (auto error = run(query, QStringLiteral("SELECT id, transcript, audio, recorded, text FROM memos"
                                                   " WHERE transcript = ?"),
                             {QDir::cleanPath(transcriptPath)})) {
            failed(*error);
        } else if (query.next()) {
            QSqlQuery segments = segmentsQuery();
            found = LibraryMemo{query.value(1).toString(), query.value(2).toString(), dateOf(query.value(3)),
                                query.value(4).toString(), segmentsOf(segments, query.value(0).toLongLong())};
        }
    }
    recoverIfCorrupt();
    return found;
}
