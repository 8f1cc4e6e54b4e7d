#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>

#include "transfer/ProgressLine.h"

namespace korrin {

// The wall clock in whole seconds since 1970-01-01 UTC: the meter's clock in the program.
std::int64_t WallClockSeconds();

// The console line that shows how far a download's body has come: a percentage, a bar of 20
// cells and, once an estimate exists, the time remaining. It follows every chunk, and redraws the
// line in place whenever its text changes: every change of percentage, cells or time text is
// drawn at once, and a line that would repeat the last one is not written at all, since a body
// of a GiB arrives in a million chunks and the terminal would otherwise receive tens of MB of
// identical text.
class ProgressMeter {
  public:
    // Reads the time in whole seconds.
    using Clock = std::function<std::int64_t()>;
    // Reads the width in columns of the console that out writes to; 0 when it is no terminal.
    using Columns = std::function<int()>;

    // theClock, theOut and theColumns come from the owner: the wall clock, standard output and
    // the width of the terminal standard output writes to in the program. theOut is not owned;
    // each drawn line is flushed, since it ends without a line feed. Without theColumns the width
    // is unknown and the lines are drawn in full. The width is read at Start and at every redraw,
    // so that a terminal narrower than the closing line gets lines that fit it (ProgressLineText).
    ProgressMeter(Clock theClock, std::FILE* theOut, Columns theColumns = {});

    // Starts the clock for the estimate and forgets any earlier line. Writes nothing.
    void Start();
    // Follows one chunk of n bytes; bytesSoFar includes it. Does nothing at all when no length
    // was announced (contentLength 0 or less).
    void Update(std::int64_t n, std::int64_t bytesSoFar, std::int64_t contentLength);
    // Writes the closing line: 100 percent and a full bar, whatever was drawn before.
    void Complete();
    // Ends the current line after a failure, leaving the bar as last drawn.
    void Interrupt();

  private:
    void Draw(const ProgressFigures& figures);
    int ReadColumns() const;

    Clock clock;
    std::FILE* out;
    Columns columns;
    int consoleColumns = 0;  // the width read last
    std::int64_t startTime = 0;
    // Elapsed whole seconds at which the last estimate was made; a new one is made only when the
    // elapsed seconds have grown past it.
    std::int64_t lastElapsed = 0;
    std::int64_t secondsLeft = 0;
    // What is on the console: whether a line has been drawn since Start, its figures, and the
    // widest line drawn.
    bool drawn = false;
    ProgressFigures lastDrawn;
    std::size_t drawnWidth = 0;
};

}  // namespace korrin
