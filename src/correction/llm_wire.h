#pragma once
// What goes over the wire to the language-model services and how their
// replies are read: request bodies, the Ollama size estimate, the addresses,
// and the readers of the answer and model list. No network here.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

#include "core/json_coding.h"

namespace Corrector {

inline constexpr int ollamaProbeTimeoutMs = 4'000;
inline constexpr int ollamaChatTimeoutMs = 900'000;
inline constexpr int anthropicTimeoutMs = 300'000;
inline constexpr int defaultContextFloor = 8192;
inline constexpr int anthropicMaxTokens = 8192;

// Room asked of Ollama for one request, from the length of the user text.
struct OllamaSize {
    int tokens;     // rough token count of the text
    int numPredict; // most tokens the answer may take
    int numCtx;     // context window: text, answer, prompt and margin

    bool operator==(const OllamaSize &) const = default;
};
OllamaSize ollamaSize(qsizetype characters, std::optional<int> contextFloor = {});

Json ollamaChatBody(const QString &model, const QString &system, const QString &user,
                    std::optional<int> contextFloor = {});
Json anthropicBody(const QString &model, const QString &system, const QString &user);

// `endpoint` + `path` by plain concatenation; nothing when the result is not
// an http(s) address with a host.
std::optional<QUrl> serviceUrl(const QString &endpoint, const QString &path);

// The Messages API address; PARLIVO_ANTHROPIC_URL replaces it when set.
QString anthropicUrlText();

// `message.content` of an Ollama chat reply; nothing when the body is not
// such a reply (not JSON, or no text where the answer goes).
std::optional<QString> ollamaAnswer(const QByteArray &body);
// The `text` of every element of `content`, in order (empty when none has
// one); nothing when the body is not a Messages reply.
std::optional<QString> anthropicAnswer(const QByteArray &body);
// `models[].name` of an Ollama model list; elements without a text name are skipped.
QStringList ollamaModelNames(const QByteArray &body);

// The start of an error reply shown to the user: its first 300 characters
// when it is UTF-8, else nothing.
QString bodyExcerpt(const QByteArray &body);

} // namespace Corrector
