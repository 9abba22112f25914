// Local whisper models and their download, against real HTTP on 127.0.0.1.

#include "provisioning/downloader.h"
#include "provisioning/model_catalog.h"
#include "support/test_support.h"

#include <QFile>
#include <QHttpServer>
#include <QHttpServerResponse>
#include <QTcpServer>
#include <QTcpSocket>
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
struct Completions {
    int calls = 0;
    std::optional<QString> error;
};

std::shared_ptr<Completions> start(Downloader &downloader, const QUrl &url, const QString &destination) {
    auto outcome = std::make_shared<Completions>();
    downloader.start(url, destination, [outcome](std::optional<QString> e) {
        ++outcome->calls;
        outcome->error = std::move(e);
    });
    return outcome;
}

bool finished(const std::shared_ptr<Completions> &outcome) { return spinUntil([&] { return outcome->calls > 0; }); }

QStringList folderContents(const QString &path) {
    return QDir(path).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

QByteArray contents(const QString &path) { return readWholeFile(path).value_or(QByteArray()); }

} // namespace

TEST(ModelCatalog, ListsModelFilesInAnyCaseSortedByName) {
    QTemporaryDir dir;
    const QString hestia = dir.filePath(".hestia");
    writeFile(hestia + "/ggml-small.BIN", "12345");
    writeFile(hestia + "/ggml-base.bin", "123");
    writeFile(hestia + "/notes.txt", "x");
    writeFile(hestia + "/nested/ggml-medium.bin", "x");
    const QString elsewhere = writeFile(dir.filePath("elsewhere/custom.bin"), "1234567");

    const QList<ModelInfo> models = listModels(hestia, elsewhere);
    ASSERT_EQ(models.size(), 3);
    EXPECT_EQ(models[0].path, elsewhere);
    EXPECT_EQ(models[0].sizeBytes, 7);
    EXPECT_EQ(models[1].name, "ggml-base.bin");
    EXPECT_EQ(models[2].name, "ggml-small.BIN");
    // The chosen model is listed once even when named in another way; one that is gone is not listed.
    EXPECT_EQ(listModels(hestia, hestia + "/../.hestia/ggml-base.bin").size(), 2);
    EXPECT_EQ(listModels(hestia, dir.filePath("gone.bin")).size(), 2);
    EXPECT_TRUE(listModels(dir.filePath("absent"), QString()).isEmpty());

    qunsetenv("PARLIVO_MODEL_BASE_URL");
    EXPECT_EQ(modelDownloadUrl("ggml-base.bin").toString(),
              "https://huggingface.co/ggerganov/whisper.cpp/resolve/main/ggml-base.bin");
    ScopedEnv base{"PARLIVO_MODEL_BASE_URL", "http://127.0.0.1:9/models/"};
    EXPECT_EQ(modelDownloadUrl("ggml-base.bin").toString(), "http://127.0.0.1:9/models/ggml-base.bin");
}

TEST(Downloader, DownloadsIntoPlaceWithProgressAndANewStartReplacesTheRunningTransfer) {
    ModelServer server;
    QTemporaryDir dir;
    const QString destination = writeFile(dir.filePath("models/deep/ggml-test.bin"), "an older copy");
    Downloader downloader;
    QList<double> progress;
    QObject::connect(&downloader, &Downloader::progressChanged, [&](double p) { progress.append(p); });
    // The address redirects, as the real model host does.
    const auto outcome = start(downloader, server.url("moved/ggml-test.bin"), destination);
    EXPECT_TRUE(downloader.isDownloading());
    EXPECT_EQ(downloader.statusText(), "Téléchargement de ggml-test.bin…");
    EXPECT_EQ(outcome->calls, 0) << "the completion must not run inside start()";

    ASSERT_TRUE(finished(outcome));
    EXPECT_EQ(outcome->calls, 1);
    EXPECT_FALSE(outcome->error) << outcome->error->toStdString();
    EXPECT_FALSE(downloader.isDownloading());
    EXPECT_EQ(downloader.progress(), 1.0);
    EXPECT_EQ(downloader.statusText(), "Téléchargé : ggml-test.bin");
    EXPECT_EQ(contents(destination), model);
    EXPECT_EQ(folderContents(dir.filePath("models/deep")), QStringList{"ggml-test.bin"});
    ASSERT_FALSE(progress.isEmpty());
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));

    // A new start replaces the running transfer.
    PartialServer stalled(false);
    const auto first = start(downloader, stalled.url("ggml-large-v3.bin"), dir.filePath("first/ggml-large-v3.bin"));
    ASSERT_TRUE(spinUntil([&] { return downloader.progress() > 0; }));

    const auto second = start(downloader, server.url("models/ggml-base.bin"), dir.filePath("second/ggml-base.bin"));
    EXPECT_EQ(downloader.statusText(), "Téléchargement de ggml-base.bin…");
    ASSERT_TRUE(finished(second));
    spin(100);
    EXPECT_EQ(first->calls, 1);
    EXPECT_TRUE(first->error);
    EXPECT_EQ(second->calls, 1);
    EXPECT_FALSE(second->error);
    EXPECT_EQ(downloader.statusText(), "Téléchargé : ggml-base.bin");
    EXPECT_TRUE(folderContents(dir.filePath("first")).isEmpty()) << "the abandoned transfer left a file";
    EXPECT_EQ(contents(dir.filePath("second/ggml-base.bin")), model);
}

TEST(Downloader, ErrorStatusRefusedConnectionUnwritableDestinationAndACutTransferLeaveNoFile) {
    ModelServer server;
    QTemporaryDir dir;
    const QString destination = writeFile(dir.filePath("ggml-base.bin"), "the model in use");
    Downloader downloader;
    auto outcome = start(downloader, server.url("nothing/ggml-base.bin"), destination);
    ASSERT_TRUE(finished(outcome));
    EXPECT_EQ(outcome->error, "Réponse HTTP 404");
    EXPECT_EQ(downloader.statusText(), "Échec : Réponse HTTP 404");
    EXPECT_FALSE(downloader.isDownloading());
    EXPECT_EQ(contents(destination), "the model in use");
    EXPECT_EQ(folderContents(dir.path()), QStringList{"ggml-base.bin"});

    // Nothing listening: a French reason, no file.
    outcome = start(downloader, QUrl("http://127.0.0.1:1/ggml-small.bin"), dir.filePath("other/ggml-small.bin"));
    ASSERT_TRUE(finished(outcome));
    EXPECT_TRUE(outcome->error);
    EXPECT_EQ(downloader.statusText(), "Échec : connexion refusée par le serveur");
    EXPECT_FALSE(QFile::exists(dir.filePath("other/ggml-small.bin")));

    outcome = start(downloader, server.url("models/ggml-base.bin"), destination + "/ggml-base.bin");
    ASSERT_TRUE(finished(outcome));
    EXPECT_TRUE(outcome->error);
    EXPECT_EQ(downloader.statusText(), "Échec de l'enregistrement");

    // A transfer cut midway leaves no partial file.
    PartialServer cut(true);
    outcome = start(downloader, cut.url("ggml-base.bin"), dir.filePath("cut/ggml-base.bin"));
    ASSERT_TRUE(finished(outcome));
    EXPECT_TRUE(outcome->error);
    EXPECT_TRUE(downloader.statusText().startsWith("Échec : ")) << downloader.statusText().toStdString();
    EXPECT_GT(downloader.progress(), 0.0);
    EXPECT_LT(downloader.progress(), 1.0);
    EXPECT_TRUE(folderContents(dir.filePath("cut")).isEmpty()) << folderContents(dir.filePath("cut")).join(' ').toStdString();
}
