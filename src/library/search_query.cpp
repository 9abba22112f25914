#include "library/search_query.h"

namespace {
// A string for the full-text engine: inside double quotes nothing is an
// operator, and a double quote is written twice.
QString quoted(const QString &term) {
    QString escaped = term;
    escaped.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}

bool hasLetterOrDigit(const QString &text) {
    for (const QChar c : text)
        if (c.isLetterOrNumber()) return true;
    return false;
}

void addTerm(QStringList &terms, const QString &text) {
    const QString term = text.simplified();
    if (hasLetterOrDigit(term)) terms.append(term);
}
} // namespace

QString SearchQuery::allTermsExpression() const {
    QStringList parts;
    for (const QString &term : terms) parts.append(quoted(term));
    return parts.join(QLatin1Char(' '));
}

QString SearchQuery::wholePhraseExpression() const { return quoted(terms.join(QLatin1Char(' '))); }

SearchQuery parseSearchQuery(const QString &input) {
    SearchQuery query;
    QString current;
    bool inPhrase = false;
    for (const QChar c : input) {
        if (c == QLatin1Char('"')) {
            addTerm(query.terms, current);
            current.clear();
            inPhrase = !inPhrase;
        } else if (!inPhrase && (c.isSpace() || c.category() == QChar::Other_Control)) {
            addTerm(query.terms, current);
            current.clear();
        } else {
            // A control character (a NUL above all) would cut the expression short.
            current.append(c.category() == QChar::Other_Control ? QChar(QLatin1Char(' ')) : c);
        }
    }
    addTerm(query.terms, current);
    return query;
}

SearchQuery searchQueryFromArguments(const QStringList &arguments) {
    QStringList parts;
    for (const QString &argument : arguments) {
        const bool spaced = argument.contains(QLatin1Char(' ')) || argument.contains(QLatin1Char('\t'));
        parts.append(spaced && !argument.contains(QLatin1Char('"')) ? QLatin1Char('"') + argument + QLatin1Char('"')
                                                                    : argument);
    }
    return parseSearchQuery(parts.join(QLatin1Char(' ')));
}
