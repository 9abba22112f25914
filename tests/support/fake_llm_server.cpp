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

QString textAt(const Json &object, const char *key) {
    if (!object.is_object() || !object.contains(key) || !object[key].is_string()) return {};
    return QString::fromStdString(object[key].get<std::string>());
}

QString messageOfRole(const Json &body, const char *role) {
    if (!body.is_object() || !body.contains("messages") || !body["messages"].is_array()) return {};
    for (const Json &message : body["messages"])
        if (textAt(message, "role") == QLatin1String(role)) return textAt(message, "content");
    return {};
}

} // namespace

QString FakeRequest::userMessage() const { return messageOfRole(json(), "user"); }

QString FakeRequest::systemMessage() const {
    const Json body = json();
    return body.is_object() && body.contains("system") ? textAt(body, "system") : messageOfRole(body, "system");
}

QString FakeRequest::model() const { return textAt(json(), "model"); }

// ---------------------------------------------------------------- server

FakeLlmServer::FakeLlmServer(quint16 port, QObject *parent)
    : QAbstractHttpServer(parent), m_pullReply(FakeReply::stream(pullSuccessLines())) {
    echo();
    m_port = listen(QHostAddress::LocalHost, port);
}

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

void FakeLlmServer::failWith(int status, const QByteArray &body) {
    respondWith([status, body](const FakeRequest &) { return FakeReply::raw(status, body); });
}

QList<QByteArray> FakeLlmServer::pullSuccessLines(qint64 total, int steps) {
    QList<QByteArray> lines{dumpCompact({{"status", "pulling manifest"}})};
    for (int step = 1; step <= steps; ++step)
        lines.append(dumpCompact({{"status", "pulling 6a0746a1ec1a"}, {"total", total}, {"completed", total * step / steps}}));
    lines.append(dumpCompact({{"status", "verifying sha256 digest"}}));
    lines.append(dumpCompact({{"status", "success"}}));
    return lines;
}

QList<QByteArray> FakeLlmServer::pullErrorLines(const QString &message) {
    return {dumpCompact({{"status", "pulling manifest"}}), dumpCompact({{"error", utf8(message)}})};
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

QList<FakeRequest> FakeLlmServer::requests(const QString &path) const {
    QList<FakeRequest> matching;
    for (const FakeRequest &request : m_requests)
        if (request.path == path) matching.append(request);
    return matching;
}

bool FakeLlmServer::handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) {
    const QByteArray method = request.method() == QHttpServerRequest::Method::Get    ? "GET"
                              : request.method() == QHttpServerRequest::Method::Post ? "POST"
                                                                                     : "OTHER";
    FakeRequest recorded{method, request.url().path(), request.headers(), request.body()};
    m_requests.append(recorded);

    m_waiting.removeIf([](const QPointer<QTcpSocket> &s) { return !s || s->state() != QAbstractSocket::ConnectedState; });
    m_waiting.append(socket);
    m_peakConcurrent = std::max(m_peakConcurrent, int(m_waiting.size()));

    const FakeReply reply = replyFor(recorded);
    const int delayMs = m_delayMs + reply.delayMs;
    if (delayMs <= 0) {
        deliver(socket, recorded, reply);
    } else {
        QPointer<QTcpSocket> guarded(socket);
        QTimer::singleShot(delayMs, socket, [this, guarded, recorded, reply] {
            if (guarded) deliver(guarded, recorded, reply);
        });
    }
    return true;
}

void FakeLlmServer::missingHandler(const QHttpServerRequest &, QTcpSocket *socket) {
    writeWhole(socket, 404, "404 page not found");
}

FakeReply FakeLlmServer::replyFor(const FakeRequest &request) {
    if (request.path == tagsPath && request.method == "GET") {
        if (m_tagsReply) return *m_tagsReply;
        Json models = Json::array();
        for (const QString &name : m_models) models.push_back({{"name", utf8(name)}, {"model", utf8(name)}});
        return FakeReply::raw(200, dumpCompact({{"models", models}}));
    }
    if (request.method == "GET") return m_files.value(request.path, FakeReply::raw(404, "404 page not found"));
    if (request.method != "POST") return FakeReply::raw(404, "404 page not found");
    if (request.path == chatPath || request.path == messagesPath || request.path == inferencePath) {
        if (!m_queue.isEmpty()) return m_queue.takeFirst();
        return m_script(request);
    }
    if (request.path == pullPath) return m_pullReply;
    return FakeReply::raw(404, "404 page not found");
}

void FakeLlmServer::deliver(QTcpSocket *socket, const FakeRequest &request, const FakeReply &reply) {
    switch (reply.kind) {
    case FakeReply::Kind::answer: {
        const std::string text = utf8(reply.text);
        const Json body = request.path == messagesPath
                              ? Json{{"type", "message"}, {"content", Json::array({{{"type", "text"}, {"text", text}}})}}
                              : Json{{"message", {{"role", "assistant"}, {"content", text}}}, {"done", true}};
        writeWhole(socket, 200, dumpCompact(body));
        break;
    }
    case FakeReply::Kind::raw:
        writeWhole(socket, reply.status, reply.body, reply.headers);
        break;
    case FakeReply::Kind::partial: {
        socket->write("HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(reply.announced) + "\r\n\r\n" +
                      reply.body);
        QPointer<QTcpSocket> guarded(socket);
        QTimer::singleShot(400, socket, [this, guarded, reply] {
            if (!guarded) return;
            guarded->write(reply.body);
            guarded->flush();
            if (!reply.hangUp) return;
            finished(guarded);
            guarded->disconnectFromHost();
        });
        break;
    }
    case FakeReply::Kind::stream:
        socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/x-ndjson\r\nTransfer-Encoding: chunked\r\n"
                      "Connection: close\r\n\r\n");
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

void FakeLlmServer::writeWhole(QTcpSocket *socket, int status, const QByteArray &body,
                               const QList<QPair<QByteArray, QByteArray>> &headers) {
    // Clients read the status code; the reason phrase is the same for all.
    QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + " Reply\r\nContent-Type: application/json\r\n";
    for (const auto &[name, value] : headers) head += name + ": " + value + "\r\n";
    socket->write(head + "Content-Length: " + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" +
                  body);
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
    QTimer::singleShot(5, socket, [this, socket, reply, index] { streamFrom(socket, reply, index + 1); });
}

void FakeLlmServer::finished(QTcpSocket *socket) {
    m_waiting.removeIf([socket](const QPointer<QTcpSocket> &s) { return !s || s == socket; });
}

} // namespace testing_support
