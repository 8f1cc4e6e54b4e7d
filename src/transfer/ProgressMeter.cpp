#include "transfer/ProgressMeter.h"

#include <algorithm>
#include <ctime>
#include <string>
#include <utility>

namespace korrin {

std::int64_t WallClockSeconds() { return static_cast<std::int64_t>(std::time(nullptr)); }

ProgressMeter::ProgressMeter(Clock theClock, std::FILE* theOut, Columns theColumns)
    : clock(std::move(theClock)), out(theOut), columns(std::move(theColumns)) {}

void ProgressMeter::Start() {
    startTime = clock();
    consoleColumns = ReadColumns();
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
    ProgressFigures figures = ProgressFiguresFor(bytesSoFar, contentLength, secondsLeft,
                                                 ProgressBarCells(consoleColumns));
    if (drawn && figures == lastDrawn) return;
    // The width is read only for a line that is drawn, not for every chunk.
    const int columnsNow = ReadColumns();
    if (columnsNow != consoleColumns) {
        consoleColumns = columnsNow;
        figures = ProgressFiguresFor(bytesSoFar, contentLength, secondsLeft,
                                     ProgressBarCells(consoleColumns));
    }
    Draw(figures);
}

void ProgressMeter::Complete() {
    consoleColumns = ReadColumns();
    const std::string line = ClosingLineText(consoleColumns, drawnWidth);
    std::fwrite(line.data(), 1, line.size(), out);
    std::fflush(out);
}

void ProgressMeter::Interrupt() {
    std::fputs("\n", out);
    std::fflush(out);
}

int ProgressMeter::ReadColumns() const { return columns ? columns() : 0; }

void ProgressMeter::Draw(const ProgressFigures& figures) {
    const std::string line = ProgressLineText(figures, drawnWidth, consoleColumns);
    std::fwrite(line.data(), 1, line.size(), out);
    std::fflush(out);
    drawn = true;
    lastDrawn = figures;
    // The line begins with a carriage return, which takes no column.
    drawnWidth = std::max(drawnWidth, line.size() - 1);
}

}  // namespace korrin
