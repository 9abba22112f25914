#pragma once
// The whisper models: those on disk, and those Parlivo offers to download.

#include <QList>
#include <QString>
#include <QUrl>

struct ModelInfo {
    QString name;         // file name
    QString path;         // full path
    qint64 sizeBytes = 0; // 0 when unreadable
};

struct DownloadableModel {
    QString label;    // shown to the user
    QString filename; // name in the model repository and on disk

    // Fixed, best quality first.
    static const QList<DownloadableModel> &catalog();
};

// The ".bin" files directly inside `hestiaDir` (extension in any case), plus
// `modelPath` when it names an existing file elsewhere; sorted by name.
QList<ModelInfo> listModels(const QString &hestiaDir, const QString &modelPath);

// Where `filename` is downloaded from. PARLIVO_MODEL_BASE_URL, when set,
// replaces the repository address (it ends with "/").
QUrl modelDownloadUrl(const QString &filename);
