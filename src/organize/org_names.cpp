#include "organize/org_names.h"

#include "core/text.h"

#include "organize/text_units.h"

#include <QRegularExpression>
#include <QStringList>

namespace {
const QString untitled = QStringLiteral("Sans titre");
constexpr qsizetype maxNameCharacters = 70;
// Leaves room for the date stamp, " - " and a " (NN)" suffix under the
// usual 255-byte limit of a file name.
constexpr qsizetype maxNameBytes = 200;

QString withoutControlCharacters(const QString &value) {
    QString out;
    out.reserve(value.size());
    for (QChar c : value)
        if (c.category() != QChar::Other_Control || c.isSpace()) out.append(c);
    return out;
}

QString collapseWhitespace(const QString &value) {
    static const QRegularExpression whitespace(QStringLiteral("\\s+"), QRegularExpression::UseUnicodePropertiesOption);
    return value.split(whitespace, Qt::SkipEmptyParts).join(QLatin1Char(' '));
}

} // namespace

QString foldDiacritics(const QString &value) {
    const QString decomposed = value.toLower().normalized(QString::NormalizationForm_KD);
    QString out;
    out.reserve(decomposed.size());
    for (QChar c : decomposed)
        if (c.category() != QChar::Mark_NonSpacing) out.append(c);
    return out;
}

QString normalizeType(const QString &value) {
    static const char *const known[] = {"idee", "projet", "journal", "taches", "reflexion", "reunion", "cours"};
    const QString folded = foldDiacritics(value);
    for (const char *type : known)
        if (folded.contains(QLatin1String(type))) return QLatin1String(type);
    return QStringLiteral("autre");
}

QString normalizeCategory(const QString &value) {
    const QString lower = value.trimmed().toLower();
    if (lower.startsWith(QLatin1String("perso")) || lower.contains(QLatin1String("personne")))
        return QStringLiteral("perso");
    if (lower.startsWith(QLatin1String("pro")) || lower.contains(QLatin1String("travail")) ||
        lower.contains(QLatin1String("business")))
        return QStringLiteral("pro");
    return QStringLiteral("incertain");
}

QString sanitizeTitle(const QString &value) {
    QString title = withoutControlCharacters(value);
    title.remove(QLatin1Char('"')).remove(QLatin1Char('*'));
    title = trimCharacters(title.trimmed(), QStringLiteral(".:;,-"));
    title = leftGraphemes(collapseWhitespace(title), maxNameCharacters);
    return title.isEmpty() ? untitled : title;
}

QString sanitizeFolder(const QString &value) {
    QString name = withoutControlCharacters(value);
    for (QChar reserved : QStringLiteral("/:\\*?\"<>|")) name.replace(reserved, QLatin1Char(' '));
    name = trimCharacters(collapseWhitespace(name), QStringLiteral(". "));
    name = leftUtf8Bytes(leftGraphemes(name, maxNameCharacters), maxNameBytes);
    return name.isEmpty() ? untitled : name;
}
