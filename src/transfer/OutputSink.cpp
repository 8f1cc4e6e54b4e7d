#include "transfer/OutputSink.h"

#include <new>

namespace korrin {

namespace {
// Large enough that the file stream writes in big blocks, small enough not to matter for memory.
constexpr std::size_t fileBufferSize = std::size_t{128} * 1024;
}  // namespace

OutputSink::OutputSink(const std::string& path) {
    if (path.empty()) {
        stream = stdout;
        return;
    }
    owned.reset(std::fopen(path.c_str(), "wb"));
    stream = owned.get();
    if (stream != nullptr) {
        buffer.reset(new (std::nothrow) char[fileBufferSize]);
        if (buffer) std::setvbuf(stream, buffer.get(), _IOFBF, fileBufferSize);
    }
}

bool OutputSink::Write(const void* data, std::size_t size) {
    if (stream == nullptr || failed) return false;
    if (std::fwrite(data, 1, size, stream) != size) failed = true;
    return !failed;
}

bool OutputSink::Finish() {
    if (stream == nullptr) return !failed;
    if (owned) {
        if (std::fclose(owned.release()) != 0) failed = true;
    } else if (std::fflush(stream) != 0 || std::ferror(stream)) {
        failed = true;
    }
    stream = nullptr;
    return !failed;
}

}  // namespace korrin
