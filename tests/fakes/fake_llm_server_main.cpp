// fake-llm-server [PORT]
//
// Runs the stand-in language-model server on 127.0.0.1 for manual runs:
// answers echo the user's text and the model list holds the default
// correction model. Prints the port it listens on (useful with port 0) and
// serves until killed.

#include <QCoreApplication>

#include <cstdio>

#include "support/fake_llm_server.h"

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    bool ok = true;
    const quint16 port = argc > 1 ? QString::fromLocal8Bit(argv[1]).toUShort(&ok) : 0;
    if (!ok || argc > 2) {
        std::fprintf(stderr, "usage: fake-llm-server [PORT]\n");
        return 2;
    }
    testing_support::FakeLlmServer server(port);
    if (server.port() == 0) {
        std::fprintf(stderr, "fake-llm-server: cannot listen on 127.0.0.1:%u\n", unsigned(port));
        return 1;
    }
    server.setModels({QStringLiteral("qwen2.5:7b")});
    std::printf("%u\n", unsigned(server.port()));
    std::fflush(stdout);
    return app.exec();
}
