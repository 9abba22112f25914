#pragma once
// The machines running whisper-server that take files of a batch, as the
// settings list them: one slot each for the scheduler, the exchange with
// the pipeline, and the set-aside state of each after a fault (renewed at
// the start of every batch).

#include <QList>
#include <QObject>

#include "core/event_log.h"
#include "core/settings.h"
#include "pipeline/remote_recogniser.h"
#include "queue/server_slots.h"
#include "remote/server_backoff.h"

class RecognitionServers : public QObject, public ServerSlots, public RemoteRecogniser {
    Q_OBJECT

public:
    RecognitionServers(const ParlivoSettings &settings, EventLog &log, QObject *parent = nullptr);

    // The servers of the settings, none set aside.
    void beginRun();

    int slotCount() const override { return int(m_servers.size()); }
    bool slotAvailable(int slot) const override;
    QString machine(int slot) const override;
    QCoro::Task<RemoteOutcome> recognise(int slot, QString wav, double timeLimit,
                                         QPointer<Cancellation> cancel) override;

signals:
    // A server's request ended: the request waiting for it may go.
    void serverFreed();

private:
    struct Server {
        RecognitionServer config;
        ServerBackoff backoff;
        bool busy = false; // a request is on the machine
    };
    QCoro::Task<bool> waitForTurn(int slot, RecognitionServer config, QPointer<Cancellation> cancel);
    void noteOutcome(int slot, const RemoteOutcome &outcome);

    const ParlivoSettings &m_settings;
    EventLog &m_log;
    QList<Server> m_servers;
};
