#include "app/gui/termination_signals.h"

#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int pairFds[2] = {-1, -1};
const int handledSignals[] = {SIGTERM, SIGINT, SIGHUP};

void onSignal(int number) {
    const unsigned char byte = static_cast<unsigned char>(number);
    // write() is async-signal-safe; a full pipe only loses a repeated signal.
    [[maybe_unused]] const ssize_t written = ::write(pairFds[0], &byte, 1);
}
} // namespace

TerminationSignals::TerminationSignals(QObject *parent) : QObject(parent) {
    if (pairFds[0] >= 0) return; // the handlers belong to an object already alive
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pairFds) != 0) return;
    ::fcntl(pairFds[0], F_SETFL, O_NONBLOCK);
    m_notifier = new QSocketNotifier(pairFds[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TerminationSignals::readSignal);
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int number : handledSignals) ::sigaction(number, &action, nullptr);
}

TerminationSignals::~TerminationSignals() {
    if (!m_notifier) return;
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int number : handledSignals) ::sigaction(number, &action, nullptr);
    delete m_notifier;
    for (int &fd : pairFds) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
}

void TerminationSignals::readSignal() {
    unsigned char byte = 0;
    if (::read(pairFds[1], &byte, 1) == 1) emit terminationRequested(byte);
}
