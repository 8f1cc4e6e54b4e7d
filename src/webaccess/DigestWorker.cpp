#include "webaccess/DigestWorker.h"

#include <algorithm>
#include <system_error>
#include <utility>

namespace korrin {

namespace {

// The thread is woken once this much has been submitted, not for every piece: each wake-up is a
// system call and a switch, and libcurl delivers a body in pieces of 16 KiB.
constexpr std::size_t wakeBytes = std::size_t{64} * 1024;
// The most the thread hashes in one stretch: small enough that a caller waiting for the start of
// its buffer is let go early, large enough that hashing runs at full speed.
constexpr std::size_t stretchBytes = std::size_t{64} * 1024;

}  // namespace

DigestWorker::DigestWorker(std::vector<DigestCheck> checks) : digest(std::move(checks)) {
    try {
        thread = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
        // No thread: Submit hashes on the caller's thread.
    }
}

DigestWorker::~DigestWorker() {
    if (!thread.joinable()) return;
    {
        const std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    wake.notify_all();
    thread.join();
}

bool DigestWorker::Overlaps(const char* from, const char* to) const {
    const auto meets = [from, to](const char* begin, const char* end) {
        return begin < to && from < end;
    };
    if (meets(busyFrom, busyTo)) return true;
    for (std::size_t i = 0; i < runCount; ++i) {
        if (meets(runs[i].next, runs[i].end)) return true;
    }
    return false;
}

template <typename Done>
void DigestWorker::WaitFor(std::unique_lock<std::mutex>& lock, Done done) {
    if (done()) return;
    if (threadWaiting) {
        untold = 0;
        wake.notify_all();
    }
    ownerWaiting = true;
    wake.wait(lock, done);
    ownerWaiting = false;
}

void DigestWorker::Submit(const char* data, std::size_t size) noexcept {
    if (size == 0) return;
    if (!thread.joinable()) {
        digest.Update(data, size);
        return;
    }
    std::unique_lock<std::mutex> lock(mutex);
    if (runCount > 0 && runs[runCount - 1].end == data) {
        runs[runCount - 1].end += size;
    } else {
        WaitFor(lock, [this] { return runCount < runs.size(); });
        runs[runCount++] = {data, data + size};
    }
    untold += size;
    if (threadWaiting && untold >= wakeBytes) {
        untold = 0;
        lock.unlock();
        wake.notify_all();
    }
}

void DigestWorker::WaitUntilFree(const char* from, std::size_t size) noexcept {
    if (!thread.joinable()) return;
    std::unique_lock<std::mutex> lock(mutex);
    WaitFor(lock, [this, from, size] { return !Overlaps(from, from + size); });
}

void DigestWorker::WaitIdle() noexcept {
    if (!thread.joinable()) return;
    std::unique_lock<std::mutex> lock(mutex);
    WaitFor(lock, [this] { return runCount == 0 && busyFrom == busyTo; });
}

DigestVerdict DigestWorker::Finish() noexcept {
    WaitIdle();
    return digest.Finish();
}

void DigestWorker::Run() noexcept {
    std::unique_lock<std::mutex> lock(mutex);
    while (true) {
        threadWaiting = true;
        wake.wait(lock, [this] { return stopping || runCount > 0; });
        threadWaiting = false;
        if (stopping) return;
        Span& first = runs[0];
        const char* const from = first.next;
        const std::size_t size =
            std::min(static_cast<std::size_t>(first.end - first.next), stretchBytes);
        busyFrom = from;
        busyTo = from + size;
        first.next = busyTo;
        if (first.next == first.end) {
            runs[0] = runs[1];
            --runCount;
        }
        lock.unlock();
        digest.Update(from, size);
        lock.lock();
        busyFrom = busyTo = nullptr;
        if (ownerWaiting) wake.notify_all();
    }
}

}  // namespace korrin
