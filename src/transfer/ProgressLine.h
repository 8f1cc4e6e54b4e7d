#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace korrin {

// Number of cells in the progress bar.
inline constexpr int progressBarWidth = 20;

// The numbers that make one progress line. Two lines with equal figures (drawn over a line of the
// same width) have the same text, so comparing figures tells whether a line needs drawing at all.
struct ProgressFigures {
    // Whole percent of the announced length received, truncated; above 100 when more arrived.
    std::int64_t percentage = 0;
    // Filled cells of the bar, 0 to progressBarWidth.
    int filledCells = 0;
    // The estimate of the time remaining; the line shows it only when it is above 0.
    std::int64_t secondsLeft = 0;

    bool operator==(const ProgressFigures&) const = default;
};

// The figures of a line for bytesSoFar received of contentLength announced (above 0), with the
// estimate secondsLeft. The share is recomputed from the two counts in double precision at every
// call, never summed, so it carries no error from earlier chunks: the figures are the exact
// truncated share for any length below about 100 TB, and reach 100 percent and the full bar when
// bytesSoFar reaches contentLength, never before.
ProgressFigures ProgressFiguresFor(std::int64_t bytesSoFar, std::int64_t contentLength,
                                   std::int64_t secondsLeft);

// The estimate of the whole seconds left at the rate seen so far: the remaining bytes divided by
// bytesSoFar per elapsedSeconds, truncated. 0 or less once the announced length has been
// reached. bytesSoFar and elapsedSeconds must be above 0.
std::int64_t EstimateSecondsLeft(std::int64_t bytesSoFar, std::int64_t contentLength,
                                 std::int64_t elapsedSeconds);

// The text of one drawn line: a carriage return, the percentage in three columns, "% [", the
// bar, "]", and the time text "   Time remaining: MM:SS" when secondsLeft is above 0 (minutes
// unbounded). No line feed follows; the next line is drawn over this one.
//
// coverWidth is the width of what the earlier lines left on the console. A line with a time text
// that is narrower (the minutes have lost a digit, 100:00 becoming 99:59) is followed by blanks up
// to that width, so that no stale digit reads as part of the new time. A line without a time text
// gets no blanks: the closing line covers what is left then.
std::string ProgressLineText(const ProgressFigures& figures, std::size_t coverWidth = 0);

// The closing line after the whole body: 100 percent and a full bar, then blanks that cover the
// time text of the widest usual line, and a line feed; 61 characters before the line feed.
std::string ClosingLineText();

}  // namespace korrin
