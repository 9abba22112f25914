#include "app/gui/display_texts.h"

#include <QLocale>
#include <QStringList>

#include <algorithm>
#include <cmath>

#include "core/live_stats.h"

namespace {

// French writes a narrow no-break space before "%" and units; a plain
// no-break space renders everywhere.
const QChar nbsp(0x00A0);
} // namespace

const QList<QPair<QString, QString>> &languageChoices() {
    static const QList<QPair<QString, QString>> choices = {
        {QStringLiteral("auto"), QStringLiteral("Détection automatique")},
        {QStringLiteral("fr"), QStringLiteral("Français")},
        {QStringLiteral("en"), QStringLiteral("Anglais")},
    };
    return choices;
}

QString languageDisplay(const QString &code) {
    for (const auto &[value, name] : languageChoices())
        if (value == code) return name;
    return code;
}

QColor statusColor(FileStatus status, const QColor &muted) {
    switch (status) {
    case FileStatus::pending: return muted;
    case FileStatus::running: return QColor(0x1f, 0x6f, 0xd6);
    case FileStatus::done: return QColor(0x2a, 0x9a, 0x3f);
    case FileStatus::skipped: return QColor(0x8a, 0x8a, 0x90);
    case FileStatus::error: return QColor(0xd3, 0x2f, 0x2f);
    case FileStatus::empty: return QColor(0xe0, 0x7b, 0x00);
    }
    return muted;
}

QString percentText(double fraction) {
    if (!std::isfinite(fraction)) fraction = 0;
    const int percent = int(std::lround(std::clamp(fraction, 0.0, 1.0) * 100));
    return QString::number(percent) + nbsp + QLatin1Char('%');
}

QString countersText(const std::array<int, fileStatusCount> &counts) {
    int total = 0;
    for (int c : counts) total += c;
    if (total == 0) return QStringLiteral("Aucun fichier");
    // Plural forms of each status as a count reads in French.
    static const std::array<std::pair<const char *, const char *>, fileStatusCount> words = {{
        {"en attente", "en attente"},
        {"en cours", "en cours"},
        {"terminé", "terminés"},
        {"sauté", "sautés"},
        {"en erreur", "en erreur"},
        {"vide", "vides"},
    }};
    QStringList parts;
    for (size_t i = 0; i < counts.size(); ++i) {
        const int n = counts[i];
        if (n == 0) continue;
        parts << QStringLiteral("%1 %2").arg(n).arg(QString::fromUtf8(n > 1 ? words[i].second : words[i].first));
    }
    return QStringLiteral("%1 fichier%2 : ").arg(total).arg(total > 1 ? QStringLiteral("s") : QString()) +
           parts.join(QStringLiteral(" · "));
}

QString liveFiguresText(double elapsed, double ratePerMin, std::optional<double> eta) {
    QStringList parts{QStringLiteral("Écoulé : ") + formatDurationHuman(elapsed)};
    if (ratePerMin > 0)
        parts << frenchDecimal(ratePerMin, 1) + QStringLiteral(" fichiers/min");
    if (eta) parts << QStringLiteral("Reste : ") + formatDurationHuman(*eta);
    return parts.join(QStringLiteral(" · "));
}

QString runningFilesText(const QString &primary, int runningCount) {
    const int others = runningCount - 1;
    if (others <= 0) return primary;
    return QStringLiteral("%1 (+%2 %3)").arg(primary).arg(others).arg(others > 1 ? "autres" : "autre");
}

QString frenchDecimal(double value, int decimals) {
    static const QLocale french(QLocale::French, QLocale::France);
    return french.toString(value, 'f', decimals);
}

QString sizeText(qint64 bytes) {
    const double value = double(std::max<qint64>(bytes, 0));
    if (value >= 1e9) return frenchDecimal(value / 1e9, 1) + nbsp + QStringLiteral("Go");
    if (value >= 1e6) return frenchDecimal(value / 1e6, 0) + nbsp + QStringLiteral("Mo");
    return frenchDecimal(std::ceil(value / 1e3), 0) + nbsp + QStringLiteral("Ko");
}
