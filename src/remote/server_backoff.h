#pragma once
// How long a recognition server that failed is left aside: 30 s after the
// first fault in a row, then twice as long after each new one, up to 10 min.
// A reply that works clears the count.

#include <QDateTime>

#include <optional>

class ServerBackoff {
public:
    static constexpr int firstSeconds = 30;
    static constexpr int longestSeconds = 600;

    // Sets the server aside from `now`; the seconds it stays aside.
    int fail(const QDateTime &now);
    // True when the server had been failing (it is back).
    bool succeed();
    bool isAside(const QDateTime &now) const { return m_asideUntil && now < *m_asideUntil; }
    int faultsInARow() const { return m_faults; }

private:
    int m_faults = 0;
    std::optional<QDateTime> m_asideUntil;
};
