#pragma once

#include <array>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>
#include <vector>

#include "webaccess/BodyDigest.h"
#include "webaccess/ContentDigest.h"

namespace korrin {

// Computes a body's checksums on a thread of its own, beside the transfer: the transfer hands it
// each piece of the body as it arrives, in place, and goes on receiving and writing while the
// piece is hashed. It is made only for a response that carries checks, so a body without any
// costs nothing and starts no thread. If no thread can be started, each piece is hashed at once,
// on the caller's thread.
//
// The pieces are borrowed, not copied, so memory stays what the caller already holds: a piece's
// bytes must stay unchanged, and in place, until WaitUntilFree has said so for them, or WaitIdle
// or Finish has returned, or the worker is destroyed. Pieces are hashed in the order submitted.
class DigestWorker {
  public:
    explicit DigestWorker(std::vector<DigestCheck> checks);
    // Stops the thread, after the stretch it is hashing, and waits for it: nothing outlives the
    // worker, whichever way the transfer ended.
    ~DigestWorker();
    DigestWorker(const DigestWorker&) = delete;
    DigestWorker& operator=(const DigestWorker&) = delete;

    // Hands over the next size bytes of the body. Safe to call from a libcurl callback.
    void Submit(const char* data, std::size_t size) noexcept;

    // Returns once no byte of [from, from + size) is submitted and still to be hashed, so that
    // the caller may overwrite them; bytes elsewhere may still be hashed meanwhile.
    void WaitUntilFree(const char* from, std::size_t size) noexcept;

    // Returns once every piece submitted so far has been hashed.
    void WaitIdle() noexcept;

    // Waits for the last piece and gives the verdict on the whole body; every later call returns
    // the same.
    DigestVerdict Finish() noexcept;

  private:
    // A stretch of memory submitted and not yet taken by the thread.
    struct Span {
        const char* next = nullptr;
        const char* end = nullptr;
    };

    void Run() noexcept;
    // Waits, with lock held on mutex, until done() holds, waking the thread first if it sleeps
    // on bytes it has not been told about.
    template <typename Done>
    void WaitFor(std::unique_lock<std::mutex>& lock, Done done);
    bool Overlaps(const char* from, const char* to) const;

    BodyDigest digest;  // fed by the thread while it runs, else by the caller
    std::mutex mutex;
    std::condition_variable wake;
    // Guarded by mutex from here on. Pieces that follow one another in memory extend the last
    // run; a piece elsewhere starts the next (the caller reuses its buffer from the start).
    std::array<Span, 2> runs;
    std::size_t runCount = 0;
    std::size_t untold = 0;          // bytes submitted since the thread was last woken
    const char* busyFrom = nullptr;  // the stretch the thread is hashing, empty when none
    const char* busyTo = nullptr;
    bool stopping = false;       // the thread is to end
    bool ownerWaiting = false;   // the caller waits for the thread
    bool threadWaiting = false;  // the thread waits for bytes
    std::thread thread;          // joined by the destructor; not started when it could not be
};

}  // namespace korrin
