#include "organize/placement.h"

#include "organize/org_names.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>

Placement placementFor(const OrgEntry &entry) {
    const bool trusted = entry.category && *entry.category != QLatin1String("incertain") && entry.theme &&
                         !entry.theme->isEmpty() && entry.confidence >= minimumPlacementConfidence;
    if (!trusted) return {uncategorizedFolder, {}};
    const QString category = *entry.category == QLatin1String("pro") ? professionalFolder : personalFolder;
    return {category, sanitizeFolder(entry.theme.value_or(QStringLiteral("Divers")))};
}

QString placementDir(const QString &root, const Placement &placement) {
    QString dir = root + QLatin1Char('/') + placement.categoryFolder;
    if (!placement.themeFolder.isEmpty()) dir += QLatin1Char('/') + placement.themeFolder;
    return dir;
}

QString archiveStamp(const QDateTime &recordedAt) {
    return QLocale(QLocale::French, QLocale::France).toString(recordedAt.toLocalTime(), QStringLiteral("yyyy-MM-dd HH'h'mm"));
}

QString memoFolderName(const QDateTime &recordedAt, const OrgEntry &entry) {
    const QString title = entry.title ? *entry.title : QFileInfo(entry.transcriptPath).completeBaseName();
    return archiveStamp(recordedAt) + QStringLiteral(" - ") + sanitizeFolder(title);
}

