#include "organize/themes.h"

#include "core/source_files.h"
#include "organize/org_names.h"

#include <QSet>

namespace {
const QString uncertain = QStringLiteral("incertain");

QStringList sortedList(const QSet<QString> &themes) {
    QStringList list(themes.begin(), themes.end());
    naturalSort(list);
    return list;
}

OrgEntry entryFor(const OrgLedger &ledger, const QString &path) {
    auto it = ledger.find(path);
    if (it != ledger.end()) return it->second;
    OrgEntry entry;
    entry.transcriptPath = path;
    return entry;
}
} // namespace

QStringList knownThemes(const OrgLedger &ledger) {
    QSet<QString> themes;
    for (const auto &[path, entry] : ledger)
        if (entry.theme && !entry.theme->isEmpty()) themes.insert(*entry.theme);
    return sortedList(themes);
}

OrgEntry sortedEntry(OrgEntry entry, const Assignment *assigned) {
    if (assigned && !assigned->theme.isEmpty()) {
        entry.category = assigned->category;
        entry.theme = sanitizeFolder(assigned->theme);
    } else {
        entry.category = entry.rawCategory.value_or(uncertain);
        entry.theme = fallbackTheme(entry.rawThemes);
    }
    return entry;
}

QCoro::Task<> assignThemes(QStringList transcriptPaths, OrgLedger &ledger, OrgPassHooks hooks) {
    if (transcriptPaths.isEmpty()) co_return;
    const QStringList existing = knownThemes(ledger);
    QSet<QString> known(existing.begin(), existing.end());
    for (qsizetype start = 0; start < transcriptPaths.size(); start += assignBatchSize) {
        if (hooks.cancelled()) co_return;
        const QStringList batch = transcriptPaths.mid(start, assignBatchSize);
        QStringList lines;
        for (qsizetype i = 0; i < batch.size(); ++i) {
            auto it = ledger.find(batch[i]);
            lines.append(assignmentLine(int(i + 1), it == ledger.end() ? nullptr : &it->second));
        }
        hooks.current(QStringLiteral("lot de %1 mémos").arg(batch.size()));
        Assignments assignments;
        try {
            assignments = parseAssignments(co_await hooks.ask(assignPrompt(sortedList(known)), lines.join(QLatin1Char('\n'))));
        } catch (const std::exception &error) {
            hooks.note(QStringLiteral("Tri échoué sur un lot : ") + errorText(error));
        }
        // Entries are looked up again after the model call.
        for (qsizetype i = 0; i < batch.size(); ++i) {
            auto found = assignments.find(int(i + 1));
            OrgEntry entry = sortedEntry(entryFor(ledger, batch[i]), found == assignments.end() ? nullptr : &found->second);
            known.insert(*entry.theme);
            ledger[batch[i]] = std::move(entry);
            hooks.done();
        }
    }
}

namespace {
struct PendingThemes {
    std::map<QString, int> counts; // themes of memos not yet placed
    QStringList placed;            // themes of memos already in the archive
};

PendingThemes pendingThemes(const OrgLedger &ledger, const QString &category) {
    PendingThemes pending;
    QSet<QString> placed;
    for (const auto &[path, entry] : ledger) {
        if (entry.category != category || !entry.theme || entry.theme->isEmpty()) continue;
        if (entry.folder)
            placed.insert(*entry.theme);
        else
            ++pending.counts[*entry.theme];
    }
    pending.placed = sortedList(placed);
    return pending;
}

QCoro::Task<> consolidateCategory(QString category, OrgLedger &ledger, OrgPassHooks hooks) {
    const PendingThemes pending = pendingThemes(ledger, category);
    if (pending.counts.size() <= size_t(maxThemesPerCategory)) co_return;
    QSet<QString> names;
    for (const auto &[theme, count] : pending.counts) names.insert(theme);
    QString reply;
    try {
        reply = co_await hooks.ask(consolidationPrompt(pending.placed), consolidationList(sortedList(names), pending.counts));
    } catch (const std::exception &) {
        co_return; // the themes stay as assigned
    }
    const auto mapping = parseConsolidation(reply);
    if (!mapping) co_return;
    const auto targets = consolidationTargets(*mapping);
    if (!acceptConsolidation(qsizetype(pending.counts.size()), targets.size())) co_return;
    for (auto &[path, entry] : ledger) {
        if (entry.category != category || entry.folder || !entry.theme) continue;
        auto it = mapping->find(*entry.theme);
        if (it != mapping->end() && !it->second.trimmed().isEmpty()) entry.theme = sanitizeFolder(it->second);
    }
    hooks.note(QStringLiteral("Thèmes %1 consolidés : %2 -> %3.").arg(category).arg(pending.counts.size()).arg(targets.size()));
}
} // namespace

QCoro::Task<> consolidateThemes(OrgLedger &ledger, OrgPassHooks hooks) {
    // Memos with an uncertain category are never merged.
    static const QStringList categories = {QStringLiteral("perso"), QStringLiteral("pro")};
    for (const QString &category : categories) co_await consolidateCategory(category, ledger, hooks);
}
