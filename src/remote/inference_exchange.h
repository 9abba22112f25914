#pragma once
// One request to whisper-server's POST /inference: the multipart form that
// carries the WAV, and the reading of what comes back (verbose_json
// segments, or the kind of fault).

#include <QByteArray>
#include <QNetworkRequest>
#include <QString>

#include <optional>

#include "core/settings.h"
#include "correction/llm_http.h"
#include "pipeline/remote_recogniser.h"

struct InferenceForm {
    QByteArray contentType; // multipart/form-data with its boundary
    QByteArray body;
};

// The form with the audio as `file`, `response_format=verbose_json` and the
// language (auto, fr or en, as the recogniser takes them).
InferenceForm inferenceForm(const QByteArray &wav, const QString &language);

// The request to the server's inference path, with the bearer header when
// the server has an access key.
QNetworkRequest inferenceRequest(const RecognitionServer &server, const QByteArray &contentType);

// The segments of a verbose_json reply; nothing when it does not decode.
std::optional<QList<Segment>> parseVerboseJson(const QByteArray &body);

// The outcome of an exchange. 400, 413, 415 and 422 say the audio is bad;
// any other fault (no answer, time-out, 5xx, other 4xx, a reply that does not
// decode) is the server's. `timedOut` when the time limit cut it off.
RemoteOutcome inferenceOutcome(const Corrector::HttpOutcome &outcome, bool timedOut);

// Sends `wav` to the server and reads its reply. The time limit (seconds)
// and `cancel` both cut the request off. Main thread only.
QCoro::Task<RemoteOutcome> sendInference(RecognitionServer server, QByteArray wav, QString language,
                                         double timeLimit, QPointer<Cancellation> cancel);

// "host:port" of an address, shown beside the file a server has in hand.
QString machineName(const QString &address);
