#include "frontend/InterruptSignals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <iterator>

namespace korrin {

namespace {

// The signals by which a user or the system stops a console program; the same order as the
// object's arrays.
constexpr int stoppingSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Shared with the handler: the first signal caught, and the pipe end that wakes the transfer.
volatile sig_atomic_t caughtSignal = 0;
volatile sig_atomic_t wakeDescriptor = -1;

// Async-signal-safe: notes the signal and writes one byte to the wake-up pipe (non-blocking; a
// full pipe is awake already).
void NoteStoppingSignal(int signalNumber) {
    const int savedErrno = errno;
    if (caughtSignal == 0) caughtSignal = signalNumber;
    const int fd = wakeDescriptor;
    if (fd >= 0) {
        const char byte = 1;
        (void)!::write(fd, &byte, 1);
    }
    errno = savedErrno;
}

}  // namespace

InterruptSignals::InterruptSignals() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return;
    wakeRead = ends[0];
    wakeWrite = ends[1];
    caughtSignal = 0;
    wakeDescriptor = wakeWrite;
    for (std::size_t i = 0; i < std::size(stoppingSignals); ++i) {
        struct sigaction handler {};
        handler.sa_handler = NoteStoppingSignal;
        sigemptyset(&handler.sa_mask);
        for (const int other : stoppingSignals) sigaddset(&handler.sa_mask, other);
        // No SA_RESTART: a write blocked on a full pipe must return, or the signal would never
        // stop a download whose reader has stopped reading.
        handler.sa_flags = 0;
        installed[i] = ::sigaction(stoppingSignals[i], nullptr, &before[i]) == 0 &&
                       before[i].sa_handler != SIG_IGN &&
                       ::sigaction(stoppingSignals[i], &handler, nullptr) == 0;
    }
}

InterruptSignals::~InterruptSignals() {
    Restore();
    if (wakeRead >= 0) ::close(wakeRead);
    if (wakeWrite >= 0) ::close(wakeWrite);
}

void InterruptSignals::Restore() {
    for (std::size_t i = 0; i < std::size(stoppingSignals); ++i) {
        if (installed[i]) ::sigaction(stoppingSignals[i], &before[i], nullptr);
        installed[i] = false;
    }
    wakeDescriptor = -1;
}

void InterruptSignals::EndProcessIfCaught() {
    Restore();
    const int signalNumber = caughtSignal;
    if (signalNumber == 0) return;
    struct sigaction defaultAction {};
    defaultAction.sa_handler = SIG_DFL;
    sigemptyset(&defaultAction.sa_mask);
    ::sigaction(signalNumber, &defaultAction, nullptr);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signalNumber);
    ::sigprocmask(SIG_UNBLOCK, &only, nullptr);
    ::raise(signalNumber);
    // Not reached: the signal's default action ends the process.
    std::_Exit(128 + signalNumber);
}

}  // namespace korrin
