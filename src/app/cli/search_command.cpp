// Searching every memo at once, from the memo library.
#include <cmath>

#include "app/cli/cli.h"
#include "core/records.h"
#include "core/text.h"
#include "engine/transcriber.h"
#include "library/library_memo.h"
#include "library/search_query.h"

namespace cli {

namespace {
// Date, time in the memo, transcript, passage; "-" for what is not known.
QString hitLine(const SearchHit &hit) {
    const QString date = hit.date ? hit.date->toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm"))
                                  : QStringLiteral("-");
    // Rounded down: played from there, the words are not cut.
    const QString time = hit.time ? formatClock(std::floor(*hit.time)) : QStringLiteral("-");
    return QStringList{date, time, singleLine(hit.transcriptPath), hit.passage.marked()}.join(QLatin1Char('\t'));
}
} // namespace

QCoro::Task<int> search(Context &ctx) {
    const SearchQuery query = searchQueryFromArguments(ctx.args);
    if (query.isEmpty()) {
        ctx.err << "Indique les mots à chercher (des lettres ou des chiffres) : parlivo-cli search MOTS…"
                << Qt::endl;
        co_return badUsage;
    }
    const LibraryFound found = co_await ctx.engine.searchLibrary(query, -1);
    if (found.error) {
        ctx.err << *found.error << Qt::endl;
        co_return badUsage;
    }
    for (const SearchHit &hit : found.hits) ctx.out << hitLine(hit) << '\n';
    ctx.out.flush();
    co_return found.hits.isEmpty() ? someFailed : success;
}

} // namespace cli
