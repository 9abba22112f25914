#pragma once
// SIGTERM, SIGINT and SIGHUP (the session ending, Ctrl-C in a terminal) reach
// the event loop through a socket pair: a signal handler may only write a byte.

#include <QObject>

class QSocketNotifier;

class TerminationSignals : public QObject {
    Q_OBJECT

public:
    // Installs the handlers. One object at a time per process: a second one,
    // while the first lives, stays silent.
    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;

signals:
    void terminationRequested(int signalNumber);

private:
    void readSignal();

    QSocketNotifier *m_notifier = nullptr;
};
