#pragma once
// The piece of a memo shown under a search hit, with the words that matched.

#include <QChar>
#include <QList>
#include <QString>

struct MarkedRange {
    qsizetype start = 0;
    qsizetype length = 0;

    bool operator==(const MarkedRange &) const = default;
};

struct Passage {
    QString text;             // one line: no tab, no line break, spaces collapsed
    QList<MarkedRange> marks; // the matched runs in `text`, in order

    // The text with each matched run between « and »: readable in a terminal
    // line as in the window.
    QString marked() const;
};

// A passage from text whose matched runs lie between `open` and `close`.
// Every run of whitespace or control characters becomes one space.
Passage passageFromMarkedText(const QString &markedText, QChar open, QChar close);
