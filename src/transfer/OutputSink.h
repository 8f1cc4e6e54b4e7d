#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>

namespace korrin {

// Where a download's body goes: a file opened for writing in binary mode, or standard output.
// Every write is checked: the sink remembers the first failure, and later writes do nothing.
class OutputSink {
public:
    // Opens path with mode "wb" (created, or truncated to length 0); an empty path selects
    // standard output. Check IsOpen() afterwards.
    explicit OutputSink(const std::string& path);
    OutputSink(const OutputSink&) = delete;
    OutputSink& operator=(const OutputSink&) = delete;

    bool IsOpen() const { return stream != nullptr; }

    // Writes size bytes as one block; false when they were not all written.
    bool Write(const void* data, std::size_t size);

    // Closes the file, or flushes standard output; false when that, or any earlier write,
    // failed. The sink is finished after the first call.
    bool Finish();

private:
    struct FileCloser {
        void operator()(std::FILE* file) const noexcept { std::fclose(file); }
    };

    // Declared before the file, so that the file is closed while its buffer still exists.
    std::unique_ptr<char[]> buffer;                // the file stream's buffer
    std::unique_ptr<std::FILE, FileCloser> owned;  // the file, when the sink owns one
    std::FILE* stream = nullptr;                   // the file or stdout; null once finished
    bool failed = false;
};

}  // namespace korrin
