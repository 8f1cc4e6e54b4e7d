#include "frontend/InterruptSignals.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "frontend/SignalRules.h"

namespace korrin {

namespace {

// Shared with the handlers: the first signal caught, the pipe end that wakes the transfer, and
// whether SIGALRM was ignored before the download.
volatile sig_atomic_t caughtSignal = 0;
volatile sig_atomic_t wakeDescriptor = -1;
volatile sig_atomic_t alarmIgnored = 0;

// Ends the process by signalNumber through its default action. Async-signal-safe.
[[noreturn]] void EndBySignal(int signalNumber) {
    struct sigaction defaultAction = {};
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
    ::alarm(InterruptSignals::windDownLimitSeconds);
    const int fd = wakeDescriptor;
    if (fd >= 0) {
        const char byte = 1;
        (void)!::write(fd, &byte, 1);
    }
    errno = savedErrno;
}

// Async-signal-safe: the wind-down after a stopping signal has taken too long, and the process
// ends by that signal. Without one, SIGALRM acts as it would have.
void EndWindDown(int signalNumber) {
    const int first = caughtSignal;
    if (first != 0) EndBySignal(first);
    if (alarmIgnored == 0) EndBySignal(signalNumber);
}

}  // namespace

InterruptSignals::InterruptSignals() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return;
    wakeRead = ends[0];
    wakeWrite = ends[1];
    caughtSignal = 0;
    wakeDescriptor = wakeWrite;
    struct sigaction handler = {};
    handler.sa_handler = NoteStoppingSignal;
    // The handlers do not interrupt one another, so the first signal is noted before a second is
    // acted on.
    sigemptyset(&handler.sa_mask);
    for (const SignalRule& rule : SignalRules()) {
        if (rule.download == DuringDownload::stopsDownload)
            sigaddset(&handler.sa_mask, rule.signalNumber);
    }
    // No SA_RESTART: a write blocked on a full pipe returns, so that the download sees the signal
    // at once. (The C library may go on to write the rest of a block; the wind-down limit ends
    // that wait.)
    handler.sa_flags = 0;
    for (const SignalRule& rule : SignalRules()) {
        if (rule.download == DuringDownload::asUsual) continue;
        const int s = rule.signalNumber;
        if (::sigaction(s, nullptr, &before[s]) != 0) continue;
        const bool ignored = before[s].sa_handler == SIG_IGN;
        if (rule.download == DuringDownload::limitsWindDown) {
            // The timer is the program's own: it must end the wind-down even where the signal
            // was ignored.
            alarmIgnored = ignored ? 1 : 0;
            struct sigaction timer = handler;
            timer.sa_handler = EndWindDown;
            installed[s] = ::sigaction(s, &timer, nullptr) == 0;
        } else {
            installed[s] = !ignored && ::sigaction(s, &handler, nullptr) == 0;
        }
    }
}

InterruptSignals::~InterruptSignals() {
    Restore();
    if (wakeRead >= 0) ::close(wakeRead);
    if (wakeWrite >= 0) ::close(wakeWrite);
}

void InterruptSignals::Restore() {
    if (caughtSignal != 0) ::alarm(0);
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
