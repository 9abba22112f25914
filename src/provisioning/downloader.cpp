#include "provisioning/downloader.h"

#include <QDir>
#include <QFileInfo>
#include <QNetworkRequest>

#include "core/atomic_file.h"
#include "core/network.h"

namespace {

std::optional<int> httpStatus(const QNetworkReply *reply) {
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid()) return std::nullopt; // not HTTP (a file: address)
    return status.toInt();
}

bool isSuccessStatus(std::optional<int> status) { return !status || (*status >= 200 && *status <= 299); }

} // namespace

QString networkErrorDescription(QNetworkReply::NetworkError error, const QString &fallback) {
    switch (error) {
    case QNetworkReply::ConnectionRefusedError: return QStringLiteral("connexion refusée par le serveur");
    case QNetworkReply::RemoteHostClosedError: return QStringLiteral("connexion interrompue par le serveur");
    case QNetworkReply::HostNotFoundError: return QStringLiteral("serveur introuvable");
    case QNetworkReply::TimeoutError: return QStringLiteral("le serveur ne répond plus");
    case QNetworkReply::OperationCanceledError: return QStringLiteral("téléchargement annulé");
    case QNetworkReply::SslHandshakeFailedError: return QStringLiteral("connexion sécurisée impossible");
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError: return QStringLiteral("réseau indisponible");
    case QNetworkReply::TooManyRedirectsError: return QStringLiteral("trop de redirections");
    case QNetworkReply::InsecureRedirectError: return QStringLiteral("redirection non sécurisée refusée");
    default: return fallback;
    }
}

// One running download: the reply, the temporary file it streams into, and
// what to do once it ends.
struct Downloader::Transfer {
    QNetworkReply *reply = nullptr;
    QString destination;
    Completion completion;
    std::unique_ptr<AtomicFile> file; // opened at the first byte of a good response
    std::optional<WriteError> writeError;

    ~Transfer() {
        // Uncommitted, the temporary file goes away with the AtomicFile.
        reply->disconnect();
        reply->abort();
        reply->deleteLater();
    }

    // A partial file must never be the destination: it is put in place only
    // once complete and on the disk.
    bool openFile() {
        if (file || writeError) return !writeError;
        file = std::make_unique<AtomicFile>(destination);
        writeError = makeFolderFor(destination);
        if (!writeError) writeError = file->open();
        return !writeError;
    }

    bool write(const QByteArray &data) {
        if (data.isEmpty()) return !writeError;
        if (openFile()) writeError = file->write(data);
        return !writeError;
    }

    bool commit() {
        if (openFile()) writeError = file->commit();
        return !writeError;
    }
};

Downloader::Downloader(QObject *parent) : QObject(parent) {}

Downloader::~Downloader() = default;

void Downloader::start(const QUrl &url, const QString &destination, Completion completion) {
    if (auto replaced = takeTransfer(); replaced && replaced->completion) {
        QMetaObject::invokeMethod(this, [done = std::move(replaced->completion)] {
            done(QStringLiteral("téléchargement remplacé par un autre"));
        }, Qt::QueuedConnection);
    }

    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setTransferTimeout(stallTimeoutMs);

    m_transfer = std::make_unique<Transfer>();
    Transfer *transfer = m_transfer.get();
    transfer->destination = destination;
    transfer->completion = std::move(completion);
    transfer->reply = sharedNetworkManager().get(request);

    setDownloading(true);
    setProgress(0);
    setStatusText(QStringLiteral("Téléchargement de ") + url.fileName() + QStringLiteral("…"));

    // A full disk or a refused folder stops the transfer rather than download for nothing.
    // (abort() may end the transfer at once: nothing touches it afterwards.)
    connect(transfer->reply, &QNetworkReply::readyRead, this, [this, transfer] {
        if (!receive(transfer)) transfer->reply->abort();
    });
    connect(transfer->reply, &QNetworkReply::downloadProgress, this, [this, transfer](qint64 received, qint64 total) {
        if (total > 0 && isSuccessStatus(httpStatus(transfer->reply))) setProgress(double(received) / double(total));
    });
    connect(transfer->reply, &QNetworkReply::finished, this, [this, transfer] { finish(transfer); });
}

bool Downloader::receive(Transfer *transfer) {
    if (!transfer->reply->isOpen()) return !transfer->writeError; // aborted: nothing more to read
    const QByteArray data = transfer->reply->readAll();
    if (!isSuccessStatus(httpStatus(transfer->reply))) return true; // an error page is not the model
    return transfer->write(data);
}

void Downloader::finish(Transfer *transfer) {
    receive(transfer);
    QNetworkReply *reply = transfer->reply;
    const std::optional<int> status = httpStatus(reply);
    if (transfer->writeError) {
        fail(QStringLiteral("Échec de l'enregistrement"),
             QStringLiteral("Échec de l'enregistrement de ") + transfer->destination);
    } else if (!isSuccessStatus(status)) {
        const QString description = QStringLiteral("Réponse HTTP %1").arg(*status);
        fail(QStringLiteral("Échec : ") + description, description);
    } else if (reply->error() != QNetworkReply::NoError) {
        const QString description = networkErrorDescription(reply->error(), reply->errorString());
        fail(QStringLiteral("Échec : ") + description, description);
    } else if (!transfer->commit()) {
        fail(QStringLiteral("Échec de l'enregistrement"),
             QStringLiteral("Échec de l'enregistrement de ") + transfer->destination);
    } else {
        succeed();
    }
}

void Downloader::succeed() {
    std::unique_ptr<Transfer> done = takeTransfer();
    setDownloading(false);
    setProgress(1);
    setStatusText(QStringLiteral("Téléchargé : ") + QFileInfo(done->destination).fileName());
    if (done->completion) done->completion(std::nullopt);
}

void Downloader::fail(const QString &statusText, const QString &error) {
    std::unique_ptr<Transfer> done = takeTransfer();
    setDownloading(false);
    setStatusText(statusText);
    if (done->completion) done->completion(error);
}

std::unique_ptr<Downloader::Transfer> Downloader::takeTransfer() { return std::exchange(m_transfer, nullptr); }

void Downloader::setProgress(double progress) {
    if (progress == m_progress) return;
    m_progress = progress;
    emit progressChanged(progress);
}

void Downloader::setDownloading(bool downloading) {
    if (downloading == m_isDownloading) return;
    m_isDownloading = downloading;
    emit isDownloadingChanged(downloading);
}

void Downloader::setStatusText(const QString &text) {
    if (text == m_statusText) return;
    m_statusText = text;
    emit statusTextChanged(text);
}
