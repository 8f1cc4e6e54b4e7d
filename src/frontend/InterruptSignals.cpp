#include "frontend/InterruptSignals.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "frontend/SignalRules.h"

namespace korrin {

namespace {

// Shared with the handler: the first signal caught, and the pipe end that wakes the transfer.
volatile sig_atomic_t caughtSignal = 0;
volatile sig_atomic_t wakeDescriptor = -1;

// Ends the process by signalNumber through its default action. Async-signal-safe.
[[noreturn]] void EndBySignal(int signalNumber) {
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

// Async-signal-safe: notes the first signal and writes one byte to the wake-up pipe
// (non-blocking; a full pipe is awake already). A later one means that the sender will not wait
// for the download to wind down, which may take long (a write blocked on a reader that is gone,
// a name lookup that cannot be abandoned): the process ends at once, by the first signal, which
// is what ends it anyway.
void NoteStoppingSignal(int signalNumber) {
    const int savedErrno = errno;
    const int first = caughtSignal;
    if (first != 0) EndBySignal(first);
    caughtSignal = signalNumber;
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
    struct sigaction handler {};
    handler.sa_handler = NoteStoppingSignal;
    // The handlers do not interrupt one another, so the first signal is noted before a second is
    // acted on.
    sigemptyset(&handler.sa_mask);
    for (const SignalRule& rule : SignalRules()) {
        if (rule.download == DuringDownload::stopsDownload)
            sigaddset(&handler.sa_mask, rule.signalNumber);
    }
    // No SA_RESTART: a write blocked on a full pipe must return, or the signal would never stop a
    // download whose reader has stopped reading.
    handler.sa_flags = 0;
    for (const SignalRule& rule : SignalRules()) {
        if (rule.download != DuringDownload::stopsDownload) continue;
        const int s = rule.signalNumber;
        installed[s] = ::sigaction(s, nullptr, &before[s]) == 0 &&
                       before[s].sa_handler != SIG_IGN && ::sigaction(s, &handler, nullptr) == 0;
    }
}

InterruptSignals::~InterruptSignals() {
    Restore();
    if (wakeRead >= 0) ::close(wakeRead);
    if (wakeWrite >= 0) ::close(wakeWrite);
}

void InterruptSignals::Restore() {
    for (int s = 1; s < NSIG; ++s) {
        if (installed[s]) ::sigaction(s, &before[s], nullptr);
        installed[s] = false;
    }
    wakeDescriptor = -1;
}

void InterruptSignals::EndProcessIfCaught() {
    Restore();
    const int signalNumber = caughtSignal;
    if (signalNumber != 0) EndBySignal(signalNumber);
}

}  // namespace korrin
