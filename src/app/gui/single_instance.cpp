#include "app/gui/single_instance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

#include <unistd.h>

namespace {
const QByteArray activateMessage = QByteArrayLiteral("activate\n");
// How long a second launch keeps trying while the first is still starting.
constexpr int handOverTimeoutMs = 5000;
} // namespace

SingleInstance::SingleInstance(const QString &supportDir, QObject *parent)
    : QObject(parent), m_supportDir(QDir::cleanPath(supportDir)), m_lock(m_supportDir) {}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::serverName(const QString &supportDir) {
    // Socket names share one folder per user: the folder's hash tells the instances apart.
    const QByteArray hash =
        QCryptographicHash::hash(QDir::cleanPath(supportDir).toUtf8(), QCryptographicHash::Sha1).toHex().left(16);
    return QStringLiteral("parlivo-%1-%2").arg(uint(getuid())).arg(QString::fromLatin1(hash));
}

SingleInstance::Claim SingleInstance::claim() {
    // The lock decides who is first; a lock left by a crashed instance is taken over.
    if (m_lock.tryLock()) {
        listen();
        return Claim::owner;
    }
    if (!m_lock.heldElsewhere()) return Claim::refused;
    // A command has no window to bring forward: only another window can take over.
    const auto holder = m_lock.holder();
    if (holder && holder->isCommand()) return Claim::refused;
    return notifyRunningInstance() ? Claim::handedOver : Claim::refused;
}

void SingleInstance::listen() {
    const QString name = serverName(m_supportDir);
    // We hold the lock, so a socket left under this name belongs to a dead instance.
    QLocalServer::removeServer(name);
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = m_server->nextPendingConnection()) {
            auto consume = [this, socket] {
                if (!socket->bytesAvailable()) return;
                if (socket->readAll().contains(activateMessage.trimmed())) emit activationRequested();
                socket->disconnectFromServer();
            };
            connect(socket, &QLocalSocket::readyRead, this, consume);
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            consume(); // the message may have arrived with the connection
        }
    });
    // Without the socket the instance still runs; later launches just cannot wake it.
    m_server->listen(name);
}

bool SingleInstance::notifyRunningInstance() const {
    const QString name = serverName(m_supportDir);
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < handOverTimeoutMs) {
        QLocalSocket socket;
        socket.connectToServer(name);
        if (socket.waitForConnected(500)) {
            socket.write(activateMessage);
            const bool sent = socket.waitForBytesWritten(1000);
            socket.disconnectFromServer();
            return sent;
        }
        QThread::msleep(100); // the first instance holds the lock but is not listening yet
    }
    return false;
}
