#include "provisioning/whisper_models.h"

#include <QFileInfo>

#include <qcoro/qcorotask.h>

#include "core/folders.h"
#include "core/next_emission.h"

WhisperModels::WhisperModels(const ParlivoSettings &settings, EventLog &log, QObject *parent)
    : QObject(parent), m_settings(settings), m_log(log) {}

void WhisperModels::refresh() {
    m_available = listModels(folders::hestiaDir(), m_settings.modelPath);
    emit changed();
}

const QList<ModelInfo> &WhisperModels::available() const {
    if (!m_available) m_available = listModels(folders::hestiaDir(), m_settings.modelPath);
    return *m_available;
}

bool WhisperModels::modelAvailable() const {
    return !m_settings.modelPath.isEmpty() && QFileInfo(m_settings.modelPath).isFile();
}

QString WhisperModels::displayName() const {
    if (m_settings.modelPath.isEmpty()) return QStringLiteral("Aucun");
    return QFileInfo(m_settings.modelPath).fileName();
}

void WhisperModels::downloadDefault(std::function<void(const QString &path)> adopt, std::function<void()> then) {
    if (m_downloadProgress) return; // one download at a time
    const QString filename = QStringLiteral("ggml-large-v3.bin");
    const QString destination = folders::hestiaDir() + QLatin1Char('/') + filename;
    m_log.log(
        QStringLiteral("Aucun modèle de transcription : téléchargement de %1 (une seule fois, ~3 Go)…").arg(filename));
    m_downloadProgress = 0;
    emit changed();
    auto follow = connect(&m_downloader, &Downloader::progressChanged, this, [this] {
        m_downloadProgress = m_downloader.progress();
        emit changed();
    });
    m_downloader.start(modelDownloadUrl(filename), destination,
                       [this, follow, destination, filename, adopt, then](std::optional<QString> error) {
                           disconnect(follow);
                           m_downloadProgress.reset();
                           if (error) {
                               emit changed();
                               m_log.log(QStringLiteral("Téléchargement du modèle impossible : ") + *error);
                           } else {
                               adopt(destination);
                               refresh();
                               m_log.log(QStringLiteral("Modèle prêt : %1. Lancement du lot.").arg(filename));
                               then();
                           }
                           emit downloadFinished();
                       });
}

QCoro::Task<> WhisperModels::waitForDownload() {
    while (m_downloadProgress) co_await nextEmission(this, &WhisperModels::downloadFinished);
}
