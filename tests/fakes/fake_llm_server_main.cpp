// fake-llm-server [PORT [INFERENCE_MS]]
//
// Runs the stand-in language-model server on 127.0.0.1 for manual runs:
// answers echo the user's text and the model list holds the default
// correction model. With INFERENCE_MS it also plays whisper-server: POST
// /inference answers one verbose_json segment after that many milliseconds.
// Prints the port it listens on (useful with port 0) and serves until killed.

#include <QCoreApplication>

#include <cstdio>

#include "support/fake_llm_server.h"

using testing_support::FakeLlmServer;
using testing_support::FakeReply;
using testing_support::FakeRequest;

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    bool portOk = true, delayOk = true;
    const quint16 port = argc > 1 ? QString::fromLocal8Bit(argv[1]).toUShort(&portOk) : 0;
    const int inferenceMs = argc > 2 ? QString::fromLocal8Bit(argv[2]).toInt(&delayOk) : -1;
    if (!portOk || !delayOk || argc > 3) {
        std::fprintf(stderr, "usage: fake-llm-server [PORT [INFERENCE_MS]]\n");
        return 2;
    }
    FakeLlmServer server(port);
    if (server.port() == 0) {
        std::fprintf(stderr, "fake-llm-server: cannot listen on 127.0.0.1:%u\n", unsigned(port));
        return 1;
    }
    server.setModels({QStringLiteral("qwen2.5:7b")});
    if (inferenceMs >= 0) {
        server.respondWith([inferenceMs](const FakeRequest &request) {
            if (request.path != FakeLlmServer::inferencePath) return FakeReply::answer(request.userMessage());
            return FakeReply::raw(200, R"({"task":"transcribe","text":" Ceci est un test.",)"
                                       R"("segments":[{"id":0,"text":" Ceci est un test.","start":0.0,"end":1.0}]})")
                .delayed(inferenceMs);
        });
    }
    std::printf("%u\n", unsigned(server.port()));
    std::fflush(stdout);
    return app.exec();
}
