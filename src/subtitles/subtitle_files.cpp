#include "subtitles/subtitle_files.h"

#include <QFileInfo>

#include "subtitles/subtitle_text.h"

namespace {
const QString srtExtension = QStringLiteral(".srt");
const QString vttExtension = QStringLiteral(".vtt");
} // namespace

QStringList subtitlePaths(const QString &stem, SubtitleFormat format) {
    QStringList paths;
    if (format == SubtitleFormat::srt || format == SubtitleFormat::both) paths.append(stem + srtExtension);
    if (format == SubtitleFormat::vtt || format == SubtitleFormat::both) paths.append(stem + vttExtension);
    return paths;
}

std::optional<WriteError> writeSubtitles(const QList<Segment> &segments, const QString &stem, SubtitleFormat format,
                                         QStringList &created) {
    for (const QString &path : subtitlePaths(stem, format)) {
        const QString text = path.endsWith(srtExtension) ? srtText(segments) : webVttText(segments);
        const bool existed = QFileInfo::exists(path);
        if (auto error = writeFileAtomically(path, text.toUtf8())) return error;
        if (!existed) created.append(path);
    }
    return std::nullopt;
}
