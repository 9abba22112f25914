#include "provisioning/ollama_pull.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

#include <qcoro/qcoronetworkreply.h>

#include <cmath>
#include <memory>

#include "core/json_coding.h"
#include "core/network.h"
#include "correction/llm_wire.h"
#include "provisioning/downloader.h"

namespace ollama {

PullLine parsePullLine(const QByteArray &line) {
    const Json json = Json::parse(line.constBegin(), line.constEnd(), nullptr, false);
    if (!json.is_object()) return {};
    if (json.contains("error") && json["error"].is_string())
        return {QString::fromStdString(json["error"].get<std::string>()), std::nullopt};
    PullUpdate update;
    if (json.contains("status") && json["status"].is_string())
        update.status = QString::fromStdString(json["status"].get<std::string>());
    const auto number = [&](const char *key) {
        return json.contains(key) && json[key].is_number() ? json[key].get<double>() : 0.0;
    };
    const double total = number("total");
    if (total > 0) {
        update.fraction = std::clamp(number("completed") / total, 0.0, 1.0);
        update.hasTotal = true;
    } else {
        update.fraction = update.status.contains(QLatin1String("success")) ? 1.0 : 0.0;
    }
    return {std::nullopt, update};
}

int progressTenth(double fraction) { return int(std::trunc(fraction * 10)); }

namespace {

// The lines received so far and what they said. Shared between the reply's
// signal and the coroutine waiting for the end.
struct PullStream {
    std::function<void(const PullUpdate &)> onUpdate;
    QByteArray pending; // an incomplete last line
    std::optional<QString> error;
    bool refused = false; // not an HTTP 200 reply

    void take(QNetworkReply *reply, bool atEnd) {
        if (error || refused) return;
        const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        if (status.isValid() && status.toInt() != 200) {
            refused = true;
            return;
        }
        if (reply->isOpen()) pending += reply->readAll();
        qsizetype newline;
        while (!error && (newline = pending.indexOf('\n')) >= 0) {
            const QByteArray line = pending.left(newline);
            pending.remove(0, newline + 1);
            handle(line);
        }
        if (atEnd && !error && !pending.trimmed().isEmpty()) handle(std::exchange(pending, {}));
        if (error) reply->abort(); // nothing more is wanted from this download
    }

    void handle(const QByteArray &line) {
        const PullLine parsed = parsePullLine(line);
        if (parsed.error) error = parsed.error;
        else if (parsed.update && onUpdate) onUpdate(*parsed.update);
    }
};

// The non-coroutine half: GCC mishandles lambdas built inside coroutines.
QNetworkReply *startPull(const QUrl &url, const QString &model, const std::shared_ptr<PullStream> &stream) {
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    request.setTransferTimeout(pullTimeoutMs);
    const QByteArray body = dumpCompact({{"name", utf8(model)}, {"stream", true}});
    QNetworkReply *reply = sharedNetworkManager().post(request, body);
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [reply, stream] { stream->take(reply, false); });
    return reply;
}

} // namespace

QCoro::Task<> pullModel(QString endpoint, QString model, std::function<void(const PullUpdate &)> onUpdate) {
    const auto url = Corrector::serviceUrl(endpoint, QStringLiteral("/api/pull"));
    if (!url) throw InstallError::pull(QStringLiteral("réponse HTTP invalide"));
    auto stream = std::make_shared<PullStream>();
    stream->onUpdate = std::move(onUpdate);
    std::unique_ptr<QNetworkReply, void (*)(QNetworkReply *)> reply(startPull(*url, model, stream),
                                                                      [](QNetworkReply *r) { r->deleteLater(); });
    co_await reply.get();
    stream->take(reply.get(), true);

    if (stream->error) throw InstallError::pull(*stream->error);
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (stream->refused || !status.isValid() || status.toInt() != 200)
        throw InstallError::pull(QStringLiteral("réponse HTTP invalide"));
    // A 200 whose body stopped half-way (the server quit, the connection
    // dropped, the transfer stalled) did not deliver the model.
    if (reply->error() != QNetworkReply::NoError)
        throw InstallError::pull(networkErrorDescription(reply->error(), reply->errorString()));
}

} // namespace ollama
