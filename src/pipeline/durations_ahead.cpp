#include "pipeline/durations_ahead.h"

void DurationsAhead::want(const QStringList &paths, const Look &look) {
    for (const QString &path : paths) {
        if (m_waiting.contains(path) || m_reading.contains(path)) continue;
        if (held() >= keptAtMost) dropStale(look);
        if (held() >= keptAtMost) return;
        m_waiting.append(path);
    }
}

void DurationsAhead::dropStale(const Look &look) {
    // Removed, or changed again since it was read: that reading can never be used.
    m_read.removeIf([&](decltype(m_read)::iterator item) { return look(item.key()) != item->identity; });
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
    m_read.remove(path);
    if (seconds && identity) m_read.insert(path, Reading{*identity, *seconds});
}

std::optional<double> DurationsAhead::take(const QString &path, const FileIdentity &identity) {
    m_waiting.removeOne(path); // its own turn reads it now
    const auto found = m_read.constFind(path);
    if (found == m_read.constEnd()) return std::nullopt;
    const Reading reading = *found;
    m_read.erase(found);
    if (reading.identity != identity) return std::nullopt;
    return reading.seconds;
}
