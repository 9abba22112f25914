#pragma once
// What the user typed into a search, turned into full-text expressions that
// can never be a syntax error: every word and every "quoted phrase" becomes a
// quoted string, so operators (NEAR, AND, -, *, ^, parentheses, column names)
// are only ever words to look for.

#include <QString>
#include <QStringList>

struct SearchQuery {
    QStringList terms; // words and phrases, in the order typed, each holding a letter or a digit

    bool isEmpty() const { return terms.isEmpty(); }
    // Every term must be there, anywhere in the memo.
    QString allTermsExpression() const;
    // All the words in the order typed, next to each other.
    QString wholePhraseExpression() const;
};

// Whitespace separates words; double quotes group a phrase (an unclosed one
// runs to the end). Words without a letter or a digit are dropped.
SearchQuery parseSearchQuery(const QString &input);

// The same from command-line arguments: an argument with a space in it was
// quoted in the shell, so it is a phrase.
SearchQuery searchQueryFromArguments(const QStringList &arguments);
