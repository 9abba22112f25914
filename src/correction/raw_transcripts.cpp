#include "correction/raw_transcripts.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QStringDecoder>

#include <algorithm>

#include "core/atomic_file.h"
#include "core/source_files.h"

namespace {

constexpr auto unicode = QRegularExpression::UseUnicodePropertiesOption;

const QString rawMarkerPattern = QStringLiteral("(?m)^correction:\\s*aucune\\s*$");

const QRegularExpression &rawMarker() {
    static const QRegularExpression re(rawMarkerPattern, unicode);
    return re;
}

const QRegularExpression &headingLine() {
    static const QRegularExpression re(QStringLiteral("(?m)^#[^\\n]*\\n"), unicode);
    return re;
}

const QRegularExpression &markerLine() {
    static const QRegularExpression re(QStringLiteral("(?m)^correction:.*$"), unicode);
    return re;
}

const QRegularExpression &plainHeaderEnd() {
    static const QRegularExpression re(QStringLiteral("={20,}\\n\\n"));
    return re;
}

const QString rawSectionTitle = QStringLiteral("## Transcription brute");


} // namespace

bool isRawTranscript(const QString &markdown) { return rawMarker().match(markdown).hasMatch(); }

QStringList rawTranscripts(const QString &root, const std::optional<QString> &archiveRoot) {
    struct Candidate {
        QString path;
        qsizetype length;
    };
    std::vector<Candidate> found;
    // Compiled for this walk: it runs on a worker thread, apart from the shared pattern.
    const QRegularExpression marker(rawMarkerPattern, unicode);
    for (const QString &path : markdownFilesUnder(root, archiveRoot)) {
        const auto text = readUtf8File(path);
        if (!text || !marker.match(*text).hasMatch()) continue;
        found.push_back({path, text->size()});
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const Candidate &a, const Candidate &b) { return a.length < b.length; });
    QStringList paths;
    for (const Candidate &c : found) paths.append(c.path);
    return paths;
}

std::optional<QString> correctionBody(const QString &markdown) {
    const QRegularExpressionMatch heading = headingLine().match(markdown);
    if (!heading.hasMatch()) return std::nullopt;
    QString body = markdown.mid(heading.capturedEnd());
    const qsizetype rawSection = body.indexOf(rawSectionTitle);
    if (rawSection >= 0) body.truncate(rawSection);
    body = body.trimmed();
    if (body.isEmpty()) return std::nullopt;
    return body;
}

QString passCorrectionLabel(const ParlivoSettings &settings) {
    if (settings.correctionBackend == CorrectionBackend::ollama)
        return QStringLiteral("Ollama (") + settings.ollamaModel + QLatin1Char(')');
    return QStringLiteral("Anthropic (") + settings.anthropicModel + QLatin1Char(')');
}

QString correctedMarkdown(const QString &markdown, const QString &label, const QString &raw,
                          const QString &corrected) {
    // Replaced piece by piece rather than through QString::replace, which
    // would read "\1" in a model name as a back-reference.
    QString marked;
    qsizetype from = 0;
    auto markers = markerLine().globalMatch(markdown);
    while (markers.hasNext()) {
        const auto m = markers.next();
        marked += QStringView(markdown).mid(from, m.capturedStart() - from);
        marked += QStringLiteral("correction: ") + label;
        from = m.capturedEnd();
    }
    marked += QStringView(markdown).mid(from);

    const QRegularExpressionMatch heading = headingLine().match(marked);
    if (!heading.hasMatch()) return marked;
    return marked.left(heading.capturedEnd()) + QLatin1Char('\n') + corrected + QStringLiteral("\n\n") +
           rawSectionTitle + QStringLiteral("\n\n") + raw + QLatin1Char('\n');
}

QString correctedPlainText(const QString &plain, const QString &corrected) {
    const QRegularExpressionMatch rule = plainHeaderEnd().match(plain);
    const QString header = rule.hasMatch() ? plain.left(rule.capturedEnd()) : QString();
    return header + corrected + QLatin1Char('\n');
}
