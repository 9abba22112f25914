#include "organize/structured.h"

#include "organize/org_names.h"
#include "organize/transcript_reading.h"

#include <QRegularExpression>

#include "core/text.h"

#include <algorithm>

namespace {

} // namespace

double parseConfidence(const QString &value) {
    QString decimal = value;
    decimal.replace(QLatin1Char(','), QLatin1Char('.'));
    QString number;
    for (QChar c : std::as_const(decimal))
        if ((c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('.')) number.append(c);
    bool ok = false;
    const double parsed = number.toDouble(&ok);
    if (!ok) return 0.3;
    return std::clamp(parsed, 0.0, 1.0);
}

QStringList parseKeywords(const QString &value) {
    QStringList keywords;
    for (const QString &piece : value.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString keyword = trimSpacesAndTabs(piece);
        if (keyword.isEmpty()) continue;
        keywords.append(keyword);
        if (keywords.size() == 3) break;
    }
    return keywords;
}

Structured parseStructured(const QString &reply, const QString &fallbackTitle) {
    Structured s;
    QString title = fallbackTitle;
    s.body = reply.trimmed();
    static const QRegularExpression document(QStringLiteral("(?s)---\\s*\\n(.*?)\\n---\\s*\\n?(.*)$"),
                                             QRegularExpression::UseUnicodePropertiesOption);
    const auto match = document.match(reply);
    if (match.hasMatch()) {
        const QString header = match.captured(1);
        s.body = match.captured(2).trimmed();
        if (auto v = frontMatterField(header, QStringLiteral("titre")); v && !v->isEmpty()) title = *v;
        if (auto v = frontMatterField(header, QStringLiteral("type"))) s.type = normalizeType(*v);
        if (auto v = frontMatterField(header, QStringLiteral("categorie"))) s.category = normalizeCategory(*v);
        if (auto v = frontMatterField(header, QStringLiteral("themes"))) s.themes = parseKeywords(*v);
        if (auto v = frontMatterField(header, QStringLiteral("confiance"))) s.confidence = parseConfidence(*v);
        if (auto v = frontMatterField(header, QStringLiteral("resume"))) s.summary = *v;
    }
    s.title = sanitizeTitle(title);
    return s;
}

QString structureFileContent(const Structured &d, const QString &date, const QString &sourceName) {
    return QStringLiteral("---\ntitre: ") + d.title + QStringLiteral("\ndate: ") + date +
           QStringLiteral("\nsource: ") + sourceName + QStringLiteral("\ntype: ") + d.type +
           QStringLiteral("\ncategorie: ") + d.category + QStringLiteral("\nthemes: ") +
           d.themes.join(QStringLiteral(", ")) + QStringLiteral("\nconfiance: ") +
           QString::number(d.confidence, 'f', 2) + QStringLiteral("\nresume: ") + d.summary +
           QStringLiteral("\n---\n\n# ") + d.title + QStringLiteral("\n\n") + d.body + QStringLiteral("\n");
}
