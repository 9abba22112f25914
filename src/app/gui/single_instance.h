#pragma once
// One Parlivo per support folder: a second launch hands over to the first
// (which comes to the front) instead of running a second engine on the same
// state files. PARLIVO_HOME gives another support folder, hence another instance.

#include <QLockFile>
#include <QObject>
#include <QString>

#include <memory>

class QLocalServer;

class SingleInstance : public QObject {
    Q_OBJECT

public:
    // Lock and socket for the instance that owns `supportDir`.
    explicit SingleInstance(const QString &supportDir, QObject *parent = nullptr);
    ~SingleInstance() override;

    // True when this process is the instance: it then listens for later launches.
    // False when another one runs: it has been asked to come forward.
    bool claim();

    // The local socket's name, unique per user and support folder.
    static QString serverName(const QString &supportDir);

signals:
    void activationRequested();

private:
    bool listen();
    bool notifyRunningInstance() const;

    QString m_supportDir;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer *m_server = nullptr;
};
