#include "transfer/ProgressMeter.h"

#include <algorithm>
#include <string>
#include <utility>

namespace korrin {

ProgressMeter::ProgressMeter(Clock clock, std::FILE* out) : clock(std::move(clock)), out(out) {}

void ProgressMeter::Start() {
    startTime = clock();
    lastElapsed = 0;
    secondsLeft = 0;
    drawn = false;
    lastDrawn = ProgressFigures{};
    drawnWidth = 0;
}

void ProgressMeter::Update(std::int64_t /*n*/, std::int64_t bytesSoFar,
                           std::int64_t contentLength) {
    if (contentLength <= 0) return;
    const std::int64_t elapsed = clock() - startTime;
    if (elapsed > lastElapsed) {
        lastElapsed = elapsed;
        secondsLeft = EstimateSecondsLeft(bytesSoFar, contentLength, lastElapsed);
    }
    // The figures decide the text, so comparing them is enough to skip a repeat; no text is
    // formatted for a chunk that changes nothing on the screen.
    const ProgressFigures figures = ProgressFiguresFor(bytesSoFar, contentLength, secondsLeft);
    if (drawn && figures == lastDrawn) return;
    Draw(figures);
}

void ProgressMeter::Complete() {
    const std::string line = ClosingLineText();
    std::fwrite(line.data(), 1, line.size(), out);
    std::fflush(out);
}

void ProgressMeter::Interrupt() {
    std::fputs("\n", out);
    std::fflush(out);
}

void ProgressMeter::Draw(const ProgressFigures& figures) {
    const std::string line = ProgressLineText(figures, drawnWidth);
    std::fwrite(line.data(), 1, line.size(), out);
    std::fflush(out);
    drawn = true;
    lastDrawn = figures;
    // The line begins with a carriage return, which takes no column.
    drawnWidth = std::max(drawnWidth, line.size() - 1);
}

}  // namespace korrin
