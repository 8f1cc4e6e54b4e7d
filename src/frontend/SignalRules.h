#pragma once

#include <vector>

namespace korrin {

// What a signal does while a download runs (InterruptSignals).
enum class DuringDownload {
    asUsual,         // its disposition is left alone
    stopsDownload,   // stops the download with every byte that arrived stored, then ends the
                     // process by the signal
    limitsWindDown,  // the timer of that wind-down: when it runs out, the process ends by the
                     // stopping signal whether or not everything was stored
};

// What a signal does while the pause waits for a key (WaitForKeyPress). The terminal is in key
// mode then, and no signal may leave it so.
enum class DuringPause {
    asUsual,       // its disposition is left alone: it neither ends nor stops the process
    endsProcess,   // the terminal's settings are put back, then the signal ends the process
    stopsProcess,  // the settings are put back, then the process stops as the signal would
    resumesWait,   // after a stop: key mode again in the foreground, else the wait ends
};

struct SignalRule {
    int signalNumber;
    DuringDownload download;
    DuringPause pause;
};

// One rule for every signal that either phase handles: every signal whose default action ends
// the process (the real-time signals included), Ctrl-Z's SIGTSTP and SIGCONT. SIGKILL and
// SIGSTOP cannot be handled and are not listed; every signal not listed acts as usual in both
// phases. A signal that the process was started with ignored stays ignored in both, whatever its
// rule says.
const std::vector<SignalRule>& SignalRules();

}  // namespace korrin
