#include "pipeline/whisper_output.h"

#include <nlohmann/json.hpp>

#include "core/atomic_file.h"

std::optional<int> parseWhisperProgress(const QString &line) {
    if (!line.contains(QLatin1String("progress"))) return std::nullopt;
    static const QRegularExpression pattern(QStringLiteral("progress\\s*=\\s*([0-9]+)%"));
    const auto match = pattern.match(line);
    if (!match.hasMatch()) return std::nullopt;
    QString digits;
    for (QChar c : match.captured(0))
        if (c.isDigit()) digits.append(c);
    bool ok = false;
    const int value = digits.toInt(&ok); // fails on overflow
    if (!ok) return std::nullopt;
    return value;
}

namespace {
double seconds(const nlohmann::json &offsets, const char *key) {
    const auto it = offsets.find(key);
    if (it == offsets.end() || !it->is_number()) return 0;
    return it->get<double>() / 1000.0;
}

// Control characters (a NUL byte from a broken model) have no place in a
// transcript; tabs and line breaks stay.
QString withoutControlCharacters(QString text) {
    text.removeIf([](QChar c) {
        const char16_t u = c.unicode();
        return (u < 0x20 && u != u'\t' && u != u'\n' && u != u'\r') || u == 0x7f;
    });
    return text;
}

// Nothing when the element has no text: a result of the wrong shape is a
// failure, not an empty recording.
std::optional<Segment> segmentFrom(const nlohmann::json &element) {
    if (!element.is_object()) return std::nullopt;
    const auto text = element.find("text");
    if (text == element.end() || !text->is_string()) return std::nullopt;
    Segment segment;
    segment.text = withoutControlCharacters(QString::fromStdString(text->get<std::string>()));
    const auto offsets = element.find("offsets");
    if (offsets != element.end() && offsets->is_object()) {
        segment.start = seconds(*offsets, "from");
        segment.end = seconds(*offsets, "to");
    }
    return segment;
}
} // namespace

std::optional<QList<Segment>> parseWhisperJSON(const QString &path) {
    const auto bytes = readWholeFile(path);
    if (!bytes) return std::nullopt;
    // The recogniser can cut a multi-byte character between two tokens; a stray
    // invalid byte becomes U+FFFD instead of costing the whole transcript.
    const std::string text = QString::fromUtf8(*bytes).toStdString();
    const auto document = nlohmann::json::parse(text, nullptr, false);
    if (document.is_discarded() || !document.is_object()) return std::nullopt;
    const auto transcription = document.find("transcription");
    if (transcription == document.end() || !transcription->is_array()) return std::nullopt;

    QList<Segment> segments;
    for (const auto &element : *transcription) {
        auto segment = segmentFrom(element);
        if (!segment) return std::nullopt;
        segments.append(std::move(*segment));
    }
    return segments;
}


const QList<QRegularExpression> &whisperHallucinationPatterns() {
    static const QList<QRegularExpression> patterns = [] {
        const QString sources[] = {
            QStringLiteral("sous-?titres? (réalisés?|par la communauté|:)"),
            QStringLiteral("amara\\.org"),
            QStringLiteral("merci d'avoir regardé"),
            QStringLiteral("abonnez-vous"),
            QStringLiteral("n'hésitez pas à (vous abonner|liker|partager)"),
            QStringLiteral("à bientôt pour une nouvelle vidéo"),
            QStringLiteral("sous-titrage\\s*:?\\s*(st'?\\s*501|sette)"),
            QStringLiteral("^\\s*\\[?\\s*(musique|music|applaudissements|rires|silence)\\s*\\]?\\s*$"),
        };
        QList<QRegularExpression> compiled;
        for (const auto &source : sources) {
            QRegularExpression re(source, QRegularExpression::CaseInsensitiveOption |
                                              QRegularExpression::UseUnicodePropertiesOption);
            // A broken pattern must not disable the others.
            if (re.isValid()) compiled.append(re);
        }
        return compiled;
    }();
    return patterns;
}

namespace {
bool isHallucination(const QString &line) {
    for (const auto &pattern : whisperHallucinationPatterns())
        if (pattern.match(line).hasMatch()) return true;
    return false;
}

// Two lines with the same key say the same thing: case and end punctuation aside.
QString repeatKey(const QString &line) {
    static const QString endCharacters = QStringLiteral(" .!?,;:…-");
    const QString lower = line.toLower();
    qsizetype first = 0, last = lower.size();
    while (first < last && endCharacters.contains(lower[first])) ++first;
    while (last > first && endCharacters.contains(lower[last - 1])) --last;
    return lower.mid(first, last - first);
}
} // namespace

QList<Segment> cleanSegments(const QList<Segment> &segments) {
    QList<Segment> kept;
    QString previousKey;
    int run = 0;
    for (const auto &segment : segments) {
        const QString line = segment.text.trimmed();
        // Dropped lines leave the run untouched, so noise between repeats does not reset it.
        if (line.isEmpty() || isHallucination(line)) continue;
        const QString key = repeatKey(line);
        if (key == previousKey) {
            if (++run > 2) continue;
        } else {
            previousKey = key;
            run = 1;
        }
        kept.append({segment.start, segment.end, line});
    }
    return kept;
}

namespace {
QStringList textsOf(const QList<Segment> &segments) {
    QStringList texts;
    texts.reserve(segments.size());
    for (const auto &segment : segments) texts.append(segment.text);
    return texts;
}
} // namespace

QStringList cleanTranscriptLines(const QStringList &lines) {
    QList<Segment> segments;
    segments.reserve(lines.size());
    for (const auto &line : lines) segments.append({0, 0, line});
    return textsOf(cleanSegments(segments));
}

QString plainText(const QList<Segment> &segments) { return textsOf(cleanSegments(segments)).join(QLatin1Char('\n')); }

QString lastLines(const QString &text, int count) {
    static const QRegularExpression breaks(QStringLiteral("[\\n\\r]"));
    const QStringList pieces = text.split(breaks, Qt::SkipEmptyParts);
    if (count <= 0) return {};
    return pieces.mid(qMax<qsizetype>(0, pieces.size() - count)).join(QLatin1Char('\n'));
}
