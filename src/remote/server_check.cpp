#include "remote/server_check.h"

#include <QtEndian>

#include "remote/inference_exchange.h"

namespace {
void append16(QByteArray &out, quint16 value) {
    char bytes[2];
    qToLittleEndian(value, bytes);
    out.append(bytes, 2);
}

void append32(QByteArray &out, quint32 value) {
    char bytes[4];
    qToLittleEndian(value, bytes);
    out.append(bytes, 4);
}
} // namespace

QByteArray silentWav(int milliseconds) {
    const quint32 rate = 16000;
    const quint32 dataBytes = rate * 2 * quint32(std::max(milliseconds, 0)) / 1000;
    QByteArray wav("RIFF");
    append32(wav, 36 + dataBytes);
    wav += "WAVEfmt ";
    append32(wav, 16);       // size of the format block
    append16(wav, 1);        // PCM
    append16(wav, 1);        // mono
    append32(wav, rate);     // samples a second
    append32(wav, rate * 2); // bytes a second
    append16(wav, 2);        // bytes a sample
    append16(wav, 16);       // bits a sample
    wav += "data";
    append32(wav, dataBytes);
    wav.append(qsizetype(dataBytes), '\0');
    return wav;
}

std::optional<QString> addressProblem(const QString &address) {
    if (acceptableServerAddress(address)) return std::nullopt;
    return QStringLiteral("Adresse invalide : elle commence par http:// ou https://, par exemple "
                          "http://192.168.1.20:8080.");
}

QString serverCheckText(const RemoteOutcome &outcome) {
    switch (outcome.fault) {
    case RemoteOutcome::Fault::none: return QStringLiteral("Joignable : le serveur a transcrit un court essai.");
    case RemoteOutcome::Fault::server: return QStringLiteral("Échec : %1.").arg(outcome.message);
    case RemoteOutcome::Fault::audio:
        return QStringLiteral("Joignable, mais l'essai n'a pas abouti. %1").arg(outcome.message);
    case RemoteOutcome::Fault::cancelled: break;
    }
    return QStringLiteral("Test interrompu.");
}

QCoro::Task<QString> checkServer(RecognitionServer server, QString language) {
    if (const auto problem = addressProblem(server.address)) co_return *problem;
    QCoro::Task<RemoteOutcome> sending = sendInference(server, silentWav(500), language, serverCheckSeconds, {});
    co_return serverCheckText(co_await std::move(sending));
}
