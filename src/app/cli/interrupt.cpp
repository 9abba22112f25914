#include "app/cli/interrupt.h"

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace cli {

namespace {

// The signal reaches the event loop through a pipe: a signal handler may do
// nothing but write a byte.
int interruptPipe[2] = {-1, -1};

void onSignal(int) {
    const char byte = 1;
    [[maybe_unused]] auto written = ::write(interruptPipe[1], &byte, 1);
    std::signal(SIGINT, SIG_DFL); // a second Ctrl-C ends the program at once
}

} // namespace

CancelOnInterrupt::CancelOnInterrupt(std::function<void()> onInterrupt) {
    if (interruptPipe[0] < 0 && ::pipe2(interruptPipe, O_CLOEXEC) != 0) return;
    m_notifier = std::make_unique<QSocketNotifier>(interruptPipe[0], QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [onInterrupt = std::move(onInterrupt)] {
        char byte;
        [[maybe_unused]] auto got = ::read(interruptPipe[0], &byte, 1);
        onInterrupt();
    });
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
}

CancelOnInterrupt::~CancelOnInterrupt() {
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
}

} // namespace cli
