#include "remote/recognition_servers.h"

#include <QFile>

#include <qcoro/qcorotask.h>

#include "core/background.h"
#include "core/next_emission.h"
#include "remote/inference_exchange.h"

RecognitionServers::RecognitionServers(const ParlivoSettings &settings, EventLog &log, QObject *parent)
    : QObject(parent), m_settings(settings), m_log(log) {}

void RecognitionServers::beginRun() {
    m_servers.clear();
    for (const RecognitionServer &config : m_settings.recognitionServers) m_servers.append({config, {}});
}

bool RecognitionServers::slotAvailable(int slot) const {
    return slot >= 0 && slot < m_servers.size() && !m_servers[slot].backoff.isAside(QDateTime::currentDateTime());
}

QString RecognitionServers::machine(int slot) const {
    return slot >= 0 && slot < m_servers.size() ? machineName(m_servers[slot].config.address) : QString();
}

QCoro::Task<RemoteOutcome> RecognitionServers::recognise(int slot, QString wav, double timeLimit,
                                                         QPointer<Cancellation> cancel) {
    if (slot < 0 || slot >= m_servers.size())
        co_return RemoteOutcome{RemoteOutcome::Fault::server, {}, QStringLiteral("serveur inconnu")};
    // A recording of an hour is about 115 MB of WAV: read off the main thread.
    // (Named before the co_await: GCC 12 may destroy a temporary lambda twice there.)
    auto read = [wav]() -> std::optional<QByteArray> {
        QFile file(wav);
        if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
        return file.readAll();
    };
    QCoro::Task<std::optional<QByteArray>> reading = onWorkerThread(std::move(read));
    std::optional<QByteArray> audio = co_await std::move(reading);
    if (!audio)
        co_return RemoteOutcome{RemoteOutcome::Fault::audio, {}, QStringLiteral("Audio converti illisible.")};
    QPointer<RecognitionServers> self(this);
    const RecognitionServer config = m_servers[slot].config;
    QCoro::Task<bool> waiting = waitForTurn(slot, config, cancel);
    if (!co_await std::move(waiting)) {
        if (cancel && cancel->isCancelled()) co_return RemoteOutcome{RemoteOutcome::Fault::cancelled, {}, {}};
        // Set aside while this file waited: another slot takes it, and the
        // fault is already counted once.
        co_return RemoteOutcome{RemoteOutcome::Fault::server, {}, QStringLiteral("serveur mis de côté")};
    }
    m_servers[slot].busy = true;
    QCoro::Task<RemoteOutcome> exchanging =
        sendInference(config, std::move(*audio), m_settings.language, timeLimit, cancel);
    RemoteOutcome outcome = co_await std::move(exchanging);
    if (self && slot < m_servers.size() && m_servers[slot].config == config) {
        m_servers[slot].busy = false;
        noteOutcome(slot, outcome);
        emit serverFreed();
    }
    co_return outcome;
}

QCoro::Task<bool> RecognitionServers::waitForTurn(int slot, RecognitionServer config, QPointer<Cancellation> cancel) {
    const auto sameServer = [&] { return slot < m_servers.size() && m_servers[slot].config == config; };
    while (sameServer() && m_servers[slot].busy) {
        co_await nextEmission(this, &RecognitionServers::serverFreed);
        if (cancel && cancel->isCancelled()) co_return false;
    }
    co_return sameServer() && slotAvailable(slot) && !(cancel && cancel->isCancelled());
}

void RecognitionServers::noteOutcome(int slot, const RemoteOutcome &outcome) {
    Server &server = m_servers[slot];
    const QString name = machineName(server.config.address);
    if (outcome.fault == RemoteOutcome::Fault::server) {
        const int seconds = server.backoff.fail(QDateTime::currentDateTime());
        m_log.log(QStringLiteral("Serveur de reconnaissance %1 mis de côté pour %2 s : %3.")
                      .arg(name)
                      .arg(seconds)
                      .arg(outcome.message));
    } else if (outcome.fault != RemoteOutcome::Fault::cancelled && server.backoff.succeed()) {
        m_log.log(QStringLiteral("Serveur de reconnaissance %1 de nouveau disponible.").arg(name));
    }
}
