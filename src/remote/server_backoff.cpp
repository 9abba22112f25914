#include "remote/server_backoff.h"

#include <algorithm>

int ServerBackoff::fail(const QDateTime &now) {
    int seconds = firstSeconds;
    for (int i = 0; i < m_faults && seconds < longestSeconds; ++i) seconds *= 2;
    seconds = std::min(seconds, longestSeconds);
    ++m_faults;
    m_asideUntil = now.addSecs(seconds);
    return seconds;
}

bool ServerBackoff::succeed() {
    m_asideUntil.reset();
    return std::exchange(m_faults, 0) > 0;
}
