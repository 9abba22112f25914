#include "correction/llm_wire.h"

#include <QStringDecoder>

#include <algorithm>

namespace Corrector {

OllamaSize ollamaSize(qsizetype characters, std::optional<int> contextFloor) {
    const int tokens = characters < 192 ? 64 : int(characters / 3);
    const int numPredict = std::min(int(tokens * 1.6) + 256, 4096);
    const int floor = contextFloor.value_or(defaultContextFloor);
    const int numCtx = std::min(std::max(tokens + numPredict + 1024, floor), 16384);
    return {tokens, numPredict, numCtx};
}

Json ollamaChatBody(const QString &model, const QString &system, const QString &user,
                    std::optional<int> contextFloor) {
    const OllamaSize size = ollamaSize(user.size(), contextFloor);
    Json body = Json::object();
    body["model"] = utf8(model);
    body["stream"] = false;
    body["messages"] = Json::array({
        Json{{"role", "system"}, {"content", utf8(system)}},
        Json{{"role", "user"}, {"content", utf8(user)}},
    });
    body["options"] = Json{
        {"temperature", 0.2},
        {"num_ctx", size.numCtx},
        {"num_predict", size.numPredict},
        {"repeat_penalty", 1.1},
    };
    return body;
}

Json anthropicBody(const QString &model, const QString &system, const QString &user) {
    Json body = Json::object();
    body["model"] = utf8(model);
    body["max_tokens"] = anthropicMaxTokens;
    body["system"] = utf8(system);
    body["messages"] = Json::array({Json{{"role", "user"}, {"content", utf8(user)}}});
    return body;
}

std::optional<QUrl> serviceUrl(const QString &endpoint, const QString &path) {
    QUrl url(endpoint + path, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")) ||
        url.host().isEmpty())
        return std::nullopt;
    return url;
}

QString anthropicUrlText() {
    const QString replacement = qEnvironmentVariable("PARLIVO_ANTHROPIC_URL");
    return replacement.isEmpty() ? QStringLiteral("https://api.anthropic.com/v1/messages") : replacement;
}

namespace {

// The parsed body when it is a JSON object, else nothing.
std::optional<Json> jsonObject(const QByteArray &body) {
    Json json = Json::parse(body.constBegin(), body.constEnd(), nullptr, false);
    if (json.is_discarded() || !json.is_object()) return std::nullopt;
    return json;
}

QString text(const Json &value) { return QString::fromStdString(value.get_ref<const std::string &>()); }

} // namespace

std::optional<QString> ollamaAnswer(const QByteArray &body) {
    const auto json = jsonObject(body);
    if (!json) return std::nullopt;
    const Json *message = jsonfield::find(*json, "message");
    if (!message || !message->is_object()) return std::nullopt;
    const Json *content = jsonfield::find(*message, "content");
    if (!content || !content->is_string()) return std::nullopt;
    return text(*content);
}

std::optional<QString> anthropicAnswer(const QByteArray &body) {
    const auto json = jsonObject(body);
    if (!json) return std::nullopt;
    const Json *content = jsonfield::find(*json, "content");
    if (!content || !content->is_array()) return std::nullopt;
    QString answer;
    for (const Json &element : *content) {
        if (!element.is_object()) return std::nullopt;
        const Json *piece = jsonfield::find(element, "text");
        if (piece && piece->is_string()) answer += text(*piece);
    }
    return answer;
}

QStringList ollamaModelNames(const QByteArray &body) {
    const auto json = jsonObject(body);
    if (!json) return {};
    const Json *models = jsonfield::find(*json, "models");
    if (!models || !models->is_array()) return {};
    QStringList names;
    for (const Json &model : *models) {
        if (!model.is_object()) continue;
        const Json *name = jsonfield::find(model, "name");
        if (name && name->is_string()) names.append(text(*name));
    }
    return names;
}

QString bodyExcerpt(const QByteArray &body) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString decoded = decoder.decode(body);
    if (decoder.hasError()) return {};
    QString excerpt = decoded.left(300);
    // Never end on half a surrogate pair.
    if (!excerpt.isEmpty() && excerpt.back().isHighSurrogate()) excerpt.chop(1);
    return excerpt;
}

} // namespace Corrector
