#include "library/hit_segment.h"

#include <algorithm>

namespace {
bool isWordCharacter(QChar c) {
    switch (c.category()) {
    case QChar::Mark_NonSpacing:
    case QChar::Mark_SpacingCombining:
    case QChar::Mark_Enclosing:
    case QChar::Other_PrivateUse:
        return true;
    default:
        return c.isLetterOrNumber();
    }
}

QString folded(const QString &word) {
    QString bare;
    for (const QChar c : word.normalized(QString::NormalizationForm_D))
        if (c.category() != QChar::Mark_NonSpacing) bare.append(c);
    return bare.toCaseFolded();
}

bool matchesAt(const QStringList &words, const QStringList &needle, qsizetype at) {
    return at + needle.size() <= words.size() && std::equal(needle.begin(), needle.end(), words.begin() + at);
}

// Where `needle` starts in `words` for its `occurrence`-th time (from 0);
// the last occurrence when there are fewer, nothing when there is none.
std::optional<qsizetype> findOccurrence(const QStringList &words, const QStringList &needle, qsizetype occurrence) {
    std::optional<qsizetype> found;
    if (needle.isEmpty()) return found;
    for (qsizetype i = 0; i + needle.size() <= words.size(); ++i) {
        if (!matchesAt(words, needle, i)) continue;
        found = i;
        if (occurrence-- == 0) break;
    }
    return found;
}

qsizetype occurrencesBefore(const QStringList &words, const QStringList &needle, qsizetype end) {
    qsizetype count = 0;
    for (qsizetype i = 0; i < end; ++i)
        if (matchesAt(words, needle, i)) ++count;
    return count;
}
} // namespace

QStringList foldedWords(QStringView text) {
    QStringList words;
    QString current;
    for (const QChar c : text) {
        if (isWordCharacter(c)) {
            current.append(c);
        } else if (!current.isEmpty()) {
            words.append(folded(current));
            current.clear();
        }
    }
    if (!current.isEmpty()) words.append(folded(current));
    return words;
}

std::optional<qsizetype> segmentUnderHit(const QString &text, const Passage &passage, const QList<Segment> &segments) {
    if (passage.marks.isEmpty() || segments.isEmpty()) return std::nullopt;
    const MarkedRange &mark = passage.marks.first();
    const QStringList run = foldedWords(QStringView(passage.text).mid(mark.start, mark.length));
    const qsizetype runInPassage = foldedWords(QStringView(passage.text).left(mark.start)).size();

    // Which occurrence of the run the passage shows, counted in the whole text.
    const QStringList textWords = foldedWords(text);
    const auto passageAt = findOccurrence(textWords, foldedWords(passage.text), 0);
    const qsizetype occurrence = passageAt ? occurrencesBefore(textWords, run, *passageAt + runInPassage) : 0;

    QStringList spoken;
    QList<qsizetype> segmentOfWord;
    for (qsizetype i = 0; i < segments.size(); ++i) {
        const QStringList words = foldedWords(segments[i].text);
        spoken += words;
        segmentOfWord.insert(segmentOfWord.size(), words.size(), i);
    }
    auto at = findOccurrence(spoken, run, occurrence);
    // A corrected text may have changed some of the run: its first word may remain.
    if (!at && run.size() > 1) at = findOccurrence(spoken, run.mid(0, 1), 0);
    if (!at) return std::nullopt;
    return segmentOfWord[*at];
}
