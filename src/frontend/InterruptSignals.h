#pragma once

#include "frontend/SignalScope.h"

namespace korrin {

// For the length of a download: the signals whose rule is DuringDownload::stopsDownload (SIGINT,
// SIGTERM, SIGHUP) stop the download instead of ending the process on the spot, so that every
// byte that arrived is stored first; EndProcessIfCaught then ends the process by that signal, as
// it would have ended without these handlers. Storing what arrived may take at most
// windDownLimitSeconds: a write that waits for a reader which has stopped reading, or a name
// lookup that cannot be abandoned, does not keep the process; when the time runs out it ends by
// the signal all the same. A second one of the signals, while the first is still being acted on,
// ends the process at once, by the first: whoever sends it will not wait for the wind-down. A
// signal that the process was started with ignored stays ignored. One object at a time.
class InterruptSignals {
  public:
    // Far more than storing what is held in memory takes on a working disk or pipe.
    static constexpr unsigned windDownLimitSeconds = 3;

    // Installs the handlers.
    InterruptSignals();
    // Puts the earlier dispositions back.
    ~InterruptSignals();
    InterruptSignals(const InterruptSignals&) = delete;
    InterruptSignals& operator=(const InterruptSignals&) = delete;

    // A descriptor that becomes readable once one of the signals has been caught; -1 when the
    // pipe could not be made.
    int WakeFd() const { return scope.WakeFd(); }

    // Puts the earlier dispositions back and, when one of the signals was caught, ends the
    // process by it. Returns when none was caught.
    void EndProcessIfCaught();

  private:
    void Restore();

    SignalScope scope;
};

}  // namespace korrin
