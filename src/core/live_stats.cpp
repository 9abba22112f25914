#include "core/live_stats.h"

#include <algorithm>

#include <cmath>

RateEstimate estimateRate(double finished, double elapsed, double remaining) {
    RateEstimate estimate;
    const double perSecond = finished / std::max(elapsed, 0.001);
    if (perSecond > 0) {
        estimate.eta = remaining / perSecond;
        estimate.ratePerMin = perSecond * 60;
    }
    return estimate;
}

QString formatDurationHuman(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0) return QStringLiteral("-");
    const long long n = std::llround(seconds);
    if (n < 60) return QStringLiteral("%1 s").arg(n);
    if (n < 3600) return QStringLiteral("%1 min %2 s").arg(n / 60).arg(n % 60);
    return QStringLiteral("%1 h %2 min").arg(n / 3600).arg((n % 3600) / 60);
}
