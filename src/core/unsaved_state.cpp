#include "core/unsaved_state.h"

std::optional<QString> UnsavedState::record(const QList<Outcome> &outcomes) {
    const bool wasFailing = any();
    std::optional<WriteError> firstNew;
    for (const Outcome &outcome : outcomes) {
        if (!outcome.error) {
            m_failing.remove(outcome.file);
            continue;
        }
        // Another file meeting the full disk already reported is no news:
        // saves that leave unchanged files alone reach each file in turn.
        const bool news = !m_failing.contains(outcome.file) && !(outcome.error->diskFull && m_diskFullReported);
        if (news && !firstNew) firstNew = outcome.error;
        m_failing.insert(outcome.file);
    }
    if (!any()) m_diskFullReported = false;
    if (firstNew) {
        m_diskFullReported = m_diskFullReported || firstNew->diskFull;
        QString reason = firstNew->reason;
        if (!reason.endsWith(QLatin1Char('.'))) reason += QLatin1Char('.');
        return QStringLiteral("État non enregistré : %1 Nouvel essai à la prochaine modification.").arg(reason);
    }
    if (wasFailing && !any()) return QStringLiteral("État de nouveau enregistré.");
    return std::nullopt;
}
