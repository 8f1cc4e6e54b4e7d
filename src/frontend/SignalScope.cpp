#include "frontend/SignalScope.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace korrin {

namespace {

// The write end of the present scope's wake-up pipe, for the handlers; -1 outside a scope.
volatile sig_atomic_t wakeDescriptor = -1;

bool Valid(int signalNumber) { return signalNumber > 0 && signalNumber < NSIG; }

}  // namespace

SignalScope::SignalScope(const std::vector<Row>& rows, Delivery delivery,
                         const sigset_t& whileHandling, const sigset_t& alsoBlocked) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) == 0) {
        wakeRead = ends[0];
        wakeWrite = ends[1];
        wakeDescriptor = wakeWrite;
    }
    handling.sa_mask = whileHandling;
    handling.sa_flags = 0;
    ::pthread_sigmask(SIG_SETMASK, nullptr, &maskBefore);

    // Held back while the handlers go in, so that none runs before the mask is as it must be.
    sigset_t heldBack = alsoBlocked;
    for (const Row& row : rows) {
        if (Valid(row.signalNumber)) sigaddset(&heldBack, row.signalNumber);
    }
    ::pthread_sigmask(SIG_BLOCK, &heldBack, nullptr);

    waitMask = maskBefore;
    for (int s = 1; s < NSIG; ++s) {
        if (sigismember(&alsoBlocked, s) == 1) sigaddset(&waitMask, s);
    }
    sigset_t phaseMask = waitMask;
    for (const Row& row : rows) {
        const int s = row.signalNumber;
        if (!Valid(s)) continue;
        handlers[s] = row.handler;
        evenIfIgnored[s] = row.evenIfIgnored;
        if (!Install(s)) continue;
        sigdelset(&waitMask, s);
        if (delivery == Delivery::anywhere) {
            sigdelset(&phaseMask, s);
        } else {
            sigaddset(&phaseMask, s);
        }
    }
    ::pthread_sigmask(SIG_SETMASK, &phaseMask, nullptr);
}

sigset_t SignalScope::NoSignals() {
    sigset_t none;
    sigemptyset(&none);
    return none;
}

SignalScope::~SignalScope() {
    Restore();
    if (wakeRead >= 0) ::close(wakeRead);
    if (wakeWrite >= 0) ::close(wakeWrite);
}

bool SignalScope::Install(int signalNumber) {
    struct sigaction current = {};
    if (::sigaction(signalNumber, nullptr, &current) != 0) return false;
    if (!known[signalNumber]) {
        before[signalNumber] = current;
        known[signalNumber] = true;
    }
    if (before[signalNumber].sa_handler == SIG_IGN && !evenIfIgnored[signalNumber]) return false;
    struct sigaction handler = handling;
    handler.sa_handler = handlers[signalNumber];
    installed[signalNumber] = ::sigaction(signalNumber, &handler, nullptr) == 0;
    return installed[signalNumber];
}

void SignalScope::Restore() {
    if (restored) return;
    restored = true;
    for (int s = 1; s < NSIG; ++s) {
        if (installed[s]) ::sigaction(s, &before[s], nullptr);
        installed[s] = false;
    }
    wakeDescriptor = -1;
    // A signal that is pending now takes its own course.
    ::pthread_sigmask(SIG_SETMASK, &maskBefore, nullptr);
}

void SignalScope::Wake() {
    const int savedErrno = errno;
    const int fd = wakeDescriptor;
    if (fd >= 0) {
        const char byte = 1;
        (void)!::write(fd, &byte, 1);
    }
    errno = savedErrno;
}

void SignalScope::Drain() const {
    char bytes[64];
    while (wakeRead >= 0 && ::read(wakeRead, bytes, sizeof bytes) > 0) {
    }
}

bool SignalScope::Installed(int signalNumber) const {
    return Valid(signalNumber) && installed[signalNumber];
}

void SignalScope::GiveBack(int signalNumber) {
    if (!Installed(signalNumber)) return;
    ::sigaction(signalNumber, &before[signalNumber], nullptr);
    installed[signalNumber] = false;
}

void SignalScope::TakeBack(int signalNumber) {
    if (restored || !Valid(signalNumber) || !known[signalNumber] || installed[signalNumber]) return;
    Install(signalNumber);
}

}  // namespace korrin
