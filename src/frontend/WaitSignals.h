#pragma once

#include <signal.h>

#include "frontend/SignalScope.h"

namespace korrin {

// The signal handling of one key wait, from construction to destruction, by the DuringPause
// rules of SignalRules():
// - each signal with a DuringPause action gets a handler that records it and wakes the wait,
//   except one that the process was started with ignored (nohup, background jobs of a shell
//   without job control): that stays ignored;
// - those signals are blocked except inside the wait's sleep (ppoll() with WaitMask()), also
//   where the process was started with them blocked, so that the wait acts on them at a point
//   of its own choosing;
// - SIGTTOU and SIGTTIN are blocked throughout, so that a terminal call made while the process
//   is not (or no longer) in the terminal's foreground process group never stops it: changing
//   the settings then goes through, and reading fails with EIO.
// The dispositions and the signal mask from before come back when the object goes; a signal
// that is pending then takes its own course (an ending signal ends the process). Another thread
// of the process may take a signal at any time: the wake-up pipe makes the wait notice it.
class WaitSignals {
  public:
    WaitSignals();
    WaitSignals(const WaitSignals&) = delete;
    WaitSignals& operator=(const WaitSignals&) = delete;

    // What the handlers recorded since the last look, most urgent first.
    enum class Event {
        none,
        ending,     // a signal whose rule is DuringPause::endsProcess: EndingSignal() says which
        stop,       // SIGTSTP (Ctrl-Z)
        continued,  // SIGCONT, after a stop that the wait could not see coming (SIGSTOP)
    };

    // Empties the wake-up pipe and takes the most urgent event recorded; an ending signal stays
    // recorded.
    Event TakeEvent();
    int EndingSignal() const;

    const sigset_t* WaitMask() const { return scope.WaitMask(); }
    int WakeFd() const { return scope.WakeFd(); }

    // Stops the process as Ctrl-Z would have without the wait's handler; returns once it has been
    // continued.
    void StopAsCtrlZWould();

  private:
    SignalScope scope;
};

}  // namespace korrin
