#include "correction/corrector.h"

#include <QNetworkRequest>

#include <algorithm>

#include "correction/llm_http.h"

namespace Corrector {

namespace {

QNetworkRequest jsonRequest(const QUrl &url, int timeoutMs) {
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    request.setTransferTimeout(timeoutMs);
    return request;
}

QCoro::Task<QString> ollama(QString text, ParlivoSettings settings, std::optional<QString> system,
                            std::optional<QString> model, std::optional<int> contextFloor,
                            QPointer<Cancellation> cancel = {}) {
    const auto url = serviceUrl(settings.ollamaEndpoint, QStringLiteral("/api/chat"));
    if (!url) throw CorrectionError::unreachable(settings.ollamaEndpoint);
    const QString modelName = model && !model->isEmpty() ? *model : settings.ollamaModel;
    const QByteArray body =
        dumpCompact(ollamaChatBody(modelName, system.value_or(settings.correctionPrompt), text, contextFloor));
    const HttpOutcome outcome = co_await httpExchange(jsonRequest(*url, ollamaChatTimeoutMs), body, cancel);
    const auto answer = ollamaAnswer(answerBodyOrThrow(outcome));
    if (!answer) throw CorrectionError::unreadable();
    co_return *answer;
}

QCoro::Task<QString> anthropic(QString text, ParlivoSettings settings, std::optional<QString> system,
                               QPointer<Cancellation> cancel = {}) {
    if (settings.anthropicKey.isEmpty()) throw CorrectionError::missingKey();
    const QString address = anthropicUrlText();
    const auto url = serviceUrl(address, QString());
    if (!url) throw CorrectionError::unreachable(address);
    QNetworkRequest request = jsonRequest(*url, anthropicTimeoutMs);
    request.setRawHeader("x-api-key", settings.anthropicKey.toUtf8());
    request.setRawHeader("anthropic-version", "2023-06-01");
    const QByteArray body =
        dumpCompact(anthropicBody(settings.anthropicModel, system.value_or(settings.correctionPrompt), text));
    const HttpOutcome outcome = co_await httpExchange(request, body, cancel);
    const auto answer = anthropicAnswer(answerBodyOrThrow(outcome));
    if (!answer) throw CorrectionError::unreadable();
    co_return *answer;
}

QCoro::Task<HttpOutcome> fetchTags(QString endpoint) {
    const auto url = serviceUrl(endpoint, QStringLiteral("/api/tags"));
    // An address that is no server fails like a server that cannot be reached.
    if (!url) co_return HttpOutcome{QNetworkReply::ProtocolUnknownError, endpoint, std::nullopt, {}};
    QNetworkRequest request(*url);
    request.setTransferTimeout(ollamaProbeTimeoutMs);
    co_return co_await httpExchange(request, std::nullopt);
}

} // namespace

QCoro::Task<bool> ollamaReachable(QString endpoint) {
    const HttpOutcome outcome = co_await fetchTags(endpoint);
    co_return !isTransportFailure(outcome.error) && outcome.status == 200;
}

QCoro::Task<QStringList> ollamaModels(QString endpoint) {
    const HttpOutcome outcome = co_await fetchTags(endpoint);
    if (isTransportFailure(outcome.error)) co_return QStringList{};
    co_return ollamaModelNames(outcome.body);
}

bool modelInstalled(const QStringList &names, const QString &model) {
    return std::any_of(names.begin(), names.end(), [&](const QString &name) { return name.startsWith(model); });
}

QCoro::Task<QString> correct(QString text, ParlivoSettings settings, QPointer<Cancellation> cancel) {
    if (isTooShortToCorrect(text)) co_return text;
    if (settings.correctionBackend == CorrectionBackend::none) co_return text;

    QStringList corrected;
    const QStringList chunks = splitIntoChunks(text);
    // One piece at a time: a local server answers one request at a time
    // anyway, and a failure stops the rest from being sent.
    for (const QString &chunk : chunks) {
        if (cancel && cancel->isCancelled()) throw CorrectionError::cancelled();
        QString answer;
        if (settings.correctionBackend == CorrectionBackend::anthropic)
            answer = co_await anthropic(chunk, settings, std::nullopt, cancel);
        else
            answer = co_await ollama(chunk, settings, std::nullopt, std::nullopt, std::nullopt, cancel);
        const QString cleaned = stripPreamble(answer);
        if (cleaned.isEmpty()) throw CorrectionError::empty();
        // Kept only when it reads as this text corrected: a refusal or a
        // bare "OK" must never replace what was said.
        if (!isPlausibleCorrection(chunk, cleaned)) throw CorrectionError::implausible();
        corrected.append(cleaned);
    }
    co_return corrected.join(QStringLiteral("\n\n"));
}

QCoro::Task<QString> ask(QString system, QString user, ParlivoSettings settings, std::optional<QString> model,
                         std::optional<int> numCtx) {
    if (settings.correctionBackend == CorrectionBackend::anthropic)
        co_return co_await anthropic(user, settings, system);
    co_return co_await ollama(user, settings, system, model, numCtx);
}

} // namespace Corrector
