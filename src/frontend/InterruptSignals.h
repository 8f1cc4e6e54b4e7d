#pragma once

#include <csignal>

namespace korrin {

// For the length of a download: SIGINT, SIGTERM and SIGHUP stop the download instead of ending
// the process on the spot, so that every byte that arrived is stored first; EndProcessIfCaught
// then ends the process by that signal, as it would have ended without these handlers. A signal
// that the process was started with ignored stays ignored. One object at a time.
class InterruptSignals {
  public:
    // Installs the handlers; without a wake-up pipe it installs none, and the signals act as
    // they would without this object.
    InterruptSignals();
    // Puts the earlier dispositions back.
    ~InterruptSignals();
    InterruptSignals(const InterruptSignals&) = delete;
    InterruptSignals& operator=(const InterruptSignals&) = delete;

    // A descriptor that becomes readable once one of the signals has been caught; -1 when the
    // handlers are not installed.
    int WakeFd() const { return wakeRead; }

    // Puts the earlier dispositions back and, when one of the signals was caught, ends the
    // process by it. Returns when none was caught.
    void EndProcessIfCaught();

  private:
    void Restore();

    int wakeRead = -1;   // owned: the wake-up pipe's read end
    int wakeWrite = -1;  // owned: its write end, written by the handler
    struct sigaction before[3]{};
    bool installed[3] = {};
};

}  // namespace korrin
