#include "library/hit_segment.h"

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

// Splits `text` into words as the index does: `letter` gets each folded
// letter of a word, `wordEnds` is called after its last one.
template <typename Letter, typename WordEnds> void forEachLetter(QStringView text, Letter letter, WordEnds wordEnds) {
    bool inWord = false;
    for (const QChar c : text) {
        const char16_t f = folded(c);
        if (f == separator) {
            if (inWord) wordEnds();
            inWord = false;
        } else if (f != accent) {
            letter(f);
            inWord = true;
        }
    }
    if (inWord) wordEnds();
}

// Words compared by a hash of their folded letters (FNV-1a, made as the
// letters come: a search folds every word of up to a hundred memos). A rare
// collision could only misplace a hit's time.
using Words = QList<size_t>;
constexpr size_t hashStart = 14695981039346656037ull;
constexpr size_t hashFactor = 1099511628211ull;

void appendWordKeys(QStringView text, Words &keys) {
    size_t hash = hashStart;
    forEachLetter(
        text, [&hash](char16_t f) { hash = (hash ^ f) * hashFactor; },
        [&] {
            keys.append(hash);
            hash = hashStart;
        });
}

Words wordKeys(QStringView text) {
    Words keys;
    keys.reserve(text.size() / 4);
    appendWordKeys(text, keys);
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
    QString word;
    forEachLetter(
        text, [&word](char16_t f) { word.append(QChar(f)); },
        [&] {
            words.append(word);
            word.resize(0); // keeps the buffer
        });
    return words;
}

std::optional<qsizetype> segmentUnderHit(const QString &text, const Passage &passage, const QList<Segment> &segments) {
    if (passage.marks.isEmpty() || segments.isEmpty()) return std::nullopt;
    const MarkedRange &mark = passage.marks.first();
    const Words run = wordKeys(QStringView(passage.text).mid(mark.start, mark.length));

    Words spoken;
    QList<qsizetype> segmentOfWord;
    spoken.reserve(segments.size() * 16);
    for (qsizetype i = 0; i < segments.size(); ++i) {
        appendWordKeys(segments[i].text, spoken);
        segmentOfWord.insert(segmentOfWord.size(), spoken.size() - segmentOfWord.size(), i);
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
