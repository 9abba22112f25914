#include "pipeline/transcript_names.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "pipeline/header_values.h"
#include "subtitles/subtitle_files.h"

namespace {
// Enough for a header or a front matter with the longest paths.
constexpr qint64 headBytes = 64 * 1024;

const QString txtHeaderStart = QStringLiteral("Mémo vocal du ");
const QString txtRule = QString(56, QLatin1Char('='));
const QString frontMatterFence = QStringLiteral("---");

bool txtHeaderNames(const QStringList &lines, const QString &sourceName) {
    return lines.size() > 3 && lines[0].startsWith(txtHeaderStart) &&
           lines[1] == QStringLiteral("Source : ") + headerValue(sourceName) && lines[2] == txtRule;
}

} // namespace

std::optional<QString> recordingOfMarkdown(const QString &markdown) {
    const QStringList lines = markdown.split(QLatin1Char('\n'));
    if (lines.isEmpty() || lines[0] != frontMatterFence) return std::nullopt;
    const QString key = QStringLiteral("source: ");
    for (qsizetype i = 1; i < lines.size() && lines[i] != frontMatterFence; ++i)
        if (lines[i].startsWith(key)) return headerValueText(lines[i].mid(key.size()));
    return std::nullopt;
}

bool headerNamesRecording(const QString &head, const QString &sourceName, bool markdown) {
    if (markdown) return recordingOfMarkdown(head) == sourceName;
    return txtHeaderNames(head.split(QLatin1Char('\n')), sourceName);
}

TranscriptOwner transcriptOwner(const QString &path, const QString &sourceName) {
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink()) return TranscriptOwner::nobody;
    QFile file(path);
    if (!info.isFile() || !file.open(QIODevice::ReadOnly)) return TranscriptOwner::someoneElse;
    const QString head = QString::fromUtf8(file.read(headBytes));
    const bool markdown = info.suffix() == QLatin1String("md");
    return headerNamesRecording(head, sourceName, markdown) ? TranscriptOwner::thisRecording
                                                            : TranscriptOwner::someoneElse;
}

QStringList transcriptStems(const QString &sourcePath, const QString &destinationDir, int lastNumber) {
    const QDir dir(destinationDir);
    const QString fullName = QFileInfo(sourcePath).fileName();
    QStringList stems{dir.filePath(transcriptBaseName(sourcePath))};
    if (fullName != transcriptBaseName(sourcePath)) stems.append(dir.filePath(fullName));
    for (int n = 2; n <= lastNumber; ++n) stems.append(dir.filePath(fullName + QStringLiteral(" (%1)").arg(n)));
    return stems;
}

QString transcriptStem(const QString &transcriptPath) {
    for (const QLatin1String extension : {QLatin1String(".txt"), QLatin1String(".md")})
        if (transcriptPath.endsWith(extension)) return transcriptPath.chopped(extension.size());
    return transcriptPath;
}

bool hasStem(const QString &transcriptPath, const QString &stem) {
    if (transcriptPath.size() <= stem.size()) return false;
    const QStringView rest = QStringView(transcriptPath).mid(stem.size());
    return (rest == QLatin1String(".txt") || rest == QLatin1String(".md")) && transcriptPath.startsWith(stem);
}

namespace {
bool subtitlesInTheWay(const QString &stem, const TranscriptPaths &paths, SubtitleFormat subtitles,
                       const QString &sourceName) {
    bool present = false;
    for (const QString &path : subtitlePaths(stem, subtitles)) {
        const QFileInfo info(path);
        if (!info.exists() && !info.isSymLink()) continue;
        if (!info.isFile()) return true;
        present = true;
    }
    return present && transcriptOwner(paths.txt, sourceName) != TranscriptOwner::thisRecording &&
           transcriptOwner(paths.md, sourceName) != TranscriptOwner::thisRecording;
}
} // namespace

std::optional<TranscriptPaths> chooseTranscriptPaths(const QString &sourcePath, const QString &destinationDir,
                                                     OutputFormat format, SubtitleFormat subtitles,
                                                     const std::optional<QString> &previousStem,
                                                     const std::function<bool(const QString &stem)> &takenByAnother) {
    QStringList stems = transcriptStems(sourcePath, destinationDir);
    if (previousStem && stems.contains(*previousStem)) stems.prepend(*previousStem);
    const QString sourceName = QFileInfo(sourcePath).fileName();
    for (const QString &stem : std::as_const(stems)) {
        const TranscriptPaths paths{stem + QStringLiteral(".txt"), stem + QStringLiteral(".md")};
        QStringList written;
        if (format != OutputFormat::md) written.append(paths.txt);
        if (format != OutputFormat::txt) written.append(paths.md);
        bool foreign = false, own = false;
        for (const QString &path : std::as_const(written)) {
            const TranscriptOwner owner = transcriptOwner(path, sourceName);
            foreign = foreign || owner == TranscriptOwner::someoneElse;
            own = own || owner == TranscriptOwner::thisRecording;
        }
        if (foreign || (!own && takenByAnother(stem)) || subtitlesInTheWay(stem, paths, subtitles, sourceName))
            continue;
        return paths;
    }
    return std::nullopt;
}
