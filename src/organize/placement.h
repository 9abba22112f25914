#pragma once
// Where a memo goes in the archive: category folder, theme folder, and the
// dated name of its own folder.

#include <QDateTime>
#include <QString>

#include <optional>

#include "organize/org_entry.h"
#include "queue/places.h" // the archive root

inline const QString personalFolder = QStringLiteral("Vie perso");
inline const QString professionalFolder = QStringLiteral("Vie pro");
inline const QString uncategorizedFolder = QStringLiteral("Transcription non catégorisée");
// Below this confidence a memo is not trusted to its theme.
inline constexpr double minimumPlacementConfidence = 0.35;

struct Placement {
    QString categoryFolder;
    QString themeFolder; // empty for uncategorized memos

    bool operator==(const Placement &) const = default;
};

Placement placementFor(const OrgEntry &entry);

// root/category[/theme]
QString placementDir(const QString &root, const Placement &placement);

// "2024-05-01 14h07"
QString archiveStamp(const QDateTime &recordedAt);

// stamp + " - " + the title (or the transcript's name) made folder-safe.
QString memoFolderName(const QDateTime &recordedAt, const OrgEntry &entry);

