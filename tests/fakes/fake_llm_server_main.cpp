// fake-llm-server [PORT] [--models NAME,NAME] [--delay MS]
//
// Runs the stand-in language-model server on 127.0.0.1 for manual runs and
// benchmarks: answers echo the user's text, the model list holds the default
// correction model unless --models says otherwise. Prints the port it listens
// on (useful with port 0) and serves until killed.

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

#include "support/fake_llm_server.h"

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    QStringList arguments = app.arguments().mid(1);

    quint16 port = 0;
    QStringList models{QStringLiteral("qwen2.5:7b")};
    int delayMs = 0;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        const bool hasValue = i + 1 < arguments.size();
        bool ok = true;
        if (argument == QLatin1String("--models") && hasValue)
            models = arguments.at(++i).split(QLatin1Char(','), Qt::SkipEmptyParts);
        else if (argument == QLatin1String("--delay") && hasValue)
            delayMs = arguments.at(++i).toInt(&ok);
        else
            port = argument.toUShort(&ok);
        if (!ok) {
            std::fprintf(stderr, "usage: fake-llm-server [PORT] [--models NAME,NAME] [--delay MS]\n");
            return 2;
        }
    }

    testing_support::FakeLlmServer server(port);
    if (server.port() == 0) {
        std::fprintf(stderr, "fake-llm-server: cannot listen on 127.0.0.1:%u\n", unsigned(port));
        return 1;
    }
    server.setModels(models);
    server.setDelay(delayMs);
    std::printf("%u\n", unsigned(server.port()));
    std::fflush(stdout);
    return app.exec();
}
