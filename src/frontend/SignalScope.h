#pragma once

#include <signal.h>

#include <vector>

namespace korrin {

// The signal handling of one phase of the program (the download, the pause), from construction
// to destruction: a handler for each signal of a table, a wake-up pipe that the handlers write to,
// and the signal mask the handlers need. Everything from before comes back in one place, when the
// object goes (or at Restore): the dispositions first, then the calling thread's mask. A signal
// that the process was started with ignored stays ignored, unless its row says the handler is the
// program's own. A parent may have started the program with signals blocked: each handled signal
// is unblocked where the phase needs it. Handlers are installed without SA_RESTART, so that a
// signal ends a wait at once. One object at a time.
class SignalScope {
  public:
    using Handler = void (*)(int);

    struct Row {
        int signalNumber;
        Handler handler;
        bool evenIfIgnored;  // installed even where the signal was ignored at the start
    };

    // Where the handled signals may be delivered in the calling thread.
    enum class Delivery {
        anywhere,     // unblocked for the whole phase
        insideWaits,  // blocked, except while the thread sleeps with WaitMask()
    };

    // whileHandling is blocked while a handler runs; alsoBlocked stays blocked for the whole
    // phase, also inside waits.
    SignalScope(const std::vector<Row>& rows, Delivery delivery, const sigset_t& whileHandling,
                const sigset_t& alsoBlocked);
    ~SignalScope();
    SignalScope(const SignalScope&) = delete;
    SignalScope& operator=(const SignalScope&) = delete;

    // The empty set, for whileHandling or alsoBlocked.
    static sigset_t NoSignals();

    // Puts the dispositions and the mask from before back; afterwards, does nothing.
    void Restore();

    // Readable once a handler has called Wake(); -1 without a pipe.
    int WakeFd() const { return wakeRead; }
    // Async-signal-safe: makes WakeFd() readable (a full pipe is awake already).
    static void Wake();
    // Empties the wake-up pipe, before what the handlers recorded is looked at.
    void Drain() const;

    // The mask to sleep with (ppoll): the one from before, with the handled signals unblocked and
    // alsoBlocked blocked.
    const sigset_t* WaitMask() const { return &waitMask; }

    bool Installed(int signalNumber) const;
    // Gives one signal its disposition from before for a while (to act as it would without the
    // handler), and takes it back.
    void GiveBack(int signalNumber);
    void TakeBack(int signalNumber);

  private:
    bool Install(int signalNumber);

    int wakeRead = -1;   // owned: the wake-up pipe's read end
    int wakeWrite = -1;  // owned: its write end, written by the handlers
    sigset_t maskBefore{};
    sigset_t waitMask{};
    bool restored = false;
    struct sigaction handling = {};  // the flags and mask of every handler
    // By signal number: the row's handler, the disposition from before, and whether the handler
    // is in place.
    Handler handlers[NSIG] = {};
    bool evenIfIgnored[NSIG] = {};
    bool known[NSIG] = {};
    struct sigaction before[NSIG] = {};
    bool installed[NSIG] = {};
};

}  // namespace korrin
