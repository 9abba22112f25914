#include "pipeline/durations_ahead.h"

void DurationsAhead::want(const QStringList &paths) {
    for (const QString &path : paths)
        if (!m_waiting.contains(path) && !m_reading.contains(path)) m_waiting.append(path);
}

std::optional<QString> DurationsAhead::next(int atOnce) {
    if (m_waiting.isEmpty() || int(m_reading.size()) >= atOnce) return std::nullopt;
    const QString path = m_waiting.takeFirst();
    m_reading.insert(path);
    return path;
}

void DurationsAhead::finished(const QString &path, const std::optional<FileIdentity> &identity,
                              std::optional<double> seconds) {
    m_reading.remove(path);
    m_readOrder.removeOne(path);
    m_read.remove(path);
    if (!seconds || !identity) return;
    m_read.insert(path, Reading{*identity, *seconds});
    m_readOrder.append(path);
    while (m_readOrder.size() > keptAtMost) m_read.remove(m_readOrder.takeFirst());
}

std::optional<double> DurationsAhead::take(const QString &path, const FileIdentity &identity) {
    m_waiting.removeOne(path); // its own turn reads it now
    const auto found = m_read.constFind(path);
    if (found == m_read.constEnd()) return std::nullopt;
    const Reading reading = *found;
    m_read.erase(found);
    m_readOrder.removeOne(path);
    if (reading.identity != identity) return std::nullopt;
    return reading.seconds;
}
