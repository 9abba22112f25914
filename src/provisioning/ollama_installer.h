#pragma once
// The one-action install of the local Ollama server: download the vendor's
// archive, unpack it into the user's own folder, start the server, pull the
// correction model, with the progress and status the window shows.

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

#include <qcoro/qcorotask.h>

#include "core/event_log.h"
#include "core/settings.h"
#include "pipeline/process_runner.h"
#include "provisioning/downloader.h"
#include "provisioning/ollama_pull.h"
#include "provisioning/ollama_runtime.h"

class OllamaInstaller : public QObject {
    Q_OBJECT

public:
    OllamaInstaller(const ParlivoSettings &settings, EventLog &log, OllamaRuntime &runtime, ProcessRunner &processes,
                    QObject *parent = nullptr);

    bool installing() const { return m_installing; }
    double progress() const { return m_progress; }
    const QString &status() const { return m_status; }
    // Why the last install failed; nothing while one runs or after it succeeded.
    const std::optional<QString> &error() const { return m_error; }
    void install();
    QCoro::Task<> run();
    // Awaitable end of the install (returns at once when idle).
    QCoro::Task<> waitForEnd();

signals:
    void changed();
    // Once at the very end; the waits await this rather than changed(), which may fire twice in a row.
    void finished();

private:
    void setProgress(double progress, const QString &status);
    void end();
    QCoro::Task<> unpack(QString archive, QString destination);
    std::function<void(const ollama::PullUpdate &)> pullProgress();

    const ParlivoSettings &m_settings;
    EventLog &m_log;
    OllamaRuntime &m_runtime;
    ProcessRunner &m_processes;
    bool m_installing = false;
    double m_progress = 0;
    QString m_status;
    std::optional<QString> m_error;
    std::optional<QCoro::Task<>> m_task;
    Downloader m_downloader;
};
