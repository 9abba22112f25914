#include "library/hit_segment.h"

#include <QHash>

#include <algorithm>
#include <array>

namespace {
constexpr char16_t separator = 0;    // between words
constexpr char16_t accent = 0xFFFF;  // a combining accent, dropped from the word

// The character without its accents, in lower case: 'É' gives 'e'.
char16_t foldLetter(QChar c) {
    while (c.decompositionTag() == QChar::Canonical) {
        const QString parts = c.decomposition();
        if (parts.isEmpty() || parts.front() == c) break;
        c = parts.front();
    }
    return c.toCaseFolded().unicode();
}

// What a character is to the words, as the index's tokenizer sees it:
// letters, digits, marks and private use characters make words.
char16_t classify(QChar c) {
    switch (c.category()) {
    case QChar::Mark_NonSpacing:
        return accent;
    case QChar::Mark_SpacingCombining:
    case QChar::Mark_Enclosing:
    case QChar::Other_PrivateUse:
        return c.unicode();
    default:
        return c.isLetterOrNumber() ? foldLetter(c) : separator;
    }
}

// A search folds every word of up to a hundred memos: the Latin letters,
// nearly all of them, come from a table.
char16_t folded(QChar c) {
    static const auto latin = [] {
        std::array<char16_t, 0x250> table{};
        for (char16_t i = 0; i < table.size(); ++i) table[i] = classify(QChar(i));
        return table;
    }();
    return c.unicode() < latin.size() ? latin[c.unicode()] : classify(c);
}

// Calls `visit` with each word of `text`, folded, in a buffer it reuses.
template <typename Visit> void forEachWord(QStringView text, Visit visit) {
    QString word;
    for (const QChar c : text) {
        const char16_t f = folded(c);
        if (f == separator) {
            if (word.isEmpty()) continue;
            visit(word);
            word.resize(0); // keeps the buffer
        } else if (f != accent) {
            word.append(QChar(f));
        }
    }
    if (!word.isEmpty()) visit(word);
}

// Words compared by a hash of their folded form: a rare collision could
// only misplace a hit's time.
using Words = QList<size_t>;

Words wordKeys(QStringView text) {
    Words keys;
    forEachWord(text, [&keys](const QString &word) { keys.append(qHash(word)); });
    return keys;
}

bool matchesAt(const Words &words, const Words &needle, qsizetype at) {
    return at + needle.size() <= words.size() && std::equal(needle.begin(), needle.end(), words.begin() + at);
}

QList<qsizetype> occurrences(const Words &words, const Words &needle, qsizetype before) {
    QList<qsizetype> found;
    if (needle.isEmpty()) return found;
    for (qsizetype i = 0; i < before && i + needle.size() <= words.size(); ++i)
        if (matchesAt(words, needle, i)) found.append(i);
    return found;
}

// Which occurrence of `needle` (the start of the passage's first marked
// run) the passage shows, counted in the whole text.
qsizetype shownOccurrence(const QString &text, const Passage &passage, const Words &needle) {
    const Words textWords = wordKeys(text);
    const auto passageAt = occurrences(textWords, wordKeys(passage.text), textWords.size());
    if (passageAt.isEmpty()) return 0;
    const qsizetype runAt = passageAt.first() + wordKeys(QStringView(passage.text).left(passage.marks.first().start)).size();
    return occurrences(textWords, needle, runAt).size();
}
} // namespace

QStringList foldedWords(QStringView text) {
    QStringList words;
    forEachWord(text, [&words](const QString &word) { words.append(QString(word.constData(), word.size())); });
    return words;
}

std::optional<qsizetype> segmentUnderHit(const QString &text, const Passage &passage, const QList<Segment> &segments) {
    if (passage.marks.isEmpty() || segments.isEmpty()) return std::nullopt;
    const MarkedRange &mark = passage.marks.first();
    const Words run = wordKeys(QStringView(passage.text).mid(mark.start, mark.length));

    Words spoken;
    QList<qsizetype> segmentOfWord;
    for (qsizetype i = 0; i < segments.size(); ++i) {
        const Words words = wordKeys(segments[i].text);
        spoken += words;
        segmentOfWord.insert(segmentOfWord.size(), words.size(), i);
    }
    Words needle = run;
    QList<qsizetype> said = occurrences(spoken, needle, spoken.size());
    // A corrected text may have changed some of the run: its first word may remain.
    if (said.isEmpty() && run.size() > 1) {
        needle = run.mid(0, 1);
        said = occurrences(spoken, needle, spoken.size());
    }
    if (said.isEmpty()) return std::nullopt;
    if (said.size() == 1) return segmentOfWord[said.first()];
    // Said more than once: the one the passage shows, or the last when the
    // text has more of them than the recording.
    const qsizetype shown = std::min(shownOccurrence(text, passage, needle), said.size() - 1);
    return segmentOfWord[said[shown]];
}
