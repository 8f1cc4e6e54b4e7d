#include "frontend/SignalRules.h"

#include <signal.h>

namespace korrin {

namespace {

constexpr DuringDownload usual = DuringDownload::asUsual;
constexpr DuringDownload stops = DuringDownload::stopsDownload;

// The signals with names. SIGINT, SIGTERM and SIGHUP are how a user or the system stops a console
// program, so a download keeps what it has; any other signal that ends the process does so as it
// would without the program's handlers, a core dump included. SIGALRM times the wind-down of a
// stopped download (it is sent by nothing else). SIGPIPE is ignored by main.
constexpr SignalRule namedSignals[] = {
    {SIGINT, stops, DuringPause::endsProcess},
    {SIGTERM, stops, DuringPause::endsProcess},
    {SIGHUP, stops, DuringPause::endsProcess},
    {SIGQUIT, usual, DuringPause::endsProcess},
    {SIGUSR1, usual, DuringPause::endsProcess},
    {SIGUSR2, usual, DuringPause::endsProcess},
    {SIGALRM, DuringDownload::limitsWindDown, DuringPause::endsProcess},
    {SIGVTALRM, usual, DuringPause::endsProcess},
    {SIGPROF, usual, DuringPause::endsProcess},
    {SIGIO, usual, DuringPause::endsProcess},
    {SIGPWR, usual, DuringPause::endsProcess},
    {SIGSTKFLT, usual, DuringPause::endsProcess},
    {SIGXCPU, usual, DuringPause::endsProcess},
    {SIGXFSZ, usual, DuringPause::endsProcess},
    {SIGPIPE, usual, DuringPause::endsProcess},
    {SIGABRT, usual, DuringPause::endsProcess},
    // Sent with kill() they are signals like the others; raised by a fault of the program itself
    // while they are blocked, the kernel ends the process at once, as it would anyway.
    {SIGSEGV, usual, DuringPause::endsProcess},
    {SIGBUS, usual, DuringPause::endsProcess},
    {SIGFPE, usual, DuringPause::endsProcess},
    {SIGILL, usual, DuringPause::endsProcess},
    {SIGTRAP, usual, DuringPause::endsProcess},
    {SIGSYS, usual, DuringPause::endsProcess},
    {SIGTSTP, usual, DuringPause::stopsProcess},
    {SIGCONT, usual, DuringPause::resumesWait},
};

}  // namespace

const std::vector<SignalRule>& SignalRules() {
    // The real-time range is known only at run time (the C library keeps a few for itself).
    static const std::vector<SignalRule> rules = [] {
        std::vector<SignalRule> all(std::begin(namedSignals), std::end(namedSignals));
        for (int s = SIGRTMIN; s <= SIGRTMAX; ++s)
            all.push_back({s, usual, DuringPause::endsProcess});
        return all;
    }();
    return rules;
}

}  // namespace korrin
