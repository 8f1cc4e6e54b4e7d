#include "transfer/ProgressLine.h"

#include <cinttypes>
#include <cstdio>
#include <limits>

namespace korrin {

namespace {

constexpr std::int64_t secondsPerMinute = 60;
constexpr const char* timeTextFormat = "   Time remaining: %02" PRId64 ":%02" PRId64;
// Blanks behind the closing bracket of the closing line: 27 characters of percentage and bar and
// these 34 cover a line with a two-digit minute count (24 characters of time text).
constexpr const char* closingBlanks = "                                  ";

// Truncates toward zero, holding values beyond the 64-bit range at its ends instead of
// overflowing (an estimate after a clock jump, a share of an absurdly small announced length).
std::int64_t TruncateToInt64(double value) {
    constexpr double limit = 9223372036854775808.0;  // 2 to the 63rd, exact in double
    if (!(value < limit)) return std::numeric_limits<std::int64_t>::max();
    if (value < -limit) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(value);
}

// The width on the console of a text that begins with a carriage return.
std::size_t VisibleWidth(const std::string& line) { return line.empty() ? 0 : line.size() - 1; }

// "100% [" and "]": what a line holds besides the cells, with a three-digit percentage.
constexpr int barFrameWidth = 7;

// The columns a line may fill on a console of columns columns: all but the last one on a console
// narrower than the closing line, else no limit.
std::size_t UsableColumns(int columns) {
    if (columns <= 0 || columns >= closingLineWidth) return std::string::npos;
    return static_cast<std::size_t>(columns - 1);
}

// Cuts a line that begins with a carriage return to width columns.
void FitLine(std::string& line, std::size_t width) {
    if (VisibleWidth(line) > width) line.resize(width + 1);
}

// Blanks whatever earlier lines, coverWidth wide, left to the right of line. On a console narrower
// than the closing line (usable columns before the last) the blanks may fill the last column too,
// which a line's text never reaches: only an earlier line drawn while the console was wider can
// have left something there. A terminal that has written its last column waits for the next
// character before it wraps, and the carriage return or line feed that follows is that
// character, so the row is not left.
void CoverEarlierLines(std::string& line, std::size_t coverWidth, std::size_t usable) {
    const std::size_t reach = usable == std::string::npos ? usable : usable + 1;
    const std::size_t cover = coverWidth < reach ? coverWidth : reach;
    if (VisibleWidth(line) < cover) line.append(cover - VisibleWidth(line), ' ');
}

}  // namespace

int ProgressBarCells(int columns) {
    const std::size_t usable = UsableColumns(columns);
    if (usable == std::string::npos) return progressBarWidth;
    const int room = static_cast<int>(usable) - barFrameWidth;
    return room < 0 ? 0 : (room < progressBarWidth ? room : progressBarWidth);
}

ProgressFigures ProgressFiguresFor(std::int64_t bytesSoFar, std::int64_t contentLength,
                                   std::int64_t secondsLeft, int barCells) {
    const double received = static_cast<double>(bytesSoFar);
    const double announced = static_cast<double>(contentLength);
    // Scaled before dividing, so that a share that is a whole percentage shows as that
    // percentage: 29.0 / 100 * 100 is 28.999... in double, while 2900.0 / 100 is exactly 29. The
    // scaled count is exact up to 2 to the 53rd, and one rounded division of exact values does
    // not cross a whole number for any announced length below about 10 to the 14th bytes.
    const std::int64_t percentage = TruncateToInt64(received * 100.0 / announced);
    std::int64_t cells = TruncateToInt64(received * barCells / announced);
    if (cells > barCells) cells = barCells;
    if (cells < 0) cells = 0;
    return ProgressFigures{percentage, static_cast<int>(cells), secondsLeft, barCells};
}

std::int64_t EstimateSecondsLeft(std::int64_t bytesSoFar, std::int64_t contentLength,
                                 std::int64_t elapsedSeconds) {
    const double remaining = static_cast<double>(contentLength - bytesSoFar);
    const double rate = static_cast<double>(bytesSoFar) / static_cast<double>(elapsedSeconds);
    return TruncateToInt64(remaining / rate);
}

std::string ProgressLineText(const ProgressFigures& figures, std::size_t coverWidth, int columns) {
    const std::size_t usable = UsableColumns(columns);
    // Wide enough for a 19-digit percentage and a 64-bit time text.
    char head[32];
    std::snprintf(head, sizeof head, "\r%3" PRId64 "%% [", figures.percentage);
    std::string line(head);
    line.append(static_cast<std::size_t>(figures.filledCells), '>');
    line.append(static_cast<std::size_t>(figures.barCells - figures.filledCells), '.');
    line += ']';
    if (figures.secondsLeft > 0) {
        char timeText[64];
        const int length = std::snprintf(timeText, sizeof timeText, timeTextFormat,
                                         figures.secondsLeft / secondsPerMinute,
                                         figures.secondsLeft % secondsPerMinute);
        // On a narrow console the time text goes first, before the bar is narrowed.
        if (usable == std::string::npos ||
            VisibleWidth(line) + static_cast<std::size_t>(length) <= usable) {
            line += timeText;
        }
    }
    if (usable != std::string::npos) FitLine(line, usable);
    CoverEarlierLines(line, coverWidth, usable);
    return line;
}

std::string ClosingLineText(int columns, std::size_t coverWidth) {
    const std::size_t usable = UsableColumns(columns);
    std::string line = "\r100% [";
    line.append(static_cast<std::size_t>(ProgressBarCells(columns)), '>');
    line += ']';
    if (usable == std::string::npos) {
        line += closingBlanks;
        // A line wider than the usual widest (a long minute count, a four-digit percentage) is
        // covered too.
        CoverEarlierLines(line, coverWidth, usable);
    } else {
        if (VisibleWidth(line) < usable) line.append(usable - VisibleWidth(line), ' ');
        FitLine(line, usable);
        CoverEarlierLines(line, coverWidth, usable);
    }
    line += '\n';
    return line;
}

}  // namespace korrin
