#pragma once

#include <chrono>

namespace korrin {

// The stall limit of one transfer: it fails once the server has been silent for the limit while
// a request waits for it. Silence is measured from the request's sending and restarted by every
// sign of the server (bytes, or the connection's end) and by every read of the caller's (the
// time the caller spends between two reads is not the server's silence: its bytes wait in the
// socket meanwhile). While a connection is being made the limit does not run: connecting has a
// time-out of its own. The clock is the caller's: every event carries its time.
class StallLimit {
  public:
    using Clock = std::chrono::steady_clock;

    explicit StallLimit(Clock::duration theLimit) : limit(theLimit) {}

    // A new connection is being made: the limit stops until a request goes out on it.
    void Connecting() { watching = false; }
    // A request has gone out: silence is counted from now.
    void RequestSent(Clock::time_point now) {
        watching = true;
        lastHeard = now;
    }
    // The server was heard from, or the caller read: silence starts again from now.
    void Heard(Clock::time_point now) { lastHeard = now; }

    // Whether the server has now been silent for the whole limit while a request waited for it.
    bool Expired(Clock::time_point now) const { return watching && now - lastHeard >= limit; }

    // How long a wait for the socket may last from now, at most cap, so that the wait ends when
    // the limit is reached: cap while the limit does not run, 0 once it has expired.
    std::chrono::milliseconds WaitBound(Clock::time_point now, std::chrono::milliseconds cap) const;

  private:
    Clock::duration limit;
    bool watching = false;
    Clock::time_point lastHeard{};
};

}  // namespace korrin
