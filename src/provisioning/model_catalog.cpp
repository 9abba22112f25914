#include "provisioning/model_catalog.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

const QList<DownloadableModel> &DownloadableModel::catalog() {
    static const QList<DownloadableModel> entries = {
        {QStringLiteral("Large v3 (qualité maximale, ~3.1 Go)"), QStringLiteral("ggml-large-v3.bin")},
        {QStringLiteral("Large v3 Turbo (quasi identique, 5x plus rapide, ~1.6 Go)"),
         QStringLiteral("ggml-large-v3-turbo.bin")},
        {QStringLiteral("Large v3 Turbo quantifié q5 (~0.8 Go)"), QStringLiteral("ggml-large-v3-turbo-q5_0.bin")},
        {QStringLiteral("Medium (~1.5 Go)"), QStringLiteral("ggml-medium.bin")},
        {QStringLiteral("Small quantifié q8 (~0.25 Go)"), QStringLiteral("ggml-small-q8_0.bin")},
        {QStringLiteral("Base (~0.15 Go)"), QStringLiteral("ggml-base.bin")},
    };
    return entries;
}

namespace {
ModelInfo modelInfo(const QFileInfo &file, const QString &path) {
    return {file.fileName(), path, std::max<qint64>(file.size(), 0)};
}

QString comparable(const QString &path) { return QDir::cleanPath(QFileInfo(path).absoluteFilePath()); }
} // namespace

QList<ModelInfo> listModels(const QString &hestiaDir, const QString &modelPath) {
    QList<ModelInfo> models;
    const QFileInfoList entries = QDir(hestiaDir).entryInfoList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QFileInfo &entry : entries)
        if (entry.suffix().toLower() == QLatin1String("bin"))
            models.append(modelInfo(entry, entry.absoluteFilePath()));

    // A model chosen elsewhere on disk still shows, under the path the
    // settings hold so the window can match the selection.
    if (!modelPath.isEmpty() && QFileInfo(modelPath).isFile()) {
        const QString wanted = comparable(modelPath);
        const bool listed = std::any_of(models.cbegin(), models.cend(),
                                        [&](const ModelInfo &model) { return comparable(model.path) == wanted; });
        if (!listed) models.append(modelInfo(QFileInfo(modelPath), modelPath));
    }
    std::sort(models.begin(), models.end(),
              [](const ModelInfo &a, const ModelInfo &b) { return a.name < b.name; });
    return models;
}

QUrl modelDownloadUrl(const QString &filename) {
    QString base = qEnvironmentVariable("PARLIVO_MODEL_BASE_URL");
    if (base.isEmpty()) base = QStringLiteral("https://huggingface.co/ggerganov/whisper.cpp/resolve/main/");
    return QUrl(base + filename);
}
