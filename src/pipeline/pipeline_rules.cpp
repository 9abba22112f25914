#include "pipeline/pipeline_rules.h"

#include "core/source_files.h"

#include <QDateTime>
#include <QFileInfo>
#include <QRegularExpression>

double TimeLimits::recognition(std::optional<double> duration) const {
    return duration ? std::max(recognitionFactor * *duration, recognitionFloor) : recognitionUnknown;
}

QStringList ffmpegArguments(const QString &source, const QString &wav) {
    return {"-y", "-nostdin", "-vn", "-i", source, "-ac", "1", "-ar", "16000", "-c:a", "pcm_s16le", wav};
}

QStringList afconvertArguments(const QString &source, const QString &wav) {
    return {"-f", "WAVE", "-d", "LEI16@16000", "-c", "1", source, wav};
}

QStringList whisperArguments(const QString &model, const QString &language, const QString &outputPrefix,
                             int threads, const QString &wav) {
    return {"-m", model, "-l", language, "-oj", "-of", outputPrefix, "-pp", "-mc", "0", "-sns",
            "-t", QString::number(threads), "-p", "1", wav};
}

QStringList ffprobeArguments(const QString &source) {
    return {"-v", "quiet", "-of", "default=nw=1:nk=1", "-show_entries", "format=duration", source};
}

static std::optional<double> decimal(const QString &text) {
    bool ok = false;
    const double value = text.toDouble(&ok); // C locale: the point is the separator
    if (!ok) return std::nullopt;
    return value;
}

std::optional<double> parseFfprobeDuration(const QString &output) { return decimal(output.trimmed()); }

std::optional<double> parseAfinfoDuration(const QString &output) {
    static const QRegularExpression pattern(QStringLiteral("estimated duration:\\s*[0-9.]+"));
    static const QRegularExpression notNumber(QStringLiteral("[^0-9.]"));
    const auto match = pattern.match(output);
    if (!match.hasMatch()) return std::nullopt;
    return decimal(match.captured(0).remove(notNumber));
}

static bool isFresh(const QString &output, const QDateTime &sourceTime) {
    const QFileInfo info(output);
    return info.exists() && info.lastModified().isValid() && info.lastModified() >= sourceTime;
}

bool shouldSkip(const QString &source, const QString &txt, const QString &md, OutputFormat format) {
    const auto identity = fileIdentity(source); // reaches names that are not UTF-8 too
    // Unreadable: the distant past.
    const QDateTime sourceTime = QDateTime::fromMSecsSinceEpoch(identity ? qint64(identity->mtime * 1000) : 0);
    switch (format) {
    case OutputFormat::txt: return isFresh(txt, sourceTime);
    case OutputFormat::md: return isFresh(md, sourceTime);
    case OutputFormat::both: return isFresh(txt, sourceTime) && isFresh(md, sourceTime);
    }
    return false;
}

QString emptyDurationText(std::optional<double> duration) {
    if (duration && *duration > 0) return QString::asprintf("%.2f s", *duration);
    return QStringLiteral("0 s");
}

QString emptyMessage(const QString &durationText) {
    return QStringLiteral("Trop court pour être un vocal (") + durationText +
           QStringLiteral("). Le fichier est vide ou l'enregistrement a été interrompu : rien à transcrire.");
}

QString firstLine(const QString &message) {
    for (const QString &line : message.split(QLatin1Char('\n')))
        if (!line.trimmed().isEmpty()) return line;
    return message;
}
