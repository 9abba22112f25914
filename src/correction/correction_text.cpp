#include "correction/correction_text.h"

#include <QRegularExpression>
#include <QSet>
#include <QTextBoundaryFinder>

namespace Corrector {

int graphemeCount(const QString &text) {
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    int count = 0;
    while (finder.toNextBoundary() != -1) ++count;
    return count;
}

bool isTooShortToCorrect(const QString &text) { return graphemeCount(text.trimmed()) <= shortTextLimit; }

namespace {

// Length of the next piece cut from the front of `line`: `limit`, one less
// when that would separate a surrogate pair.
qsizetype pieceLength(QStringView line, int limit) {
    if (limit > 1 && line.at(limit - 1).isHighSurrogate() && line.at(limit).isLowSurrogate()) return limit - 1;
    return limit;
}

} // namespace

QStringList splitIntoChunks(const QString &text, int limit) {
    if (text.size() <= limit) return text.isEmpty() ? QStringList{} : QStringList{text};

    QStringList chunks;
    QString current;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        if (current.size() + line.size() + 1 > limit && !current.isEmpty()) {
            chunks.append(current);
            current.clear();
        }
        if (line.size() > limit) {
            QStringView rest(line);
            while (rest.size() > limit) {
                const qsizetype length = pieceLength(rest, limit);
                chunks.append(rest.left(length).toString());
                rest = rest.mid(length);
            }
            current = rest.toString();
        } else {
            if (!current.isEmpty()) current += QLatin1Char('\n');
            current += line;
        }
    }
    if (!current.isEmpty()) chunks.append(current);
    return chunks;
}

namespace {

// The distinct words of a text, lower case and without accents.
QSet<QString> foldedWords(const QString &text) {
    static const QRegularExpression word(QStringLiteral("[\\p{L}\\p{M}\\p{N}]+"),
                                         QRegularExpression::UseUnicodePropertiesOption);
    static const QRegularExpression marks(QStringLiteral("\\p{Mn}"), QRegularExpression::UseUnicodePropertiesOption);
    QSet<QString> words;
    for (auto it = word.globalMatch(text.normalized(QString::NormalizationForm_D)); it.hasNext();)
        words.insert(it.next().captured(0).remove(marks).toLower());
    return words;
}

} // namespace

bool isPlausibleCorrection(const QString &text, const QString &answer) {
    const double textLength = graphemeCount(text.trimmed());
    const double answerLength = graphemeCount(answer.trimmed());
    if (textLength == 0) return true; // nothing to compare with
    const double ratio = answerLength / textLength;
    if (ratio < shortestCorrection || ratio > longestCorrection) return false;
    const QSet<QString> answerWords = foldedWords(answer);
    if (answerWords.isEmpty()) return false;
    const QSet<QString> textWords = foldedWords(text);
    qsizetype shared = 0;
    for (const QString &w : answerWords)
        if (textWords.contains(w)) ++shared;
    return double(shared) / double(answerWords.size()) >= leastSharedWords;
}

namespace {

QRegularExpression preamblePattern(const char *pattern) {
    return QRegularExpression(QString::fromUtf8(pattern), QRegularExpression::CaseInsensitiveOption |
                                                              QRegularExpression::UseUnicodePropertiesOption);
}

} // namespace

QString stripPreamble(const QString &answer) {
    static const QRegularExpression introduction =
        preamblePattern("^(voici|here is|bien sûr|certainement|d'accord)[^\\n]{0,100}:\\s*\\n+");
    static const QRegularExpression heading = preamblePattern("^(le )?texte (corrigé|final|nettoyé)\\s*:?\\s*\\n+");
    static const QRegularExpression openingFence = preamblePattern("^```[a-z]*\\n");
    static const QRegularExpression closingFence = preamblePattern("\\n```\\s*$");

    // The patterns expect a line break after what they remove. The ends of the
    // text count as line breaks too, so that an answer made of nothing but a
    // preamble or a fence strips to empty instead of being taken as the text.
    QString text = answer.trimmed() + QLatin1Char('\n');
    text.remove(introduction);
    text.remove(heading);
    text.remove(openingFence);
    text.prepend(QLatin1Char('\n'));
    text.remove(closingFence);
    return text.trimmed();
}

} // namespace Corrector
