#include "organize/transcript_reading.h"

#include "organize/text_units.h"
#include "pipeline/header_values.h"

#include <QDir>

#include <QRegularExpression>

namespace {
const auto unicode = QRegularExpression::UseUnicodePropertiesOption;
const QString rawSectionHeading = QStringLiteral("## Transcription brute");

QString bodyOf(const QString &fileText) {
    static const QRegularExpression firstHeading(QStringLiteral("(?m)^#[^\\n]*\\n"), unicode);
    const auto match = firstHeading.match(fileText);
    if (!match.hasMatch()) return {};
    QString body = fileText.mid(match.capturedEnd());
    // The raw text is kept for the user, never sent to the model.
    const qsizetype raw = body.indexOf(rawSectionHeading);
    if (raw >= 0) body.truncate(raw);
    return body.trimmed();
}

QString frontMatterOf(const QString &fileText) {
    static const QRegularExpression frontMatter(QStringLiteral("(?s)^---\\n(.*?)\\n---"), unicode);
    const auto match = frontMatter.match(fileText);
    return match.hasMatch() ? match.captured(1) : QString();
}
} // namespace

std::optional<QString> frontMatterField(const QString &frontMatter, const QString &key) {
    // One pattern for every key: the first line starting with "key:" wins.
    static const QRegularExpression field(QStringLiteral("(?m)^([^:\\n]*):[ \\t]*(.*)$"), unicode);
    for (auto it = field.globalMatch(frontMatter); it.hasNext();) {
        const auto match = it.next();
        if (match.capturedView(1) == key) return match.captured(2).trimmed();
    }
    return std::nullopt;
}

TranscriptText readTranscriptText(const QString &fileText) {
    TranscriptText text;
    text.body = bodyOf(fileText);
    const QString frontMatter = frontMatterOf(fileText);
    text.audio = frontMatterField(frontMatter, QStringLiteral("chemin"));
    if (text.audio) text.audio = headerValueText(*text.audio);
    // Parlivo writes the full path: anything else would name a file relative
    // to wherever the program runs, never the recording.
    if (text.audio && !QDir::isAbsolutePath(*text.audio)) text.audio.reset();
    text.date = frontMatterField(frontMatter, QStringLiteral("date")).value_or(QString());
    text.sourceName = headerValueText(frontMatterField(frontMatter, QStringLiteral("source")).value_or(QString()));
    return text;
}

TranscriptText readPlainTranscriptText(const QString &fileText) {
    static const QRegularExpression header(
        QStringLiteral("^Mémo vocal du (.*?)(?:  \\(durée [^)\\n]*\\))?\\nSource : ([^\\n]*)\\n={20,}\\n\\n"), unicode);
    TranscriptText text;
    const auto match = header.match(fileText);
    if (!match.hasMatch()) return text;
    text.date = match.captured(1).trimmed();
    text.sourceName = headerValueText(match.captured(2));
    text.body = fileText.mid(match.capturedEnd()).trimmed();
    return text;
}

QStringList packPassages(const QString &body) {
    QStringList passages;
    QString current;
    qsizetype currentLength = 0;
    for (const QString &line : body.split(QLatin1Char('\n'))) {
        const qsizetype lineLength = graphemeCount(line);
        if (!current.isEmpty() && currentLength + lineLength + 1 > passageLimit) {
            passages.append(current);
            current.clear();
            currentLength = 0;
        }
        if (!current.isEmpty()) {
            current.append(QLatin1Char('\n'));
            ++currentLength;
        }
        current.append(line);
        currentLength += lineLength;
    }
    if (!current.isEmpty()) passages.append(current);
    if (passages.isEmpty()) passages.append(body);
    return passages;
}

QString joinNotes(const QStringList &notes) {
    const QString joined = notes.join(QStringLiteral("\n\n"));
    return graphemeCount(joined) > notesLimit ? leftGraphemes(joined, notesLimit) : joined;
}
