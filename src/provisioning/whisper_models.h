#pragma once
// The recogniser's models on this machine, and the automatic download of the
// default one when a batch is started without any (one download at a time).

#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

#include <qcoro/qcorotask.h>

#include "core/event_log.h"
#include "core/settings.h"
#include "provisioning/downloader.h"
#include "provisioning/model_catalog.h"

class WhisperModels : public QObject {
    Q_OBJECT

public:
    WhisperModels(const ParlivoSettings &settings, EventLog &log, QObject *parent = nullptr);

    void refresh();
    // Listed at the first look, not when the engine starts.
    const QList<ModelInfo> &available() const;
    // The model the settings name exists on the disk.
    bool modelAvailable() const;
    QString displayName() const;
    // Downloads the default model. Once it is there, `adopt` gets its path
    // (to name it in the settings), then `then` runs.
    void downloadDefault(std::function<void(const QString &path)> adopt, std::function<void()> then);
    const std::optional<double> &downloadProgress() const { return m_downloadProgress; }
    Downloader &downloader() { return m_downloader; }
    // Awaitable end of the automatic download (returns at once when none runs).
    QCoro::Task<> waitForDownload();

signals:
    void changed(); // the local models or the automatic download
    void downloadFinished();

private:
    const ParlivoSettings &m_settings;
    EventLog &m_log;
    mutable std::optional<QList<ModelInfo>> m_available;
    std::optional<double> m_downloadProgress;
    Downloader m_downloader;
};
