// Local whisper models and their download, against real HTTP on 127.0.0.1.

#include "provisioning/downloader.h"
#include "provisioning/model_catalog.h"
#include "support/test_support.h"

#include <QDir>
#include <QFile>
#include <QHttpServer>
#include <QHttpServerResponse>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <memory>

using namespace testing_support;

namespace {

QByteArray modelBytes(int size) {
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i) bytes[i] = char('a' + i % 26);
    return bytes;
}

const QByteArray model = modelBytes(4 * 1024 * 1024);

// Serves /models/<name>, a redirect to it, and a missing file.
class ModelServer {
public:
    ModelServer() {
        m_server.route("/models/<arg>", [](const QString &) { return QHttpServerResponse(model); });
        m_server.route("/moved/<arg>", [this](const QString &name) {
            QHttpServerResponse response(QHttpServerResponse::StatusCode::Found);
            response.addHeader("Location", base().toUtf8() + "models/" + name.toUtf8());
            return response;
        });
        m_port = m_server.listen(QHostAddress::LocalHost, 0);
    }
    QString base() const { return QStringLiteral("http://127.0.0.1:%1/").arg(m_port); }
    QUrl url(const QString &path) const { return QUrl(base() + path); }

private:
    QHttpServer m_server;
    quint16 m_port = 0;
};

// Announces a large body and sends two pieces of it, the second late enough
// for a progress report; then hangs up or keeps waiting.
class PartialServer {
public:
    explicit PartialServer(bool hangUp) {
        m_server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&m_server, &QTcpServer::newConnection, [this, hangUp] {
            QTcpSocket *socket = m_server.nextPendingConnection();
            auto request = std::make_shared<QByteArray>();
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket, hangUp, request] {
                *request += socket->readAll();
                if (!request->contains("\r\n\r\n")) return;
                socket->write("HTTP/1.1 200 OK\r\nContent-Length: 1000000\r\n\r\n");
                socket->write(modelBytes(50000));
                QTimer::singleShot(400, socket, [socket, hangUp] {
                    socket->write(modelBytes(50000));
                    socket->flush();
                    if (hangUp) socket->disconnectFromHost();
                });
            });
        });
    }
    QUrl url(const QString &name) const {
        return QUrl(QStringLiteral("http://127.0.0.1:%1/%2").arg(m_server.serverPort()).arg(name));
    }

private:
    QTcpServer m_server;
};

// Every completion of one start, as it arrived.
struct Outcome {
    int calls = 0;
    std::optional<QString> error;
    Downloader::Completion callback() {
        return [this](std::optional<QString> e) {
            ++calls;
            error = std::move(e);
        };
    }
};

QStringList folderContents(const QString &path) {
    return QDir(path).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

QByteArray contents(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

TEST(ModelCatalog, ListsModelFilesInAnyCaseSortedByName) {
    QTemporaryDir dir;
    const QString hestia = dir.filePath(".hestia");
    writeFile(hestia + "/ggml-small.BIN", "12345");
    writeFile(hestia + "/ggml-base.bin", "123");
    writeFile(hestia + "/notes.txt", "x");
    writeFile(hestia + "/nested/ggml-medium.bin", "x");
    const QString elsewhere = writeFile(dir.filePath("elsewhere/custom.bin"), "1234567");

    QList<ModelInfo> models = listModels(hestia, elsewhere);
    ASSERT_EQ(models.size(), 3);
    EXPECT_EQ(models[0].name, "custom.bin");
    EXPECT_EQ(models[0].path, elsewhere);
    EXPECT_EQ(models[0].sizeBytes, 7);
    EXPECT_EQ(models[1].name, "ggml-base.bin");
    EXPECT_EQ(models[1].path, hestia + "/ggml-base.bin");
    EXPECT_EQ(models[1].sizeBytes, 3);
    EXPECT_EQ(models[2].name, "ggml-small.BIN");

    // The chosen model is listed once even when named in another way.
    models = listModels(hestia, hestia + "/../.hestia/ggml-base.bin");
    EXPECT_EQ(models.size(), 2);

    // A chosen model that is gone is not listed; a missing folder lists nothing.
    EXPECT_EQ(listModels(hestia, dir.filePath("gone.bin")).size(), 2);
    EXPECT_TRUE(listModels(dir.filePath("absent"), QString()).isEmpty());
}

TEST(ModelCatalog, DownloadAddressFollowsTheBaseOverride) {
    qunsetenv("PARLIVO_MODEL_BASE_URL");
    EXPECT_EQ(modelDownloadUrl("ggml-base.bin").toString(),
              "https://huggingface.co/ggerganov/whisper.cpp/resolve/main/ggml-base.bin");
    const auto &catalog = DownloadableModel::catalog();
    ASSERT_EQ(catalog.size(), 6);
    EXPECT_TRUE(std::any_of(catalog.begin(), catalog.end(),
                            [](const DownloadableModel &m) { return m.filename == "ggml-large-v3.bin"; }))
        << "the automatic first download needs the default model";

    ModelServer server;
    qputenv("PARLIVO_MODEL_BASE_URL", (server.base() + "models/").toUtf8());
    const QUrl url = modelDownloadUrl("ggml-base.bin");
    qunsetenv("PARLIVO_MODEL_BASE_URL");
    EXPECT_EQ(url, server.url("models/ggml-base.bin"));

    QTemporaryDir dir;
    Downloader downloader;
    Outcome outcome;
    downloader.start(url, dir.filePath("ggml-base.bin"), outcome.callback());
    ASSERT_TRUE(spinUntil([&] { return outcome.calls > 0; }));
    EXPECT_FALSE(outcome.error);
    EXPECT_EQ(contents(dir.filePath("ggml-base.bin")), model);
}

TEST(Downloader, DownloadsIntoPlaceWithProgress) {
    ModelServer server;
    QTemporaryDir dir;
    const QString destination = dir.filePath("models/deep/ggml-test.bin");
    writeFile(destination, "an older copy");

    Downloader downloader;
    QList<double> progress;
    QObject::connect(&downloader, &Downloader::progressChanged, [&](double p) { progress.append(p); });
    Outcome outcome;
    // The address redirects, as the real model host does.
    downloader.start(server.url("moved/ggml-test.bin"), destination, outcome.callback());
    EXPECT_TRUE(downloader.isDownloading());
    EXPECT_EQ(downloader.statusText(), QStringLiteral("Téléchargement de ggml-test.bin…"));
    EXPECT_EQ(outcome.calls, 0) << "the completion must not run inside start()";

    ASSERT_TRUE(spinUntil([&] { return outcome.calls > 0; }));
    EXPECT_EQ(outcome.calls, 1);
    EXPECT_FALSE(outcome.error) << outcome.error->toStdString();
    EXPECT_FALSE(downloader.isDownloading());
    EXPECT_EQ(downloader.progress(), 1.0);
    EXPECT_EQ(downloader.statusText(), QStringLiteral("Téléchargé : ggml-test.bin"));
    EXPECT_EQ(contents(destination), model);
    EXPECT_EQ(folderContents(dir.filePath("models/deep")), QStringList{"ggml-test.bin"});
    ASSERT_FALSE(progress.isEmpty());
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
}

TEST(Downloader, ErrorStatusLeavesTheDestinationAlone) {
    ModelServer server;
    QTemporaryDir dir;
    const QString destination = writeFile(dir.filePath("ggml-base.bin"), "the model in use");

    Downloader downloader;
    Outcome outcome;
    downloader.start(server.url("nothing/ggml-base.bin"), destination, outcome.callback());
    ASSERT_TRUE(spinUntil([&] { return outcome.calls > 0; }));
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(*outcome.error, "Réponse HTTP 404");
    EXPECT_EQ(downloader.statusText(), QStringLiteral("Échec : Réponse HTTP 404"));
    EXPECT_FALSE(downloader.isDownloading());
    EXPECT_EQ(contents(destination), "the model in use");
    EXPECT_EQ(folderContents(dir.path()), QStringList{"ggml-base.bin"});

    // Nothing listening: a French reason, no file.
    const QString absent = dir.filePath("other/ggml-small.bin");
    Outcome refused;
    downloader.start(QUrl("http://127.0.0.1:1/ggml-small.bin"), absent, refused.callback());
    ASSERT_TRUE(spinUntil([&] { return refused.calls > 0; }));
    ASSERT_TRUE(refused.error);
    EXPECT_EQ(downloader.statusText(), QStringLiteral("Échec : connexion refusée par le serveur"));
    EXPECT_FALSE(QFile::exists(absent));
}

TEST(Downloader, TransferCutMidwayLeavesNoPartialFile) {
    PartialServer server(true);
    QTemporaryDir dir;
    const QString destination = dir.filePath("ggml-base.bin");
    Downloader downloader;
    Outcome outcome;
    downloader.start(server.url("ggml-base.bin"), destination, outcome.callback());
    ASSERT_TRUE(spinUntil([&] { return outcome.calls > 0; }));
    ASSERT_TRUE(outcome.error);
    EXPECT_TRUE(downloader.statusText().startsWith(QStringLiteral("Échec : "))) << downloader.statusText().toStdString();
    EXPECT_GT(downloader.progress(), 0.0);
    EXPECT_LT(downloader.progress(), 1.0);
    EXPECT_TRUE(folderContents(dir.path()).isEmpty()) << folderContents(dir.path()).join(' ').toStdString();
}

TEST(Downloader, UnwritableDestinationIsASaveFailure) {
    ModelServer server;
    QTemporaryDir dir;
    writeFile(dir.filePath("blocker"), "a file where a folder should be");
    Downloader downloader;
    Outcome outcome;
    downloader.start(server.url("models/ggml-base.bin"), dir.filePath("blocker/ggml-base.bin"), outcome.callback());
    ASSERT_TRUE(spinUntil([&] { return outcome.calls > 0; }));
    EXPECT_EQ(outcome.calls, 1);
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(downloader.statusText(), QStringLiteral("Échec de l'enregistrement"));
    EXPECT_FALSE(downloader.isDownloading());
}

TEST(Downloader, NewStartReplacesTheRunningTransfer) {
    PartialServer stalled(false);
    ModelServer server;
    QTemporaryDir dir;
    Downloader downloader;
    Outcome first;
    Outcome second;
    downloader.start(stalled.url("ggml-large-v3.bin"), dir.filePath("first/ggml-large-v3.bin"), first.callback());
    ASSERT_TRUE(spinUntil([&] { return downloader.progress() > 0; }));

    downloader.start(server.url("models/ggml-base.bin"), dir.filePath("second/ggml-base.bin"), second.callback());
    EXPECT_EQ(downloader.statusText(), QStringLiteral("Téléchargement de ggml-base.bin…"));
    ASSERT_TRUE(spinUntil([&] { return second.calls > 0; }));
    spin(100);
    EXPECT_EQ(first.calls, 1);
    EXPECT_TRUE(first.error);
    EXPECT_EQ(second.calls, 1);
    EXPECT_FALSE(second.error);
    EXPECT_EQ(downloader.statusText(), QStringLiteral("Téléchargé : ggml-base.bin"));
    EXPECT_TRUE(folderContents(dir.filePath("first")).isEmpty()) << "the abandoned transfer left a file";
    EXPECT_EQ(contents(dir.filePath("second/ggml-base.bin")), model);
}
