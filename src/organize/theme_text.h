#pragma once
// Prompts and reply parsing of theme assignment and consolidation.

#include <QSet>
#include <QString>
#include <QStringList>

#include <map>
#include <optional>

#include "organize/org_entry.h"

inline constexpr int assignBatchSize = 50;
inline constexpr qsizetype maxRequestTitleLength = 70;
// Consolidation starts above this many distinct pending themes in a category.
inline constexpr int maxThemesPerCategory = 12;
inline constexpr int maxConsolidatedThemes = 14;

struct Assignment {
    QString category;
    QString theme;
    bool operator==(const Assignment &) const = default;
};

// Line number within the batch (from 1) to what the model decided.
using Assignments = std::map<int, Assignment>;

// `existingThemes` in the order they should be shown.
QString assignPrompt(const QStringList &existingThemes);

// "n | category | keywords | title" for one memo of a batch; `entry` may be null.
QString assignmentLine(int number, const OrgEntry *entry);

// Empty when the reply holds no usable attributions.
Assignments parseAssignments(const QString &reply);

// The theme of a memo the model did not sort: its first keyword, capitalised,
// or "Divers".
QString fallbackTheme(const QStringList &rawThemes);

// `canonicalThemes` are the themes already used by placed memos.
QString consolidationPrompt(const QStringList &canonicalThemes);

// "Theme (count)" items, most frequent first; ties keep `themes`' order.
QString consolidationList(const QStringList &themes, const std::map<QString, int> &counts);

// Theme to canonical theme; nothing when the reply is not the expected object.
std::optional<std::map<QString, QString>> parseConsolidation(const QString &reply);

// The distinct folder-safe themes the mapping leads to (empty values ignored).
QSet<QString> consolidationTargets(const std::map<QString, QString> &mapping);

// A merge is only worth applying when it leaves fewer themes, and not too many.
bool acceptConsolidation(qsizetype themeCount, qsizetype targetCount);
