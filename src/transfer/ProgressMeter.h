#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>

namespace korrin {

// The console line that shows how far a download's body has come: a percentage, a bar of 20
// cells and, once an estimate exists, the time remaining; redrawn in place after each chunk.
class ProgressMeter {
public:
    // Reads the time in whole seconds.
    using Clock = std::function<std::int64_t()>;

    // clock and out come from the owner: the wall clock and standard output in the program.
    ProgressMeter(Clock clock, std::FILE* out);

    // Starts the clock for the estimate. Writes nothing.
    void Start();
    // Follows one chunk of n bytes; bytesSoFar includes it. Draws nothing when no length was
    // announced (contentLength 0 or less).
    void Update(std::int64_t n, std::int64_t bytesSoFar, std::int64_t contentLength);
    // Writes the closing line: 100 percent and a full bar.
    void Complete();
    // Ends the current line after a failure.
    void Interrupt();

private:
    Clock clock;
    std::FILE* out;
    int barWidth = 20;
    double fraction = 0;
    std::int64_t startTime = 0;
    std::int64_t lastElapsed = 0;
    std::int64_t secondsLeft = 0;
};

}  // namespace korrin
