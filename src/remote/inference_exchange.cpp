#include "remote/inference_exchange.h"

#include <QTimer>
#include <QUrl>
#include <QUuid>

#include "core/json_coding.h"
#include "correction/llm_wire.h"

namespace {
void addField(QByteArray &body, const QByteArray &boundary, const QByteArray &name, const QByteArray &value) {
    body += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value + "\r\n";
}

RemoteOutcome serverFault(const QString &message) { return {RemoteOutcome::Fault::server, {}, message}; }
} // namespace

InferenceForm inferenceForm(const QByteArray &wav, const QString &language) {
    const QByteArray boundary = "parlivo-" + QUuid::createUuid().toString(QUuid::Id128).toLatin1();
    InferenceForm form{"multipart/form-data; boundary=" + boundary, {}};
    form.body.reserve(wav.size() + 1024);
    form.body += "--" + boundary +
                 "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"audio.wav\"\r\n"
                 "Content-Type: audio/wav\r\n\r\n";
    form.body += wav;
    form.body += "\r\n";
    addField(form.body, boundary, "response_format", "verbose_json");
    addField(form.body, boundary, "language", language.toUtf8());
    form.body += "--" + boundary + "--\r\n";
    return form;
}

QNetworkRequest inferenceRequest(const RecognitionServer &server, const QByteArray &contentType) {
    QUrl url(server.address);
    QString path = url.path();
    if (!path.endsWith(QLatin1Char('/'))) path += QLatin1Char('/');
    url.setPath(path + QStringLiteral("inference"));
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, contentType);
    // No transfer time-out of its own: the caller's limit covers the whole exchange.
    request.setTransferTimeout(0);
    if (!server.accessKey.isEmpty()) request.setRawHeader("Authorization", "Bearer " + server.accessKey.toUtf8());
    return request;
}

std::optional<QList<Segment>> parseVerboseJson(const QByteArray &body) {
    try {
        const Json json = parseJson(body);
        const Json *segments = jsonfield::find(json, "segments");
        if (!json.is_object() || !segments || !segments->is_array()) return std::nullopt;
        QList<Segment> out;
        for (const Json &item : *segments) {
            jsonfield::requireObject(item, "segment");
            out.append({jsonfield::number(item.at("start"), "start"), jsonfield::number(item.at("end"), "end"),
                        jsonfield::string(item.at("text"), "text")});
        }
        return out;
    } catch (const std::exception &) { // DecodeError, or a key missing from a segment
        return std::nullopt;
    }
}

RemoteOutcome inferenceOutcome(const Corrector::HttpOutcome &outcome, bool timedOut) {
    if (timedOut) return serverFault(QStringLiteral("pas de réponse dans le délai"));
    if (outcome.cancelled) return {RemoteOutcome::Fault::cancelled, {}, {}};
    if (Corrector::isTransportFailure(outcome.error) || !outcome.status)
        return serverFault(QStringLiteral("injoignable (%1)").arg(outcome.errorText));
    const int status = *outcome.status;
    const QString excerpt = Corrector::bodyExcerpt(outcome.body);
    if (status == 400 || status == 413 || status == 415 || status == 422)
        return {RemoteOutcome::Fault::audio, {},
                QStringLiteral("Le serveur de reconnaissance refuse l'audio (HTTP %1) : %2").arg(status).arg(excerpt)};
    if (status != 200) return serverFault(QStringLiteral("réponse HTTP %1").arg(status));
    // whisper-server answers an audio it cannot read with 200 and an error.
    try {
        const Json json = parseJson(outcome.body);
        if (const Json *error = jsonfield::find(json, "error"); error && error->is_string())
            return {RemoteOutcome::Fault::audio, {},
                    QStringLiteral("Le serveur de reconnaissance refuse l'audio : %1")
                        .arg(QString::fromStdString(error->get<std::string>()))};
    } catch (const DecodeError &) {
    }
    auto segments = parseVerboseJson(outcome.body);
    if (!segments) return serverFault(QStringLiteral("réponse illisible"));
    return {RemoteOutcome::Fault::none, std::move(*segments), {}};
}

QCoro::Task<RemoteOutcome> sendInference(RecognitionServer server, QByteArray wav, QString language,
                                         double timeLimit, QPointer<Cancellation> cancel) {
    const InferenceForm form = inferenceForm(wav, language);
    wav.clear();
    // The caller's cancel and the time limit both cut the request off.
    Cancellation stop;
    bool timedOut = false;
    if (cancel) QObject::connect(cancel, &Cancellation::cancelled, &stop, &Cancellation::cancel);
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &stop, [&] {
        timedOut = true;
        stop.cancel();
    });
    limit.start(std::chrono::milliseconds(qint64(timeLimit * 1000)));
    if (cancel && cancel->isCancelled()) stop.cancel();
    const QNetworkRequest request = inferenceRequest(server, form.contentType);
    QCoro::Task<Corrector::HttpOutcome> sending = Corrector::httpExchange(request, form.body, &stop);
    const Corrector::HttpOutcome outcome = co_await std::move(sending);
    co_return inferenceOutcome(outcome, timedOut);
}

QString machineName(const QString &address) {
    const QUrl url(address);
    return url.port() < 0 ? url.host() : QStringLiteral("%1:%2").arg(url.host()).arg(url.port());
}
