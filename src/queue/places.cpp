#include "queue/places.h"

#include <QFileInfo>

#include "core/folders.h"
#include "core/source_files.h"

QString destinationDir(const ParlivoSettings &settings, const std::optional<QUrl> &sourceFolder, const QUrl &source) {
    const QString parent = QFileInfo(source.toLocalFile()).absolutePath();
    const auto &custom = settings.customDestination;
    if (settings.destinationMode != DestinationMode::custom || !custom || custom->isEmpty()) return parent;
    if (!sourceFolder) return *custom;
    const QString relative = relativePath(QUrl::fromLocalFile(parent), *sourceFolder);
    return relative.isEmpty() ? *custom : *custom + QLatin1Char('/') + relative;
}

std::optional<QUrl> outputRootFolder(const ParlivoSettings &settings, const std::optional<QUrl> &sourceFolder) {
    const auto &custom = settings.customDestination;
    if (settings.destinationMode == DestinationMode::custom && custom && !custom->isEmpty())
        return QUrl::fromLocalFile(*custom);
    return sourceFolder;
}

std::optional<QString> organizeRootFolder(const std::optional<QString> &organizeRootSetting,
                                          const std::optional<QString> &outputRoot) {
    if (organizeRootSetting && !organizeRootSetting->isEmpty()) return *organizeRootSetting;
    if (outputRoot) return *outputRoot + QStringLiteral("/Archive organisée");
    return std::nullopt;
}

QStringList writtenFolders(const ParlivoSettings &settings, const std::optional<QUrl> &sourceFolder) {
    const auto root = outputRootFolder(settings, sourceFolder);
    const std::optional<QString> output = root ? std::optional(root->toLocalFile()) : std::nullopt;
    return {organizeRootFolder(settings.organizeRoot, output).value_or(QString()), output.value_or(QString())};
}

QString outputLocationDescription(const ParlivoSettings &settings) {
    const auto &custom = settings.customDestination;
    if (settings.destinationMode == DestinationMode::custom) {
        if (custom && !custom->isEmpty()) return QStringLiteral("Les transcriptions sont dans : ") + *custom;
        return QStringLiteral("Les transcriptions sont à côté de chaque vocal.");
    }
    return QStringLiteral("Les transcriptions (.txt / .md) sont à côté de chaque vocal, dans le dossier source.");
}

std::optional<QUrl> macVoiceMemosFolder() {
    const QString path = folders::realHome() +
                         QStringLiteral("/Library/Group Containers/group.com.apple.VoiceMemos.shared/Recordings");
    if (!QFileInfo(path).isDir()) return std::nullopt;
    return QUrl::fromLocalFile(path);
}
