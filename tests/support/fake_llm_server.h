#pragma once
// An in-process stand-in for the language-model services: the Ollama server
// (GET /api/tags, POST /api/chat, POST /api/pull) and the Anthropic Messages
// API (POST /v1/messages), on 127.0.0.1 with a free port. The test scripts
// the replies and reads back every request it received.
//
// Replies are written on the raw connection (one request per connection,
// "Connection: close"), so a test can also delay them, stream them line by
// line, cut them half-way or drop the connection without an answer.

#include <QAbstractHttpServer>
#include <QByteArray>
#include <QHash>
#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

#include "core/json_coding.h"

class QTcpSocket;

namespace testing_support {

struct FakeRequest {
    QByteArray method; // "GET", "POST", ...
    QString path;      // "/api/chat"
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;

    // A header value, name compared case-insensitively; empty when absent.
    QByteArray header(const QByteArray &name) const;
    // The body parsed as JSON; a discarded value when it is not JSON.
    Json json() const;
    // Chat and messages calls: the user's text, the system text and the model asked for.
    QString userMessage() const;
    QString systemMessage() const;
    QString model() const;
};

struct FakeReply {
    enum class Kind {
        answer,     // `text` wrapped in the reply shape of the path asked (Ollama or Anthropic)
        raw,        // `status` and `body` as they are
        stream,     // 200, `lines` sent one by one as a chunked body of JSON lines
        drop,       // the connection is closed without any answer (Qt's client resends
                    // such a request once: script it for every request to make it fail)
        stopServer, // the whole server goes down (see FakeLlmServer::stop)
        partial,    // 200 announcing `announced` bytes, `body` sent at once and again 400 ms
                    // later; then the connection is closed if `hangUp`, else left waiting
    };
    Kind kind = Kind::answer;
    QString text;
    int status = 200;
    QByteArray body;
    QList<QByteArray> lines;
    std::optional<int> cutAfterLines; // stream: close after this many lines, unfinished
    int delayMs = 0;                  // this reply only, on top of the server's delay
    QList<QPair<QByteArray, QByteArray>> headers; // raw: sent with the status
    qint64 announced = 0;
    bool hangUp = false;

    FakeReply delayed(int ms) const {
        FakeReply reply = *this;
        reply.delayMs = ms;
        return reply;
    }

    static FakeReply of(Kind kind, int status = 200, const QByteArray &body = {}) {
        FakeReply reply;
        reply.kind = kind;
        reply.status = status;
        reply.body = body;
        return reply;
    }
    static FakeReply answer(const QString &text) {
        FakeReply reply;
        reply.text = text;
        return reply;
    }
    static FakeReply raw(int status, const QByteArray &body) { return of(Kind::raw, status, body); }
    static FakeReply error(int status, const QByteArray &body) { return of(Kind::raw, status, body); }
    static FakeReply brokenJson() { return raw(200, R"({"message": {"role": "assistant", "content": "Bonj)"); }
    static FakeReply stream(const QList<QByteArray> &lines, std::optional<int> cutAfterLines = {}) {
        FakeReply reply = of(Kind::stream);
        reply.lines = lines;
        reply.cutAfterLines = cutAfterLines;
        return reply;
    }
    static FakeReply drop() { return of(Kind::drop); }
    static FakeReply redirect(const QString &location) {
        FakeReply reply = of(Kind::raw, 302);
        reply.headers = {{"Location", location.toUtf8()}};
        return reply;
    }
    static FakeReply partial(qint64 announced, const QByteArray &piece, bool hangUp) {
        FakeReply reply = of(Kind::partial, 200, piece);
        reply.announced = announced;
        reply.hangUp = hangUp;
        return reply;
    }
    static FakeReply stopServer() { return of(Kind::stopServer); }
};

class FakeLlmServer : public QAbstractHttpServer {
public:
    using Script = std::function<FakeReply(const FakeRequest &)>;

    static inline const QString tagsPath = QStringLiteral("/api/tags");
    static inline const QString chatPath = QStringLiteral("/api/chat");
    static inline const QString pullPath = QStringLiteral("/api/pull");
    static inline const QString messagesPath = QStringLiteral("/v1/messages");
    // Stands in for whisper-server too: answered like the chat paths.
    static inline const QString inferencePath = QStringLiteral("/inference");

    // Listens on 127.0.0.1:`port` (0: a free port). port() is 0 when that failed.
    explicit FakeLlmServer(quint16 port = 0, QObject *parent = nullptr);

    quint16 port() const { return m_port; }
    QString endpoint() const;     // "http://127.0.0.1:PORT": an ollamaEndpoint
    QString anthropicUrl() const; // endpoint() + "/v1/messages": for PARLIVO_ANTHROPIC_URL

    // ---- Answers of /api/chat and /v1/messages ----
    // Queued replies are used first, in order; then the script. The default
    // script echoes the user's text.
    void answerWith(const QString &text);
    void echo(std::function<QString(const QString &)> transform = {});
    void respondWith(Script script) { m_script = std::move(script); }
    void failWith(int status, const QByteArray &body);
    void enqueue(const FakeReply &reply) { m_queue.append(reply); }
    void enqueue(const QList<FakeReply> &replies) { m_queue.append(replies); }
    // Added to the delay of every reply, on every path.
    void setDelay(int ms) { m_delayMs = ms; }

    // ---- GET /api/tags ----
    void setModels(const QStringList &names) { m_models = names; }
    // Replaces the model list reply (an error status, broken JSON...); nothing restores the list.
    void setTagsReply(std::optional<FakeReply> reply) { m_tagsReply = std::move(reply); }

    // ---- POST /api/pull (default: a successful download of 4 steps) ----
    void setPullReply(const FakeReply &reply) { m_pullReply = reply; }
    // "pulling manifest", `steps` progress lines with total and completed, then "success".
    static QList<QByteArray> pullSuccessLines(qint64 total = 4'000'000, int steps = 4);
    // "pulling manifest", then a line with `error`.
    static QList<QByteArray> pullErrorLines(const QString &message);

    // ---- Files, as a download host serves them ----
    // A GET of `path` (any but /api/tags) gets `reply`; other paths get 404.
    void serve(const QString &path, const FakeReply &reply) { m_files.insert(path, reply); }
    void unserve(const QString &path) { m_files.remove(path); }

    // ---- Going down and coming back ----
    // Closes the listening socket and every open connection: requests in
    // flight fail and new ones are refused, as with a server that quit.
    void stop();
    // Listens again on the same port.
    bool resume();

    // ---- What was received ----
    const QList<FakeRequest> &requests() const { return m_requests; }
    QList<FakeRequest> requests(const QString &path) const;
    int count(const QString &path) const { return int(requests(path).size()); }
    // The most requests that were waiting for their answer at the same moment.
    int peakConcurrent() const { return m_peakConcurrent; }
    void clearRequests() {
        m_requests.clear();
        m_peakConcurrent = 0;
    }

protected:
    bool handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) override;
    void missingHandler(const QHttpServerRequest &request, QTcpSocket *socket) override;

private:
    FakeReply replyFor(const FakeRequest &request);
    void deliver(QTcpSocket *socket, const FakeRequest &request, const FakeReply &reply);
    void writeWhole(QTcpSocket *socket, int status, const QByteArray &body,
                    const QList<QPair<QByteArray, QByteArray>> &headers = {});
    void streamFrom(QPointer<QTcpSocket> socket, FakeReply reply, int index);
    void finished(QTcpSocket *socket);

    quint16 m_port = 0;
    QList<FakeRequest> m_requests;
    QList<FakeReply> m_queue;
    Script m_script;
    QStringList m_models;
    std::optional<FakeReply> m_tagsReply;
    QHash<QString, FakeReply> m_files;
    FakeReply m_pullReply;
    int m_delayMs = 0;
    QList<QPointer<QTcpSocket>> m_waiting; // requests not answered yet
    int m_peakConcurrent = 0;
};

} // namespace testing_support
