#include "core/unsaved_state.h"

std::optional<QString> UnsavedState::record(const QList<Outcome> &outcomes) {
    const bool wasFailing = any();
    std::optional<QString> firstNewReason;
    for (const Outcome &outcome : outcomes) {
        if (!outcome.error) {
            m_failing.remove(outcome.file);
            continue;
        }
        if (!m_failing.contains(outcome.file) && !firstNewReason) firstNewReason = outcome.error->reason;
        m_failing.insert(outcome.file);
    }
    if (firstNewReason) {
        QString reason = *firstNewReason;
        if (!reason.endsWith(QLatin1Char('.'))) reason += QLatin1Char('.');
        return QStringLiteral("État non enregistré : %1 Nouvel essai à la prochaine modification.").arg(reason);
    }
    if (wasFailing && !any()) return QStringLiteral("État de nouveau enregistré.");
    return std::nullopt;
}
