#pragma once

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "webaccess/BodyDigest.h"
#include "webaccess/ContentDigest.h"

namespace korrin {

// Computes a body's checksums on a thread of its own, beside the transfer: the transfer copies
// each piece of the body into the worker's ring and goes on receiving and writing while the
// thread hashes it. It is made only for a response that carries checks, so a body without any
// costs nothing and starts no thread. If the ring or the thread cannot be had, each piece is
// hashed at once, on the caller's thread.
//
// The ring is the slack between the two: the transfer waits only when the thread has fallen a
// whole ring behind, so that the short stalls of either side (the scheduler, a burst from the
// socket) do not hold up the other. Memory stays bounded by the ring, whatever the body's size.
class DigestWorker {
  public:
    // Four of the transfer's reads of 128 KiB: a smaller ring makes the transfer wait on the
    // thread's wake-ups (256 KiB costs a sixth more time on a large download), a larger one buys
    // little more speed for memory that every checked download then holds.
    static constexpr std::size_t defaultRingBytes = std::size_t{512} << 10;

    explicit DigestWorker(std::vector<DigestCheck> checks,
                          std::size_t ringBytes = defaultRingBytes);
    // Stops the thread, after the stretch it is hashing, and waits for it: nothing outlives the
    // worker, whichever way the transfer ended.
    ~DigestWorker();
    DigestWorker(const DigestWorker&) = delete;
    DigestWorker& operator=(const DigestWorker&) = delete;

    // Copies the next size bytes of the body in, waiting for room when the ring is full; the
    // caller may reuse its own buffer as soon as this returns. Safe to call from a libcurl
    // callback.
    void Submit(const char* data, std::size_t size) noexcept;

    // Waits for the last byte to be hashed and gives the verdict on the whole body; every later
    // call returns the same.
    DigestVerdict Finish() noexcept;

  private:
    void Run() noexcept;
    // Wakes the thread, with mutex held, when it sleeps while bytes wait for it.
    void WakeIfAsleep();

    BodyDigest digest;  // fed by the thread while it runs, else by the caller
    std::size_t capacity;
    std::unique_ptr<char[]> ring;  // owned; null when hashing on the caller's thread
    std::mutex mutex;
    std::condition_variable work;  // the thread waits here for bytes, or to stop
    std::condition_variable room;  // the caller waits here for room, or for the last byte
    // Guarded by mutex. Counts of bytes since the start: [hashed, submitted) is in the ring, at
    // offsets taken modulo capacity.
    std::size_t submitted = 0;
    std::size_t hashed = 0;
    std::size_t untold = 0;      // bytes submitted since the thread last went to sleep
    bool stopping = false;       // the thread is to end
    bool threadAsleep = false;   // the thread waits for bytes
    bool callerWaiting = false;  // the caller waits for room or for the last byte
    std::thread thread;          // joined by the destructor; not started when it could not be
};

}  // namespace korrin
