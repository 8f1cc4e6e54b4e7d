#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>

namespace korrin {

// Where a download's body goes: a file opened for writing in binary mode, or standard output.
// Every write is checked: the sink remembers the first failure, and later writes do nothing.
// Either way the bytes go out in large blocks, through a buffer that the sink owns, written
// straight to the descriptor: a write that a signal interrupts goes on until every byte is out
// (a signal that stops the download wants what arrived stored; the wind-down's own time limit
// ends a write that a reader holds up for too long), and one made to a descriptor in
// non-blocking mode waits until it can go on.
class OutputSink {
  public:
    // Opens path with mode "wb" (created, or truncated to length 0); an empty path selects
    // standard output. Check IsOpen() afterwards. Opening is not retried when a signal
    // interrupts it: a file that cannot be opened at once (a FIFO nobody reads) holds nothing.
    explicit OutputSink(const std::string& path);
    // Finishes the sink if that has not been done: nothing that Write took is left behind.
    ~OutputSink();
    OutputSink(const OutputSink&) = delete;
    OutputSink& operator=(const OutputSink&) = delete;

    bool IsOpen() const { return fd >= 0; }

    // Writes size bytes as one block; false when they were not all written.
    bool Write(const void* data, std::size_t size);

    // Writes what is held and closes the file, or flushes standard output; false when that, or
    // any earlier write, failed. The sink is finished after the first call.
    bool Finish();

  private:
    struct FileCloser {
        void operator()(std::FILE* file) const noexcept { std::fclose(file); }
    };

    // Writes the bytes held in the buffer.
    void WriteHeld();
    // Writes size bytes to the descriptor, all of them unless it fails; remembers a failure.
    void WriteOut(const char* data, std::size_t size);

    std::unique_ptr<char[]> buffer;                // null when it could not be had
    std::size_t held = 0;                          // bytes of buffer not yet written
    std::unique_ptr<std::FILE, FileCloser> owned;  // the file, when the sink owns one
    int fd = -1;                                   // the file's or standard output's; -1 finished
    bool failed = false;
};

}  // namespace korrin
