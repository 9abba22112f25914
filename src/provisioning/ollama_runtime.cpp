// The local Ollama server seen from Parlivo: installed, running, holding
// the correction model; started when needed and watched in the background.
#include "provisioning/ollama_runtime.h"

#include <QPointer>

#include <cmath>

#include <qcoro/qcorotimer.h>

#include "correction/corrector.h"

OllamaRuntime::OllamaRuntime(const ParlivoSettings &settings, EventLog &log, std::optional<QString> program,
                             UrlOpener open, QObject *parent)
    : QObject(parent), m_settings(settings), m_log(log), m_program(std::move(program)), m_open(std::move(open)) {
    m_monitorTimer.setSingleShot(true);
    connect(&m_monitorTimer, &QTimer::timeout, this, [this] { monitorCycle(); });
}

bool OllamaRuntime::installed() const {
    if (!m_installed) m_installed = findInstalled();
    return *m_installed;
}

bool OllamaRuntime::findInstalled() const {
    return ollama::locate(m_program).kind != ollama::Launch::Kind::missing;
}

void OllamaRuntime::launchApp() {
    const ollama::Launch found = ollama::locate(m_program);
    switch (found.kind) {
    case ollama::Launch::Kind::openBundle: m_open(QUrl::fromLocalFile(found.path)); return;
    case ollama::Launch::Kind::runServer: ollama::startServer(found.path); return;
    case ollama::Launch::Kind::missing:
        m_log.log(QStringLiteral("Ollama.app introuvable. Installe Ollama (") + ollama::vendorAddress +
            QStringLiteral(") pour activer la correction locale."));
        return;
    }
}

void OllamaRuntime::launch() {
    launchApp();
    [](QPointer<OllamaRuntime> self, QString endpoint) -> QCoro::Task<> {
        const bool reachable = co_await Corrector::ollamaReachable(endpoint);
        if (self) self->setRunning(reachable);
    }(this, m_settings.ollamaEndpoint);
}

QCoro::Task<bool> OllamaRuntime::ensureRunning() {
    QPointer<OllamaRuntime> self(this);
    const QString endpoint = m_settings.ollamaEndpoint;
    const bool reachable = co_await Corrector::ollamaReachable(endpoint);
    if (!self) co_return false;
    if (reachable) co_return co_await ensureModelInstalled();

    m_log.log(QStringLiteral("Ollama injoignable, démarrage automatique…"));
    launchApp();
    const ollama::Timings timings = m_timings;
    for (int probe = 0; probe < timings.startProbes; ++probe) {
        co_await QCoro::sleepFor(timings.probeInterval);
        if (!self) co_return false;
        const bool up = co_await Corrector::ollamaReachable(endpoint);
        if (!self) co_return false;
        if (up) {
            m_log.log(QStringLiteral("Ollama démarré."));
            co_return co_await ensureModelInstalled();
        }
    }
    co_return false;
}

std::function<void(const ollama::PullUpdate &)> OllamaRuntime::modelPullLogger(const QString &model) {
    // The log shows one line per tenth reached, not one per stream line.
    auto lastTenth = std::make_shared<std::optional<int>>();
    return [self = QPointer<OllamaRuntime>(this), model, lastTenth](const ollama::PullUpdate &update) {
        const int tenth = ollama::progressTenth(update.fraction);
        if (!self || *lastTenth == tenth) return;
        *lastTenth = tenth;
        self->m_log.log(QStringLiteral("Modèle %1 : %2 %").arg(model).arg(int(std::trunc(update.fraction * 100))));
    };
}

QCoro::Task<bool> OllamaRuntime::ensureModelInstalled() {
    QPointer<OllamaRuntime> self(this);
    const QString endpoint = m_settings.ollamaEndpoint;
    const QString model = m_settings.ollamaModel;
    const QStringList names = co_await Corrector::ollamaModels(endpoint);
    if (!self) co_return false;
    if (Corrector::modelInstalled(names, model)) {
        setModelInstalled(true);
        co_return true;
    }

    m_log.log(QStringLiteral("Modèle %1 absent : téléchargement automatique (une seule fois)…").arg(model));
    std::optional<QString> failure;
    try {
        co_await ollama::pullModel(endpoint, model, modelPullLogger(model));
    } catch (const InstallError &error) {
        failure = error.errorDescription();
    }
    if (!self) co_return false;
    if (failure) {
        m_log.log(QStringLiteral("Téléchargement du modèle impossible : ") + *failure);
        co_return false;
    }
    setModelInstalled(true);
    m_log.log(QStringLiteral("Modèle %1 prêt.").arg(model));
    co_return true;
}

void OllamaRuntime::startMonitor() {
    if (m_monitorActive) return;
    m_monitorActive = true;
    if (!m_monitorCycleRunning) monitorCycle(); // the first look is at once
}

void OllamaRuntime::stopMonitor() {
    m_monitorActive = false;
    m_monitorTimer.stop();
}

QCoro::Task<> OllamaRuntime::monitorCycle() {
    // The timer belongs to the engine: once the engine is gone no cycle
    // starts, and one under way stops at its next step.
    QPointer<OllamaRuntime> self(this);
    if (m_monitorCycleRunning || !m_monitorActive) co_return;
    m_monitorCycleRunning = true;
    setInstalled(findInstalled());
    const QString endpoint = m_settings.ollamaEndpoint;
    const bool running = co_await Corrector::ollamaReachable(endpoint);
    if (!self) co_return;
    setRunning(running);
    if (running) {
        const QStringList names = co_await Corrector::ollamaModels(endpoint);
        if (!self) co_return;
        setModelInstalled(Corrector::modelInstalled(names, m_settings.ollamaModel));
    }
    m_monitorCycleRunning = false;
    if (m_monitorActive) m_monitorTimer.start(m_timings.monitorInterval);
}

void OllamaRuntime::setInstalled(bool installed) {
    if (this->installed() == installed) return;
    m_installed = installed;
    emit changed();
}

void OllamaRuntime::setRunning(bool running) {
    if (m_running == running) return;
    m_running = running;
    emit changed();
}

void OllamaRuntime::setModelInstalled(bool installed) {
    if (m_modelInstalled == installed) return;
    m_modelInstalled = installed;
    emit changed();
}
