#pragma once
// One Parlivo per support folder: a second launch hands over to the first
// (which comes to the front) instead of running a second engine on the same
// state files. PARLIVO_HOME gives another support folder, hence another instance.
// The lock is the one every command that changes the state takes too.

#include <QObject>
#include <QString>

#include "core/state_lock.h"

class QLocalServer;

class SingleInstance : public QObject {
    Q_OBJECT

public:
    // Lock and socket for the instance that owns `supportDir`.
    explicit SingleInstance(const QString &supportDir, QObject *parent = nullptr);
    ~SingleInstance() override;

    enum class Claim {
        owner,      // this process is the instance: it listens for later launches
        handedOver, // another window runs: it has been asked to come forward
        refused,    // a command holds the state, or the lock cannot be written: see refusal()
    };
    Claim claim();
    QString refusal() const { return m_lock.refusal(); }

    // The local socket's name, unique per user and support folder.
    static QString serverName(const QString &supportDir);

signals:
    void activationRequested();

private:
    void listen();
    bool notifyRunningInstance() const;

    QString m_supportDir;
    StateLock m_lock;
    QLocalServer *m_server = nullptr;
};
