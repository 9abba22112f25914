// The local Ollama server seen from the engine: installed, running, holding
// the correction model; started when needed and watched in the background.
#include "engine/transcriber.h"

#include <QPointer>

#include <cmath>

#include <qcoro/qcorotimer.h>

#include "correction/corrector.h"

bool Transcriber::isOllamaInstalled() const {
    return ollama::locate(m_tools.ollama).kind != ollama::Launch::Kind::missing;
}

void Transcriber::launchOllamaApp() {
    const ollama::Launch found = ollama::locate(m_tools.ollama);
    switch (found.kind) {
    case ollama::Launch::Kind::openBundle: openUrl(QUrl::fromLocalFile(found.path)); return;
    case ollama::Launch::Kind::runServer: ollama::startServer(found.path); return;
    case ollama::Launch::Kind::missing:
        log(QStringLiteral("Ollama.app introuvable. Installe Ollama (") + ollama::vendorAddress +
            QStringLiteral(") pour activer la correction locale."));
        return;
    }
}

void Transcriber::launchOllama() {
    launchOllamaApp();
    [](QPointer<Transcriber> self, QString endpoint) -> QCoro::Task<> {
        const bool reachable = co_await Corrector::ollamaReachable(endpoint);
        if (self) self->setOllamaRunning(reachable);
    }(this, m_settings.ollamaEndpoint);
}

QCoro::Task<bool> Transcriber::ensureOllamaRunning() {
    QPointer<Transcriber> self(this);
    const QString endpoint = m_settings.ollamaEndpoint;
    const bool reachable = co_await Corrector::ollamaReachable(endpoint);
    if (!self) co_return false;
    if (reachable) co_return co_await ensureModelInstalled();

    log(QStringLiteral("Ollama injoignable, démarrage automatique…"));
    launchOllamaApp();
    const ollama::Timings timings = m_ollamaTimings;
    for (int probe = 0; probe < timings.startProbes; ++probe) {
        co_await QCoro::sleepFor(timings.probeInterval);
        if (!self) co_return false;
        const bool up = co_await Corrector::ollamaReachable(endpoint);
        if (!self) co_return false;
        if (up) {
            log(QStringLiteral("Ollama démarré."));
            co_return co_await ensureModelInstalled();
        }
    }
    co_return false;
}

std::function<void(const ollama::PullUpdate &)> Transcriber::modelPullLogger(const QString &model) {
    // The log shows one line per tenth reached, not one per stream line.
    auto lastTenth = std::make_shared<std::optional<int>>();
    return [self = QPointer<Transcriber>(this), model, lastTenth](const ollama::PullUpdate &update) {
        const int tenth = ollama::progressTenth(update.fraction);
        if (!self || *lastTenth == tenth) return;
        *lastTenth = tenth;
        self->log(QStringLiteral("Modèle %1 : %2 %").arg(model).arg(int(std::trunc(update.fraction * 100))));
    };
}

QCoro::Task<bool> Transcriber::ensureModelInstalled() {
    QPointer<Transcriber> self(this);
    const QString endpoint = m_settings.ollamaEndpoint;
    const QString model = m_settings.ollamaModel;
    const QStringList names = co_await Corrector::ollamaModels(endpoint);
    if (!self) co_return false;
    if (Corrector::modelInstalled(names, model)) {
        setOllamaModelInstalled(true);
        co_return true;
    }

    log(QStringLiteral("Modèle %1 absent : téléchargement automatique (une seule fois)…").arg(model));
    std::optional<QString> failure;
    try {
        co_await ollama::pullModel(endpoint, model, modelPullLogger(model));
    } catch (const InstallError &error) {
        failure = error.errorDescription();
    }
    if (!self) co_return false;
    if (failure) {
        log(QStringLiteral("Téléchargement du modèle impossible : ") + *failure);
        co_return false;
    }
    setOllamaModelInstalled(true);
    log(QStringLiteral("Modèle %1 prêt.").arg(model));
    co_return true;
}

void Transcriber::startOllamaMonitor() {
    if (m_monitorActive) return;
    m_monitorActive = true;
    if (!m_monitorCycleRunning) monitorCycle(); // the first look is at once
}

void Transcriber::stopOllamaMonitor() {
    m_monitorActive = false;
    m_monitorTimer.stop();
}

QCoro::Task<> Transcriber::monitorCycle() {
    // The timer belongs to the engine: once the engine is gone no cycle
    // starts, and one under way stops at its next step.
    QPointer<Transcriber> self(this);
    if (m_monitorCycleRunning || !m_monitorActive) co_return;
    m_monitorCycleRunning = true;
    setOllamaInstalled(isOllamaInstalled());
    const QString endpoint = m_settings.ollamaEndpoint;
    const bool running = co_await Corrector::ollamaReachable(endpoint);
    if (!self) co_return;
    setOllamaRunning(running);
    if (running) {
        const QStringList names = co_await Corrector::ollamaModels(endpoint);
        if (!self) co_return;
        setOllamaModelInstalled(Corrector::modelInstalled(names, m_settings.ollamaModel));
    }
    m_monitorCycleRunning = false;
    if (m_monitorActive) m_monitorTimer.start(m_ollamaTimings.monitorInterval);
}

void Transcriber::setOllamaInstalled(bool installed) {
    if (m_ollamaInstalled == installed) return;
    m_ollamaInstalled = installed;
    emit ollamaChanged();
}

void Transcriber::setOllamaRunning(bool running) {
    if (m_ollamaRunning == running) return;
    m_ollamaRunning = running;
    emit ollamaChanged();
}

void Transcriber::setOllamaModelInstalled(bool installed) {
    if (m_ollamaModelInstalled == installed) return;
    m_ollamaModelInstalled = installed;
    emit ollamaChanged();
}
