#pragma once
// Ctrl-C, SIGTERM and SIGHUP as the cancel action of a long command: while
// the object lives, the signal calls `onInterrupt` on the event loop instead
// of killing the program. A second signal ends it at once.

#include <QSocketNotifier>

#include <functional>
#include <memory>

namespace cli {

class CancelOnInterrupt {
public:
    explicit CancelOnInterrupt(std::function<void()> onInterrupt);
    ~CancelOnInterrupt();
    CancelOnInterrupt(const CancelOnInterrupt &) = delete;
    CancelOnInterrupt &operator=(const CancelOnInterrupt &) = delete;

private:
    std::unique_ptr<QSocketNotifier> m_notifier;
};

} // namespace cli
