#include "library/search_passage.h"

#include <optional>

QString Passage::marked() const {
    QString out;
    qsizetype from = 0;
    for (const MarkedRange &mark : marks) {
        out += QStringView(text).mid(from, mark.start - from);
        out += QStringLiteral("«");
        out += QStringView(text).mid(mark.start, mark.length);
        out += QStringLiteral("»");
        from = mark.start + mark.length;
    }
    out += QStringView(text).mid(from);
    return out;
}

namespace {
bool isBlank(QChar c) { return c.isSpace() || c.category() == QChar::Other_Control; }
} // namespace

Passage passageFromMarkedText(const QString &markedText, QChar open, QChar close) {
    Passage passage;
    std::optional<qsizetype> runStart;
    bool spacePending = false;
    for (const QChar c : markedText) {
        if (c == open) {
            if (spacePending && !passage.text.isEmpty()) passage.text.append(QLatin1Char(' '));
            spacePending = false;
            runStart = passage.text.size();
        } else if (c == close) {
            if (runStart && passage.text.size() > *runStart)
                passage.marks.append({*runStart, passage.text.size() - *runStart});
            runStart.reset();
        } else if (isBlank(c)) {
            spacePending = true;
        } else {
            if (spacePending && !passage.text.isEmpty()) passage.text.append(QLatin1Char(' '));
            spacePending = false;
            passage.text.append(c);
        }
    }
    return passage;
}
