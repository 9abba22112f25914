// The local whisper models, and the automatic download of the default one
// when a batch is started without any.
#include "engine/transcriber.h"

#include <QFileInfo>

#include <qcoro/qcorosignal.h>

#include "core/folders.h"

void Transcriber::refreshModels() {
    m_availableModels = listModels(folders::hestiaDir(), m_settings.modelPath);
    emit modelsChanged();
}

bool Transcriber::modelAvailable() const {
    return !m_settings.modelPath.isEmpty() && QFileInfo(m_settings.modelPath).isFile();
}

QString Transcriber::modelDisplayName() const {
    if (m_settings.modelPath.isEmpty()) return QStringLiteral("Aucun");
    return QFileInfo(m_settings.modelPath).fileName();
}

void Transcriber::autoDownloadDefaultModel(std::optional<IdSet> thenStartOnly) {
    if (m_modelDownloadProgress) return; // one download at a time
    const QString filename = QStringLiteral("ggml-large-v3.bin");
    const QString destination = folders::hestiaDir() + QLatin1Char('/') + filename;
    log(QStringLiteral("Aucun modèle de transcription : téléchargement de %1 (une seule fois, ~3 Go)…").arg(filename));
    m_modelDownloadProgress = 0;
    emit modelsChanged();
    auto follow = connect(&m_modelDownloader, &Downloader::progressChanged, this, [this] {
        m_modelDownloadProgress = m_modelDownloader.progress();
        emit modelsChanged();
    });
    m_modelDownloader.start(modelDownloadUrl(filename), destination,
                            [this, follow, destination, filename, thenStartOnly](std::optional<QString> error) {
                                disconnect(follow);
                                m_modelDownloadProgress.reset();
                                if (error) {
                                    emit modelsChanged();
                                    log(QStringLiteral("Téléchargement du modèle impossible : ") + *error);
                                } else {
                                    ParlivoSettings s = m_settings;
                                    s.modelPath = destination;
                                    setSettings(s);
                                    refreshModels();
                                    log(QStringLiteral("Modèle prêt : %1. Lancement du lot.").arg(filename));
                                    start(thenStartOnly);
                                }
                                emit modelDownloadFinished();
                            });
}

QCoro::Task<> Transcriber::waitForModelDownload() {
    while (m_modelDownloadProgress) co_await qCoro(this, &Transcriber::modelDownloadFinished);
}
