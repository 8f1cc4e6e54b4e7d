#include "webaccess/DigestWorker.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <system_error>
#include <utility>

#include "webaccess/HeldSignals.h"

namespace korrin {

namespace {

// The thread is woken once this much has been submitted, not for every piece: each wake-up is a
// system call and a switch, and libcurl delivers a body in pieces of 16 KiB.
constexpr std::size_t wakeBytes = std::size_t{64} * 1024;
// The most the thread hashes between two looks at the ring: small enough that a caller waiting
// for room is let go early, large enough that hashing runs at full speed.
constexpr std::size_t stretchBytes = std::size_t{64} * 1024;

}  // namespace

DigestWorker::DigestWorker(std::vector<DigestCheck> checks, std::size_t ringBytes)
    : digest(std::move(checks)), capacity(std::max(ringBytes, wakeBytes)) {
    ring.reset(new (std::nothrow) char[capacity]);
    if (!ring) return;
    try {
        // The thread takes none of the signals that the download's handlers decide on.
        const HeldSignals held;
        thread = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
        ring.reset();
    }
}

DigestWorker::~DigestWorker() {
    if (!thread.joinable()) return;
    {
        const std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    work.notify_one();
    thread.join();
}

void DigestWorker::WakeIfAsleep() {
    if (threadAsleep && submitted != hashed) {
        threadAsleep = false;
        work.notify_one();
    }
}

void DigestWorker::Submit(const char* data, std::size_t size) noexcept {
    if (!thread.joinable()) {
        digest.Update(data, size);
        return;
    }
    std::unique_lock<std::mutex> lock(mutex);
    while (size > 0) {
        if (submitted - hashed == capacity) {
            WakeIfAsleep();
            callerWaiting = true;
            room.wait(lock, [this] { return submitted - hashed < capacity; });
            callerWaiting = false;
        }
        const std::size_t at = submitted % capacity;
        const std::size_t n = std::min({size, capacity - (submitted - hashed), capacity - at});
        // The thread reads only [hashed, submitted): the bytes written here are not among them
        // until submitted moves past them.
        lock.unlock();
        std::memcpy(ring.get() + at, data, n);
        lock.lock();
        submitted += n;
        untold += n;
        data += n;
        size -= n;
    }
    if (untold >= wakeBytes) WakeIfAsleep();
}

DigestVerdict DigestWorker::Finish() noexcept {
    if (thread.joinable()) {
        std::unique_lock<std::mutex> lock(mutex);
        WakeIfAsleep();
        callerWaiting = true;
        room.wait(lock, [this] { return hashed == submitted; });
        callerWaiting = false;
    }
    return digest.Finish();
}

void DigestWorker::Run() noexcept {
    std::unique_lock<std::mutex> lock(mutex);
    while (!stopping) {
        if (hashed == submitted) {
            threadAsleep = true;
            untold = 0;
            work.wait(lock, [this] { return stopping || !threadAsleep; });
            threadAsleep = false;
            continue;
        }
        const std::size_t at = hashed % capacity;
        const std::size_t n = std::min({submitted - hashed, capacity - at, stretchBytes});
        lock.unlock();
        digest.Update(ring.get() + at, n);
        lock.lock();
        hashed += n;
        if (callerWaiting) room.notify_one();
    }
}

}  // namespace korrin
