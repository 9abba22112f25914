#include "core/records.h"

#include <QDateTime>
#include <QFileInfo>

#include <cmath>

QString formatClock(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0) return QStringLiteral("-");
    const long long n = std::llround(seconds); // halves away from zero
    if (n < 3600) return QString::asprintf("%lld:%02lld", n / 60, n % 60);
    return QString::asprintf("%lld:%02lld:%02lld", n / 3600, (n % 3600) / 60, n % 60);
}

QString symbol(FileStatus status) {
    switch (status) {
    case FileStatus::pending: return QStringLiteral("clock");
    case FileStatus::running: return QStringLiteral("waveform");
    case FileStatus::done: return QStringLiteral("checkmark.circle.fill");
    case FileStatus::skipped: return QStringLiteral("arrow.uturn.forward.circle");
    case FileStatus::error: return QStringLiteral("exclamationmark.triangle.fill");
    case FileStatus::empty: return QStringLiteral("waveform.slash");
    }
    return {};
}

AudioFile::AudioFile(const QUrl &url) : id(QUuid::createUuid()), url(url) {}

QString AudioFile::fileName() const { return url.fileName(); }

QString AudioFile::durationDisplay() const {
    return durationSeconds ? formatClock(*durationSeconds) : QStringLiteral("-");
}

double secondsSince1970(const QDateTime &time) { return double(time.toMSecsSinceEpoch()) / 1000.0; }

double nowSince1970() { return secondsSince1970(QDateTime::currentDateTimeUtc()); }
