#pragma once
// The local Ollama server seen from Parlivo: installed, running, holding the
// correction model; started when needed and watched in the background (one
// look at once, then one every few seconds, publishing changes only).

#include <QObject>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <functional>
#include <optional>

#include <qcoro/qcorotask.h>

#include "core/event_log.h"
#include "core/settings.h"
#include "provisioning/ollama_local.h"
#include "provisioning/ollama_pull.h"

class OllamaRuntime : public QObject {
    Q_OBJECT

public:
    using UrlOpener = std::function<void(const QUrl &)>;

    // `program`: the `ollama` found on the machine, if any. `open` shows a bundle.
    OllamaRuntime(const ParlivoSettings &settings, EventLog &log, std::optional<QString> program, UrlOpener open,
                  QObject *parent = nullptr);

    // Looked for at the first question, not when the engine starts.
    bool installed() const;
    bool running() const { return m_running; }
    const std::optional<bool> &modelInstalled() const { return m_modelInstalled; }
    // Looks on the disk now.
    bool findInstalled() const;
    void refreshInstalled() { setInstalled(findInstalled()); }
    // Opens the server's bundle, or starts `ollama serve`; logs when there is none.
    void launchApp();
    // The user's action: start the server, then probe it once.
    void launch();
    // True when the server answers (started and awaited when needed) and has
    // the correction model (pulled once when missing).
    QCoro::Task<bool> ensureRunning();
    QCoro::Task<bool> ensureModelInstalled();
    void startMonitor();
    void stopMonitor();
    void setTimings(const ollama::Timings &timings) { m_timings = timings; }

signals:
    void changed(); // installed, running, model present

private:
    QCoro::Task<> monitorCycle();
    void setInstalled(bool installed);
    void setRunning(bool running);
    void setModelInstalled(bool installed);
    std::function<void(const ollama::PullUpdate &)> modelPullLogger(const QString &model);

    const ParlivoSettings &m_settings;
    EventLog &m_log;
    std::optional<QString> m_program;
    UrlOpener m_open;
    mutable std::optional<bool> m_installed;
    bool m_running = false;
    std::optional<bool> m_modelInstalled;
    ollama::Timings m_timings;
    bool m_monitorActive = false;
    bool m_monitorCycleRunning = false;
    QTimer m_monitorTimer; // between two looks
};
