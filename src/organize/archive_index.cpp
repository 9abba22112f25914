#include "organize/archive_index.h"

#include "core/atomic_file.h"
#include "core/source_files.h"
#include "organize/placement.h"

#include <QDir>
#include <QUrl>

#include <algorithm>
#include <map>
#include <vector>

namespace {
// Theme key (empty for uncategorized memos) to the entries placed there.
using ThemeGroups = std::map<QString, std::vector<const OrgEntry *>>;

QString relativeToRoot(const QString &folder, const QString &root) {
    const QString prefix = QDir::cleanPath(root) + QLatin1Char('/');
    return folder.startsWith(prefix) ? folder.mid(prefix.size()) : folder;
}

QString entryLine(const OrgEntry &entry, const QString &root) {
    const QString rel = relativeToRoot(*entry.folder, root);
    QString link = QString::fromUtf8(QUrl::toPercentEncoding(rel, "/"));
    if (link.isEmpty()) link = rel;
    const QString label = entry.title ? *entry.title : rel;
    return QStringLiteral("- [") + label + QStringLiteral("](") + link + QStringLiteral("/structure.md)\n");
}

QString sectionText(const QString &category, const ThemeGroups &groups, const QString &root) {
    QString text = QStringLiteral("\n## ") + category + QLatin1Char('\n');
    QStringList keys;
    for (const auto &[key, entries] : groups) keys.append(key);
    naturalSort(keys);
    for (const QString &key : keys) {
        if (!key.isEmpty()) text += QStringLiteral("\n### ") + key + QLatin1Char('\n');
        auto entries = groups.at(key);
        std::sort(entries.begin(), entries.end(), [](const OrgEntry *a, const OrgEntry *b) { return *a->folder < *b->folder; });
        for (const OrgEntry *entry : entries) text += entryLine(*entry, root);
    }
    return text;
}
} // namespace

QString indexContent(const QString &root, const OrgLedger &ledger) {
    std::map<QString, ThemeGroups> byCategory;
    int placed = 0;
    for (const auto &[path, entry] : ledger) {
        if (!entry.folder) continue;
        ++placed;
        const Placement placement = placementFor(entry);
        byCategory[placement.categoryFolder][placement.themeFolder].push_back(&entry);
    }
    QString text = QStringLiteral("# Archive organisée\n\nGénérée par Parlivo, en local. %1 vocaux rangés.\n").arg(placed);
    for (const QString &category : {personalFolder, professionalFolder, uncategorizedFolder}) {
        auto it = byCategory.find(category);
        if (it != byCategory.end()) text += sectionText(category, it->second, root);
    }
    return text;
}

std::optional<WriteError> writeIndex(const QString &root, const OrgLedger &ledger) {
    const QString index = root + QStringLiteral("/INDEX.md");
    if (auto error = makeFolderFor(index)) return error;
    return writeFileAtomically(index, indexContent(root, ledger).toUtf8());
}
