#pragma once
// A request to stop work under way, shared by whoever may cancel it and the
// work itself. Loops look at isCancelled() between steps; a request in flight
// (an HTTP exchange) listens to cancelled() and is cut off at once.

#include <QObject>

class Cancellation : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    void cancel() {
        if (std::exchange(m_cancelled, true)) return;
        emit cancelled();
    }
    // Ready for the next piece of work.
    void reset() { m_cancelled = false; }
    bool isCancelled() const { return m_cancelled; }

signals:
    void cancelled();

private:
    bool m_cancelled = false;
};
