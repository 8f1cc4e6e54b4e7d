#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>

namespace korrin {

// Where a download's body goes: a file opened for writing in binary mode, or standard output.
// Every write is checked: the sink remembers the first failure, and later writes do nothing.
// Either way the bytes go out in large blocks, through a buffer that the sink owns.
class OutputSink {
  public:
    // Opens path with mode "wb" (created, or truncated to length 0); an empty path selects
    // standard output. Check IsOpen() afterwards.
    explicit OutputSink(const std::string& path);
    // Finishes the sink if that has not been done: nothing that Write took is left behind.
    ~OutputSink();
    OutputSink(const OutputSink&) = delete;
    OutputSink& operator=(const OutputSink&) = delete;

    bool IsOpen() const { return stream != nullptr; }

    // Writes size bytes as one block; false when they were not all written.
    bool Write(const void* data, std::size_t size);

    // Closes the file, or writes what is held for standard output and flushes it; false when
    // that, or any earlier write, failed. The sink is finished after the first call.
    bool Finish();

  private:
    struct FileCloser {
        void operator()(std::FILE* file) const noexcept { std::fclose(file); }
    };

    // Writes the bytes held for standard output.
    void WriteHeld();

    // A file's stream buffer, set before the file's first write. Standard output's buffering can
    // be chosen only before its first use, which the sink cannot know of, so for standard output
    // this holds the bytes in front of the stream instead, and they go out as one block when it
    // is full. Declared before the file, so that the file is closed while its buffer still exists.
    std::unique_ptr<char[]> buffer;
    std::size_t held = 0;                          // bytes of buffer held for standard output
    std::unique_ptr<std::FILE, FileCloser> owned;  // the file, when the sink owns one
    std::FILE* stream = nullptr;                   // the file or stdout; null once finished
    bool failed = false;
};

}  // namespace korrin
