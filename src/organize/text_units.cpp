#include "organize/text_units.h"

#include <QTextBoundaryFinder>

namespace {
// Plain ASCII without CR has one character per code unit: skip the finder.
bool isSimple(const QString &text) {
    for (QChar c : text)
        if (c.unicode() >= 0x80 || c == QLatin1Char('\r')) return false;
    return true;
}

// Code-unit offset where the grapheme numbered `count` starts, or the length.
qsizetype offsetOfGrapheme(const QString &text, qsizetype count) {
    if (isSimple(text)) return qMin(count, text.size());
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype seen = 0;
    while (seen < count) {
        if (finder.toNextBoundary() < 0) return text.size();
        ++seen;
    }
    return finder.position();
}
} // namespace

qsizetype graphemeCount(const QString &text) {
    if (isSimple(text)) return text.size();
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    while (finder.toNextBoundary() >= 0) ++count;
    return count;
}

QString leftGraphemes(const QString &text, qsizetype count) {
    if (count <= 0) return {};
    return text.left(offsetOfGrapheme(text, count));
}

QString leftUtf8Bytes(const QString &text, qsizetype maxBytes) {
    if (text.toUtf8().size() <= maxBytes) return text;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype kept = 0;
    qsizetype bytes = 0;
    for (qsizetype next = finder.toNextBoundary(); next >= 0; next = finder.toNextBoundary()) {
        bytes += text.mid(kept, next - kept).toUtf8().size();
        if (bytes > maxBytes) break;
        kept = next;
    }
    return text.left(kept);
}
