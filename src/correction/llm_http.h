#pragma once
// One HTTP exchange with a language-model service, and the rule that turns
// its outcome into the answer body or a CorrectionError.

#include <QByteArray>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QString>

#include <optional>

#include <qcoro/qcorotask.h>

#include "core/cancellation.h"

namespace Corrector {

struct HttpOutcome {
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    QString errorText;         // the platform's description of `error`
    std::optional<int> status; // nothing when no HTTP reply came
    QByteArray body;
    bool cancelled = false; // cut off by the caller's cancellation
};

// Sends `request` (a POST when `postBody` is given, else a GET) on the shared
// client and waits for the whole reply, or aborts it as soon as `cancel` is
// cancelled. Never throws. Main thread only.
QCoro::Task<HttpOutcome> httpExchange(QNetworkRequest request, std::optional<QByteArray> postBody,
                                      QPointer<Cancellation> cancel = {});

// True when the exchange failed below HTTP (refused, reset, timed out),
// as opposed to an HTTP error status the client reports as an error too.
bool isTransportFailure(QNetworkReply::NetworkError error);

// The body of a 200 reply. Throws CorrectionError: cancelled when the caller
// cut the exchange off, unreachable for a transport failure, empty without an
// HTTP reply, http for another status.
QByteArray answerBodyOrThrow(const HttpOutcome &outcome);

} // namespace Corrector
