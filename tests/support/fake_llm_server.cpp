#include "support/fake_llm_server.h"

#include <QHttpServerRequest>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace testing_support {

// ---------------------------------------------------------------- requests

QByteArray FakeRequest::header(const QByteArray &name) const {
    for (const auto &[key, value] : headers)
        if (key.compare(name, Qt::CaseInsensitive) == 0) return value;
    return {};
}

Json FakeRequest::json() const { return Json::parse(body.constBegin(), body.constEnd(), nullptr, false); }

namespace {

QString textOf(const Json &value) {
    if (value.is_string()) return QString::fromStdString(value.get<std::string>());
    // Content given as blocks: [{"type": "text", "text": "..."}].
    QString out;
    if (value.is_array())
        for (const Json &block : value)
            if (block.is_object() && block.contains("text") && block["text"].is_string())
                out += QString::fromStdString(block["text"].get<std::string>());
    return out;
}

QString messageOfRole(const Json &body, const char *role) {
    if (!body.is_object() || !body.contains("messages") || !body["messages"].is_array()) return {};
    for (const Json &message : body["messages"])
        if (message.is_object() && message.value("role", std::string()) == role && message.contains("content"))
            return textOf(message["content"]);
    return {};
}

} // namespace

QString FakeRequest::userMessage() const { return messageOfRole(json(), "user"); }

QString FakeRequest::systemMessage() const {
    const Json body = json();
    if (body.is_object() && body.contains("system")) return textOf(body["system"]);
    return messageOfRole(body, "system");
}

QString FakeRequest::model() const {
    const Json body = json();
    if (body.is_object() && body.contains("model") && body["model"].is_string())
        return QString::fromStdString(body["model"].get<std::string>());
    return {};
}

// ---------------------------------------------------------------- replies

FakeReply FakeReply::answer(const QString &text) {
    FakeReply reply;
    reply.kind = Kind::answer;
    reply.text = text;
    return reply;
}

FakeReply FakeReply::raw(int status, const QByteArray &body, const QByteArray &contentType) {
    FakeReply reply;
    reply.kind = Kind::raw;
    reply.status = status;
    reply.body = body;
    reply.contentType = contentType;
    return reply;
}

FakeReply FakeReply::brokenJson() { return raw(200, R"({"message": {"role": "assistant", "content": "Bonj)"); }

FakeReply FakeReply::stream(const QList<QByteArray> &lines, std::optional<int> cutAfterLines) {
    FakeReply reply;
    reply.kind = Kind::stream;
    reply.lines = lines;
    reply.cutAfterLines = cutAfterLines;
    reply.contentType = "application/x-ndjson";
    return reply;
}

FakeReply FakeReply::drop() {
    FakeReply reply;
    reply.kind = Kind::drop;
    return reply;
}

FakeReply FakeReply::stopServer() {
    FakeReply reply;
    reply.kind = Kind::stopServer;
    return reply;
}

FakeReply FakeReply::after(int ms) const {
    FakeReply copy = *this;
    copy.delayMs = ms;
    return copy;
}

// ---------------------------------------------------------------- server

FakeLlmServer::FakeLlmServer(quint16 port, QObject *parent)
    : QAbstractHttpServer(parent), m_pullReply(FakeReply::stream(pullSuccessLines())) {
    echo();
    m_port = listen(QHostAddress::LocalHost, port);
}

FakeLlmServer::~FakeLlmServer() = default;

QString FakeLlmServer::endpoint() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_port); }

QString FakeLlmServer::anthropicUrl() const { return endpoint() + messagesPath; }

void FakeLlmServer::answerWith(const QString &text) {
    respondWith([text](const FakeRequest &) { return FakeReply::answer(text); });
}

void FakeLlmServer::echo(std::function<QString(const QString &)> transform) {
    respondWith([transform](const FakeRequest &request) {
        const QString user = request.userMessage();
        return FakeReply::answer(transform ? transform(user) : user);
    });
}

void FakeLlmServer::respondWith(Script script) { m_script = std::move(script); }

void FakeLlmServer::failWith(int status, const QByteArray &body) {
    respondWith([status, body](const FakeRequest &) { return FakeReply::raw(status, body); });
}

void FakeLlmServer::enqueue(const FakeReply &reply) { m_queue.append(reply); }

void FakeLlmServer::enqueue(const QList<FakeReply> &replies) { m_queue.append(replies); }

namespace {

QByteArray jsonLine(const Json &json) { return dumpCompact(json); }

} // namespace

QList<QByteArray> FakeLlmServer::pullSuccessLines(qint64 total, int steps) {
    QList<QByteArray> lines{jsonLine({{"status", "pulling manifest"}})};
    for (int step = 1; step <= steps; ++step)
        lines.append(jsonLine({{"status", "pulling 6a0746a1ec1a"},
                               {"digest", "sha256:6a0746a1ec1a"},
                               {"total", total},
                               {"completed", total * step / steps}}));
    lines.append(jsonLine({{"status", "verifying sha256 digest"}}));
    lines.append(jsonLine({{"status", "writing manifest"}}));
    lines.append(jsonLine({{"status", "success"}}));
    return lines;
}

QList<QByteArray> FakeLlmServer::pullStatusOnlyLines() {
    return {jsonLine({{"status", "pulling manifest"}}), jsonLine({{"status", "success"}})};
}

QList<QByteArray> FakeLlmServer::pullErrorLines(const QString &message) {
    return {jsonLine({{"status", "pulling manifest"}}), jsonLine({{"error", utf8(message)}})};
}

void FakeLlmServer::stop() {
    for (QTcpServer *server : servers()) server->close();
    const auto waiting = m_waiting;
    m_waiting.clear();
    for (const QPointer<QTcpSocket> &socket : waiting)
        if (socket) socket->abort();
}

bool FakeLlmServer::resume() {
    const auto all = servers();
    if (all.isEmpty()) return false;
    return all.first()->isListening() || all.first()->listen(QHostAddress::LocalHost, m_port);
}

bool FakeLlmServer::isListening() const {
    const auto all = servers();
    return !all.isEmpty() && all.first()->isListening();
}

QList<FakeRequest> FakeLlmServer::requests(const QString &path) const {
    QList<FakeRequest> matching;
    for (const FakeRequest &request : m_requests)
        if (request.path == path) matching.append(request);
    return matching;
}

void FakeLlmServer::clearRequests() {
    m_requests.clear();
    m_peakConcurrent = 0;
}

namespace {

QByteArray methodName(QHttpServerRequest::Method method) {
    switch (method) {
    case QHttpServerRequest::Method::Get: return "GET";
    case QHttpServerRequest::Method::Post: return "POST";
    case QHttpServerRequest::Method::Put: return "PUT";
    case QHttpServerRequest::Method::Delete: return "DELETE";
    case QHttpServerRequest::Method::Head: return "HEAD";
    case QHttpServerRequest::Method::Options: return "OPTIONS";
    case QHttpServerRequest::Method::Patch: return "PATCH";
    default: return "OTHER";
    }
}

QByteArray reasonPhrase(int status) {
    switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 429: return "Too Many Requests";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}

QByteArray ollamaChatReply(const FakeRequest &request, const QString &text) {
    return dumpCompact({{"model", utf8(request.model())},
                        {"created_at", "2026-01-01T00:00:00Z"},
                        {"message", {{"role", "assistant"}, {"content", utf8(text)}}},
                        {"done_reason", "stop"},
                        {"done", true}});
}

QByteArray anthropicReply(const FakeRequest &request, const QString &text) {
    return dumpCompact({{"id", "msg_fake"},
                        {"type", "message"},
                        {"role", "assistant"},
                        {"model", utf8(request.model())},
                        {"content", Json::array({{{"type", "text"}, {"text", utf8(text)}}})},
                        {"stop_reason", "end_turn"}});
}

} // namespace

bool FakeLlmServer::handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) {
    FakeRequest recorded{methodName(request.method()), request.url().path(), request.headers(), request.body()};
    m_requests.append(recorded);

    m_waiting.removeIf([](const QPointer<QTcpSocket> &s) {
        return !s || s->state() != QAbstractSocket::ConnectedState;
    });
    m_waiting.append(socket);
    m_peakConcurrent = std::max(m_peakConcurrent, int(m_waiting.size()));

    const FakeReply reply = replyFor(recorded);
    const int delay = m_delayMs + reply.delayMs;
    if (delay <= 0) {
        deliver(socket, recorded, reply);
    } else {
        QPointer<QTcpSocket> guarded(socket);
        QTimer::singleShot(delay, socket, [this, guarded, recorded, reply] {
            if (guarded) deliver(guarded, recorded, reply);
        });
    }
    return true;
}

void FakeLlmServer::missingHandler(const QHttpServerRequest &, QTcpSocket *socket) {
    writeWhole(socket, 404, "text/plain", "404 page not found");
}

FakeReply FakeLlmServer::replyFor(const FakeRequest &request) {
    const bool post = request.method == "POST";
    if (request.path == tagsPath && request.method == "GET") {
        if (m_tagsReply) return *m_tagsReply;
        Json models = Json::array();
        for (const QString &name : m_models)
            models.push_back({{"name", utf8(name)}, {"model", utf8(name)}, {"size", 4683087332LL}});
        return FakeReply::raw(200, dumpCompact({{"models", models}}));
    }
    if ((request.path == chatPath || request.path == messagesPath) && post) return nextAnswer(request);
    if (request.path == pullPath && post) return m_pullReply;
    if (request.path == tagsPath || request.path == chatPath || request.path == messagesPath ||
        request.path == pullPath)
        return FakeReply::raw(405, "405 method not allowed", "text/plain");
    return FakeReply::raw(404, "404 page not found", "text/plain");
}

FakeReply FakeLlmServer::nextAnswer(const FakeRequest &request) {
    if (!m_queue.isEmpty()) return m_queue.takeFirst();
    return m_script(request);
}

void FakeLlmServer::deliver(QTcpSocket *socket, const FakeRequest &request, const FakeReply &reply) {
    switch (reply.kind) {
    case FakeReply::Kind::answer: {
        const QByteArray body = request.path == messagesPath ? anthropicReply(request, reply.text)
                                                             : ollamaChatReply(request, reply.text);
        writeWhole(socket, 200, "application/json", body);
        break;
    }
    case FakeReply::Kind::raw:
        writeWhole(socket, reply.status, reply.contentType, reply.body);
        break;
    case FakeReply::Kind::stream:
        socket->write("HTTP/1.1 200 OK\r\nContent-Type: " + reply.contentType +
                      "\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n");
        streamFrom(socket, reply, 0);
        break;
    case FakeReply::Kind::drop:
        finished(socket);
        socket->abort();
        break;
    case FakeReply::Kind::stopServer:
        stop();
        break;
    }
}

void FakeLlmServer::writeWhole(QTcpSocket *socket, int status, const QByteArray &contentType,
                               const QByteArray &body) {
    QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status) + "\r\n";
    head += "Content-Type: " + contentType + "\r\n";
    head += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    head += "Connection: close\r\n\r\n";
    socket->write(head + body);
    finished(socket);
    socket->disconnectFromHost();
}

void FakeLlmServer::streamFrom(QPointer<QTcpSocket> socket, FakeReply reply, int index) {
    if (!socket) return;
    const bool cut = reply.cutAfterLines && index >= *reply.cutAfterLines;
    if (cut || index >= reply.lines.size()) {
        // A cut stream ends without the closing chunk, so the client sees an
        // unfinished body rather than a complete one.
        if (!cut) socket->write("0\r\n\r\n");
        finished(socket);
        socket->disconnectFromHost();
        return;
    }
    const QByteArray line = reply.lines.at(index) + '\n';
    socket->write(QByteArray::number(line.size(), 16) + "\r\n" + line + "\r\n");
    QTimer::singleShot(m_streamIntervalMs, socket, [this, socket, reply, index] { streamFrom(socket, reply, index + 1); });
}

void FakeLlmServer::finished(QTcpSocket *socket) {
    m_waiting.removeIf([socket](const QPointer<QTcpSocket> &s) { return !s || s == socket; });
}

} // namespace testing_support
