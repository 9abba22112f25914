#pragma once
// SIGTERM, SIGINT and SIGHUP (the session ending, Ctrl-C in a terminal) reach
// the event loop through a socket pair: a signal handler may only write a byte.

#include <QObject>

class QSocketNotifier;

class TerminationSignals : public QObject {
    Q_OBJECT

public:
    // One object per process; installs the handlers.
    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;

signals:
    void terminationRequested(int signalNumber);

private:
    void readSignal();

    QSocketNotifier *m_notifier = nullptr;
};
