#include "app/cli/interrupt.h"

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace cli {

namespace {

// Ctrl-C, kill and a closed terminal all mean "stop": each cancels the same way.
const int stopSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The signal reaches the event loop through a pipe: a signal handler may do
// nothing but write a byte.
int interruptPipe[2] = {-1, -1};

void setHandler(void (*handler)(int)) {
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int number : stopSignals) ::sigaction(number, &action, nullptr);
}

void onSignal(int) {
    const char byte = 1;
    [[maybe_unused]] auto written = ::write(interruptPipe[1], &byte, 1);
    setHandler(SIG_DFL); // a second signal ends the program at once (its children with it)
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
    setHandler(onSignal);
}

CancelOnInterrupt::~CancelOnInterrupt() { setHandler(SIG_DFL); }

} // namespace cli
