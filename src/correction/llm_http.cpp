#include "correction/llm_http.h"

#include <QNetworkAccessManager>
#include <qcoro/qcoronetworkreply.h>

#include <memory>

#include "core/network.h"
#include "correction/correction_error.h"
#include "correction/llm_wire.h"

namespace Corrector {

QCoro::Task<HttpOutcome> httpExchange(QNetworkRequest request, std::optional<QByteArray> postBody,
                                      QPointer<Cancellation> cancel) {
    QNetworkAccessManager &network = sharedNetworkManager();
    std::unique_ptr<QNetworkReply, void (*)(QNetworkReply *)> reply(
        postBody ? network.post(request, *postBody) : network.get(request),
        [](QNetworkReply *r) { r->deleteLater(); });
    // A model may take minutes to answer: a cancel does not wait for it. The
    // abort comes from the event loop, not from inside whoever cancelled.
    if (cancel)
        QObject::connect(cancel, &Cancellation::cancelled, reply.get(), &QNetworkReply::abort, Qt::QueuedConnection);
    if (cancel && cancel->isCancelled()) reply->abort();
    co_await reply.get();

    HttpOutcome outcome;
    outcome.cancelled = cancel && cancel->isCancelled() && reply->error() == QNetworkReply::OperationCanceledError;
    outcome.error = reply->error();
    outcome.errorText = reply->errorString();
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid()) outcome.status = status.toInt();
    if (reply->isOpen()) outcome.body = reply->readAll(); // closed after an abort or a time-out
    co_return outcome;
}

bool isTransportFailure(QNetworkReply::NetworkError error) {
    // Qt reports HTTP error statuses as errors too: 4xx as content errors
    // (201-299, and 400 as ProtocolInvalidOperationError), 5xx as server
    // errors (401-499). Everything else below HTTP is a transport failure.
    if (error == QNetworkReply::NoError || error == QNetworkReply::ProtocolInvalidOperationError) return false;
    const int code = int(error);
    return !((code >= 201 && code <= 299) || (code >= 401 && code <= 499));
}

QByteArray answerBodyOrThrow(const HttpOutcome &outcome) {
    if (outcome.cancelled) throw CorrectionError::cancelled();
    if (isTransportFailure(outcome.error)) throw CorrectionError::unreachable(outcome.errorText);
    if (!outcome.status) throw CorrectionError::empty();
    if (*outcome.status != 200) throw CorrectionError::http(*outcome.status, bodyExcerpt(outcome.body));
    return outcome.body;
}

} // namespace Corrector
