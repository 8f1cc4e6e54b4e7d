#include "frontend/WaitSignals.h"

#include <vector>

#include "frontend/SignalRules.h"

namespace korrin {

namespace {

// What the handlers recorded, for the wait to act on. By signal number, the action of each
// handled signal, filled before the handlers go in.
DuringPause actionOf[NSIG] = {};
volatile sig_atomic_t endingSignal = 0;  // the first signal whose rule is endsProcess
volatile sig_atomic_t stopAsked = 0;     // SIGTSTP arrived
volatile sig_atomic_t continued = 0;     // SIGCONT arrived

// Async-signal-safe: records the signal by its rule and wakes the wait.
void RecordPauseSignal(int signalNumber) {
    switch (actionOf[signalNumber]) {
        case DuringPause::endsProcess:
            if (endingSignal == 0) endingSignal = signalNumber;
            break;
        case DuringPause::stopsProcess:
            stopAsked = 1;
            break;
        case DuringPause::resumesWait:
            continued = 1;
            break;
        case DuringPause::asUsual:
            break;
    }
    SignalScope::Wake();
}

// The pause's table; what the handlers record is reset first, before they go in.
std::vector<SignalScope::Row> FreshPauseRows() {
    endingSignal = 0;
    stopAsked = 0;
    continued = 0;
    std::vector<SignalScope::Row> rows;
    for (const SignalRule& rule : SignalRules()) {
        if (rule.pause == DuringPause::asUsual) continue;
        actionOf[rule.signalNumber] = rule.pause;
        rows.push_back({rule.signalNumber, RecordPauseSignal, false});
    }
    return rows;
}

sigset_t TerminalStops() {
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGTTOU);
    sigaddset(&stops, SIGTTIN);
    return stops;
}

}  // namespace

WaitSignals::WaitSignals()
    : scope(FreshPauseRows(), SignalScope::Delivery::insideWaits, SignalScope::NoSignals(),
            TerminalStops()) {}

WaitSignals::Event WaitSignals::TakeEvent() {
    scope.Drain();
    if (endingSignal != 0) return Event::ending;
    if (stopAsked != 0) {
        stopAsked = 0;
        return Event::stop;
    }
    if (continued != 0) {
        continued = 0;
        return Event::continued;
    }
    return Event::none;
}

int WaitSignals::EndingSignal() const { return endingSignal; }

void WaitSignals::StopAsCtrlZWould() {
    if (!scope.Installed(SIGTSTP)) return;
    scope.GiveBack(SIGTSTP);
    ::raise(SIGTSTP);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, SIGTSTP);
    // The pending SIGTSTP is delivered here and stops the process; after SIGCONT it goes on.
    ::pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    ::pthread_sigmask(SIG_BLOCK, &only, nullptr);
    scope.TakeBack(SIGTSTP);
    // The SIGCONT that ended this stop is taken here, not later as one of its own.
    sigset_t continueSignal;
    sigemptyset(&continueSignal);
    sigaddset(&continueSignal, SIGCONT);
    const timespec none{};
    ::sigtimedwait(&continueSignal, nullptr, &none);
}

}  // namespace korrin
