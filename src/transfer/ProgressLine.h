#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace korrin {

// Number of cells in the progress bar.
inline constexpr int progressBarWidth = 20;

// Width of the closing line before its line feed, the widest text the meter writes as a rule. A
// console at least this wide, or one whose width is unknown (0: not a terminal), gets the lines
// as they are; a narrower one gets them shortened so that no line reaches its last column, where
// a terminal wraps and the carriage return of the next line no longer returns to its start.
inline constexpr int closingLineWidth = 61;

// The cells of the bar on a console of columns columns (0: unknown): progressBarWidth, or as many
// as leave room for a three-digit percentage, its brackets and the last column, at least 0.
int ProgressBarCells(int columns);

// The numbers that make one progress line. Two lines with equal figures (drawn over a line of the
// same width) have the same text, so comparing figures tells whether a line needs drawing at all.
struct ProgressFigures {
    // Whole percent of the announced length received, truncated; above 100 when more arrived.
    std::int64_t percentage = 0;
    // Filled cells of the bar, 0 to barCells.
    int filledCells = 0;
    // The estimate of the time remaining; the line shows it only when it is above 0.
    std::int64_t secondsLeft = 0;
    // Cells of the whole bar.
    int barCells = progressBarWidth;

    bool operator==(const ProgressFigures&) const = default;
};

// The figures of a line for bytesSoFar received of contentLength announced (above 0), with the
// estimate secondsLeft, for a bar of barCells cells. The share is recomputed from the two counts in
// double precision at every call, never summed, so it carries no error from earlier chunks: the
// figures are the exact truncated share for any length below about 100 TB, and reach 100 percent
// and the full bar when bytesSoFar reaches contentLength, never before.
ProgressFigures ProgressFiguresFor(std::int64_t bytesSoFar, std::int64_t contentLength,
                                   std::int64_t secondsLeft, int barCells = progressBarWidth);

// The estimate of the whole seconds left at the rate seen so far: the remaining bytes divided by
// bytesSoFar per elapsedSeconds, truncated. 0 or less once the announced length has been
// reached. bytesSoFar and elapsedSeconds must be above 0.
std::int64_t EstimateSecondsLeft(std::int64_t bytesSoFar, std::int64_t contentLength,
                                 std::int64_t elapsedSeconds);

// The text of one drawn line: a carriage return, the percentage in three columns, "% [", the
// bar, "]", and the time text "   Time remaining: MM:SS" when secondsLeft is above 0 (minutes
// unbounded). No line feed follows; the next line is drawn over this one.
//
// coverWidth is the width of what the earlier lines left on the console, whatever its width was
// when they were drawn. A narrower line (the minutes have lost a digit, the time text has gone,
// the console has been made wider after a narrow line) is followed by blanks up to that width, so
// that nothing of an earlier line stays visible behind it.
//
// On a console of columns columns narrower than closingLineWidth, the line's text ends short of
// the last column: the time text is left out unless it fits, and a line that still does not fit
// (a percentage of four digits or more, a console of a few columns) is cut there. Only blanks that
// cover what a line drawn on a wider console left there fill the last column. The bar is narrowed
// by the figures' barCells, from ProgressBarCells(columns).
std::string ProgressLineText(const ProgressFigures& figures, std::size_t coverWidth = 0,
                             int columns = 0);

// The closing line after the whole body: 100 percent and a full bar, then blanks that cover the
// time text of the widest usual line, and a line feed; 61 characters before the line feed, more
// only when an earlier line was wider (coverWidth, as for ProgressLineText). On a console of
// columns columns narrower than that, the bar has ProgressBarCells(columns) cells and the
// blanks, which cover every line drawn at that width, stop short of the last column unless a
// line drawn on a wider console left something there.
std::string ClosingLineText(int columns = 0, std::size_t coverWidth = 0);

}  // namespace korrin
