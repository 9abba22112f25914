// The memo library's search: the matching memos best first, then for each
// its passage and the time the words were said.

#include "library/memo_library.h"

#include <QSqlError>
#include <QSqlQuery>

#include "library/hit_segment.h"
#include "library/library_sql.h"
#include "library/segment_packing.h"

namespace {
// The words the search matched, as the full-text engine marks them: private
// use characters, which no transcript holds.
const QChar openMark(0xE000);
const QChar closeMark(0xE001);

constexpr int passageWords = 12;

struct Ranked {
    qint64 id;
    bool exact; // holds the whole query as one phrase
};
} // namespace

MemoLibrary::Found MemoLibrary::search(const SearchQuery &query, int limit) {
    if (m_unusable) return {{}, m_unusable};
    if (query.isEmpty()) return {};
    // One read transaction for the ranking and every hit: the file is
    // locked and its log looked at once, not twice for each hit.
    const bool reading = m_db.transaction();
    Found found = findHits(query, limit);
    if (reading) m_db.commit();
    // Statements are finished: a corrupt file may be replaced.
    recoverIfCorrupt();
    return found;
}

// The statement run for every hit, prepared once for a search.
struct MemoLibrary::HitStatements {
    QSqlQuery passage;
};

MemoLibrary::Found MemoLibrary::findHits(const SearchQuery &query, int limit) {
    // The ranking alone first: passages are cut only for the hits kept.
    QSqlQuery ranking(m_db);
    ranking.setForwardOnly(true);
    const bool phraseFirst = query.terms.size() > 1;
    // bm25() rather than the rank column: the same order, in half the time.
    const auto error =
        phraseFirst ? run(ranking,
                          QStringLiteral("SELECT rowid, rowid IN (SELECT rowid FROM memo_words WHERE memo_words MATCH ?)"
                                         " AS exact FROM memo_words WHERE memo_words MATCH ?"
                                         " ORDER BY exact DESC, bm25(memo_words) LIMIT ?"),
                          {query.wholePhraseExpression(), query.allTermsExpression(), limit})
                    : run(ranking,
                          QStringLiteral("SELECT rowid, 0 FROM memo_words WHERE memo_words MATCH ?"
                                         " ORDER BY bm25(memo_words) LIMIT ?"),
                          {query.allTermsExpression(), limit});
    if (error) return {{}, failed(*error)};
    QList<Ranked> ranked;
    while (ranking.next()) ranked.append({ranking.value(0).toLongLong(), ranking.value(1).toBool()});
    if (ranking.lastError().isValid()) return {{}, failed(ranking.lastError())};
    ranking.finish();

    HitStatements statements{QSqlQuery(m_db)};
    statements.passage.setForwardOnly(true);
    if (!statements.passage.prepare(QStringLiteral("SELECT m.transcript, m.audio, m.recorded, m.text,"
                                                   " snippet(memo_words, 0, ?, ?, ?, ?), s.packed FROM memo_words"
                                                   " JOIN memos m ON m.id = memo_words.rowid"
                                                   " LEFT JOIN segments s ON s.memo = memo_words.rowid"
                                                   " WHERE memo_words MATCH ? AND memo_words.rowid = ?")))
        return {{}, failed(statements.passage.lastError())};
    Found found;
    for (const Ranked &memo : ranked) {
        const QString expression = memo.exact ? query.wholePhraseExpression() : query.allTermsExpression();
        if (auto hit = this->hit(statements, memo.id, expression, found.error)) found.hits.append(std::move(*hit));
        if (found.error) return {{}, found.error};
    }
    return found;
}

std::optional<SearchHit> MemoLibrary::hit(HitStatements &statements, qint64 id, const QString &expression,
                                          std::optional<QString> &error) {
    QSqlQuery &query = statements.passage;
    const auto failure =
        run(query, {QString(openMark), QString(closeMark), QStringLiteral("…"), passageWords, expression, id});
    if (failure || !query.next()) {
        if (failure || query.lastError().isValid()) error = failed(failure.value_or(query.lastError()));
        return std::nullopt;
    }
    SearchHit hit{query.value(0).toString(), query.value(1).toString(), dateOf(query.value(2)), std::nullopt,
                  passageFromMarkedText(query.value(4).toString(), openMark, closeMark)};
    const QString text = query.value(3).toString();
    const QByteArray packed = query.value(5).toByteArray();
    query.finish();
    const QList<Segment> segments = packed.isEmpty() ? QList<Segment>() : unpackSegments(packed);
    if (const auto segment = segmentUnderHit(text, hit.passage, segments)) hit.time = segments[*segment].start;
    return hit;
}
