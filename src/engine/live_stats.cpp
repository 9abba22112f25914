#include "engine/live_stats.h"

#include "engine/transcriber.h"

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

int Transcriber::processedCount() const { return doneCount() + skippedCount() + errorCount() + emptyCount(); }

double Transcriber::overallProgress() const {
    if (m_files.isEmpty()) return 0;
    double sum = processedCount();
    for (const auto &file : m_files)
        if (file.status == FileStatus::running) sum += file.progress;
    return sum / double(m_files.size());
}

std::optional<AudioFile> Transcriber::primaryRunningFile() const {
    for (const auto &file : m_files)
        if (file.status == FileStatus::running) return file;
    return std::nullopt;
}

bool Transcriber::isComplete() const {
    return !m_isRunning && !m_files.isEmpty() && pendingCount() == 0 && runningCount() == 0;
}

LiveStats Transcriber::liveStats(const QDateTime &now) const {
    if (!m_startedAt) return {};
    const double elapsed = double(m_startedAt->msecsTo(now)) / 1000.0;
    // Only files finished during this run count: a half-done queue must not inflate the rate.
    const double finished = std::max(0, processedCount() - m_sessionBaselineProcessed);
    const RateEstimate rate = estimateRate(finished, elapsed, pendingCount() + runningCount());
    return {elapsed, rate.ratePerMin, rate.eta};
}
