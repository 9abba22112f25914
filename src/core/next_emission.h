#pragma once
// Waiting in a coroutine for the next emission of a signal (its arguments,
// if any, are not kept): `while (busy) co_await nextEmission(this, &X::done);`.
//
// QCoro's qCoro(object, &X::signal) resumes through a queued call that points
// at its awaiter: a signal emitted twice before the first call is delivered
// leaves a second call pointing at an awaiter already gone, and the program
// crashes (two servers freed in the same instant did). Here the queued call
// holds the waiting state itself, and only the first emission resumes.

#include <QObject>
#include <QPointer>

#include <coroutine>
#include <memory>
#include <utility>

template <typename T, typename Signal> class NextEmission {
public:
    NextEmission(T *object, Signal signal) : m_object(object), m_signal(signal) {}

    // A destroyed object never emits again: nothing to wait for.
    bool await_ready() const noexcept { return m_object.isNull(); }
    void await_suspend(std::coroutine_handle<> waiting) {
        auto state = std::make_shared<State>();
        state->waiting = waiting;
        // Queued: the waiter goes on after the emitter, never inside its emit.
        state->connection = QObject::connect(
            m_object.data(), m_signal, m_object.data(),
            [state](auto &&...) {
                QObject::disconnect(state->connection);
                if (auto resumed = std::exchange(state->waiting, {})) resumed.resume();
            },
            Qt::QueuedConnection);
    }
    void await_resume() const noexcept {}

private:
    struct State {
        std::coroutine_handle<> waiting;
        QMetaObject::Connection connection;
    };
    QPointer<T> m_object;
    Signal m_signal;
};

template <typename T, typename Signal> NextEmission<T, Signal> nextEmission(T *object, Signal signal) {
    return NextEmission<T, Signal>(object, signal);
}
