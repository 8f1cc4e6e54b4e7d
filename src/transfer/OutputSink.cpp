#include "transfer/OutputSink.h"

#include <cstring>
#include <new>

namespace korrin {

namespace {
// Large enough that the output is written in big blocks, small enough not to matter for memory.
constexpr std::size_t bufferSize = std::size_t{128} * 1024;
}  // namespace

OutputSink::OutputSink(const std::string& path) {
    if (path.empty()) {
        stream = stdout;
    } else {
        owned.reset(std::fopen(path.c_str(), "wb"));
        stream = owned.get();
    }
    if (stream == nullptr) return;
    // Without the buffer the bytes go out in the stream's own, smaller blocks.
    buffer.reset(new (std::nothrow) char[bufferSize]);
    if (buffer && owned) std::setvbuf(stream, buffer.get(), _IOFBF, bufferSize);
}

OutputSink::~OutputSink() { Finish(); }

bool OutputSink::Write(const void* data, std::size_t size) {
    if (stream == nullptr || failed) return false;
    if (owned || !buffer) {
        if (std::fwrite(data, 1, size, stream) != size) failed = true;
        return !failed;
    }
    if (held + size > bufferSize) WriteHeld();
    if (size >= bufferSize) {
        if (!failed && std::fwrite(data, 1, size, stream) != size) failed = true;
    } else {
        std::memcpy(buffer.get() + held, data, size);
        held += size;
    }
    return !failed;
}

void OutputSink::WriteHeld() {
    if (held != 0 && !failed && std::fwrite(buffer.get(), 1, held, stream) != held) failed = true;
    held = 0;
}

bool OutputSink::Finish() {
    if (stream == nullptr) return !failed;
    if (owned) {
        if (std::fclose(owned.release()) != 0) failed = true;
    } else {
        WriteHeld();
        if (std::fflush(stream) != 0 || std::ferror(stream)) failed = true;
    }
    stream = nullptr;
    return !failed;
}

}  // namespace korrin
