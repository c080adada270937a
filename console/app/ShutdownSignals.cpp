#include "app/ShutdownSignals.h"

#ifndef _WIN32
#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signal_fds[2] = {-1, -1};

// Only async-signal-safe work here: the event loop reads the byte.
extern "C" void onTerminationSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(signal_fds[0], &byte, 1);
}

} // namespace

void ShutdownSignals::install()
{
    if (signal_fds[0] >= 0 || ::socketpair(AF_UNIX, SOCK_STREAM, 0, signal_fds) != 0)
        return;
    auto* notifier = new QSocketNotifier(signal_fds[1], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [] {
        char byte = 0;
        [[maybe_unused]] const ssize_t n = ::read(signal_fds[1], &byte, 1);
        QCoreApplication::exit(0);
    });

    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(sig, &action, nullptr);
}
#else
void ShutdownSignals::install()
{
}
#endif
