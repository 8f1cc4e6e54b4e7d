#include "frontend/InterruptSignals.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <vector>

#include "frontend/SignalRules.h"

namespace korrin {

namespace {

// Shared with the handlers: the first signal caught (set once, in whichever thread a handler
// runs), and whether SIGALRM was ignored before the download.
std::atomic<int> caughtSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "set by signal handlers");
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
    int first = 0;
    if (!caughtSignal.compare_exchange_strong(first, signalNumber)) EndBySignal(first);
    ::alarm(InterruptSignals::windDownLimitSeconds);
    errno = savedErrno;
    SignalScope::Wake();
}

// Async-signal-safe: the wind-down after a stopping signal has taken too long, and the process
// ends by that signal. Without one, SIGALRM acts as it would have.
void EndWindDown(int signalNumber) {
    const int first = caughtSignal;
    if (first != 0) EndBySignal(first);
    if (alarmIgnored == 0) EndBySignal(signalNumber);
}

// The download's table: a handler for every signal whose rule is not DuringDownload::asUsual;
// the wind-down's timer is the program's own and must end the wind-down even where SIGALRM was
// ignored. What the handlers share is reset first, before they go in.
std::vector<SignalScope::Row> FreshDownloadRows() {
    caughtSignal = 0;
    struct sigaction alarmBefore = {};
    alarmIgnored =
        ::sigaction(SIGALRM, nullptr, &alarmBefore) == 0 && alarmBefore.sa_handler == SIG_IGN ? 1
                                                                                              : 0;
    std::vector<SignalScope::Row> rows;
    for (const SignalRule& rule : SignalRules()) {
        if (rule.download == DuringDownload::stopsDownload) {
            rows.push_back({rule.signalNumber, NoteStoppingSignal, false});
        } else if (rule.download == DuringDownload::limitsWindDown) {
            rows.push_back({rule.signalNumber, EndWindDown, true});
        }
    }
    return rows;
}

// The handlers do not interrupt one another, so the first signal is noted before a second is
// acted on.
sigset_t HandlingMask() {
    sigset_t mask;
    sigemptyset(&mask);
    for (const SignalRule& rule : SignalRules()) {
        if (rule.download == DuringDownload::stopsDownload) sigaddset(&mask, rule.signalNumber);
    }
    return mask;
}

}  // namespace

// No SA_RESTART (the scope's rule): a write blocked on a full pipe, or an open that waits, returns
// at once, so that the download sees the signal. The output sink goes on with a write that had
// bytes to store; the wind-down limit ends that wait.
InterruptSignals::InterruptSignals()
    : scope(FreshDownloadRows(), SignalScope::Delivery::anywhere, HandlingMask(),
            SignalScope::NoSignals()) {}

InterruptSignals::~InterruptSignals() { Restore(); }

void InterruptSignals::Restore() {
    if (caughtSignal != 0) ::alarm(0);
    scope.Restore();
}

void InterruptSignals::EndProcessIfCaught() {
    Restore();
    const int signalNumber = caughtSignal;
    if (signalNumber != 0) EndBySignal(signalNumber);
}

}  // namespace korrin
