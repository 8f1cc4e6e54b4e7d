#include "transfer/OutputSink.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <new>

namespace korrin {

namespace {
// Large enough that the output is written in big blocks, small enough not to matter for memory.
constexpr std::size_t bufferSize = std::size_t{128} * 1024;
}  // namespace

OutputSink::OutputSink(const std::string& path) {
    if (path.empty()) {
        // What was printed through the stream before goes out first.
        if (std::fflush(stdout) != 0) failed = true;
        fd = STDOUT_FILENO;
    } else {
        owned.reset(std::fopen(path.c_str(), "wb"));
        if (!owned) return;
        fd = ::fileno(owned.get());
    }
    // Without the buffer every block goes out as it comes.
    buffer.reset(new (std::nothrow) char[bufferSize]);
}

OutputSink::~OutputSink() { Finish(); }

bool OutputSink::Write(const void* data, std::size_t size) {
    if (fd < 0 || failed) return false;
    const char* bytes = static_cast<const char*>(data);
    if (!buffer) {
        WriteOut(bytes, size);
        return !failed;
    }
    if (held + size > bufferSize) WriteHeld();
    if (size >= bufferSize) {
        WriteOut(bytes, size);
    } else if (!failed) {
        std::memcpy(buffer.get() + held, bytes, size);
        held += size;
    }
    return !failed;
}

void OutputSink::WriteHeld() {
    WriteOut(buffer.get(), held);
    held = 0;
}

void OutputSink::WriteOut(const char* data, std::size_t size) {
    while (size > 0 && !failed) {
        const ssize_t n = ::write(fd, data, std::min<std::size_t>(size, SSIZE_MAX));
        if (n > 0) {
            data += n;
            size -= static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd room{fd, POLLOUT, 0};
            if (::poll(&room, 1, -1) < 0 && errno != EINTR) failed = true;
        } else {
            failed = true;
        }
    }
}

bool OutputSink::Finish() {
    if (fd < 0) return !failed;
    if (held != 0 && !failed) WriteHeld();
    if (owned) {
        if (std::fclose(owned.release()) != 0) failed = true;
    } else if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        failed = true;
    }
    fd = -1;
    return !failed;
}

}  // namespace korrin
