#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "transfer/ProgressLine.h"
#include "transfer/ProgressMeter.h"

namespace korrin {
namespace {

constexpr std::int64_t startSecond = 1700000000;

// One drawn line as it should appear: the percentage text in its three columns, the filled cells
// and the time text, if any.
std::string Drawn(const char* percentage, int cells, const std::string& timeText = "") {
    return std::string("\r") + percentage + "% [" + std::string(cells, '>') +
           std::string(20 - cells, '.') + "]" + timeText;
}

const std::string closingLine = "\r100% [>>>>>>>>>>>>>>>>>>>>]                                  \n";

// A meter that writes into memory and reads a clock the test sets by hand.
class MeterFixture {
  public:
    MeterFixture()
        : stream(open_memstream(&buffer, &size)),
          meter([this] { return now; }, stream, [this] { return columns; }) {}
    ~MeterFixture() {
        std::fclose(stream);
        std::free(buffer);
    }
    MeterFixture(const MeterFixture&) = delete;
    MeterFixture& operator=(const MeterFixture&) = delete;

    // Everything the meter has written so far.
    std::string Output() {
        std::fflush(stream);
        return std::string(buffer, size);
    }
    // What the meter has written since the last call.
    std::string NewOutput() {
        const std::string all = Output();
        const std::string fresh = all.substr(seen);
        seen = all.size();
        return fresh;
    }

    std::int64_t now = startSecond;
    int columns = 0;  // the console's width; 0: not a terminal
    char* buffer = nullptr;
    std::size_t size = 0;
    std::size_t seen = 0;
    std::FILE* stream;
    ProgressMeter meter;
};

// Percentage of each line in text, a sequence of drawn lines.
std::vector<std::int64_t> Percentages(const std::string& text) {
    std::vector<std::int64_t> result;
    for (std::size_t at = text.find('\r'); at != std::string::npos; at = text.find('\r', at + 1)) {
        result.push_back(std::stoll(text.substr(at + 1, text.find('%', at) - at - 1)));
    }
    return result;
}

// --- Whole runs of the meter, chunk by chunk ---

struct Chunk {
    std::int64_t n;
    std::int64_t secondsSinceStart;
    std::string expectedLine;  // what this Update writes; empty when it draws nothing
};

enum class Ending { complete, interrupt };

struct RunCase {
    const char* name;
    std::int64_t contentLength;
    std::vector<Chunk> chunks;
    Ending ending;
    int columns = 0;                    // the console's width; 0: not a terminal
    std::string closing = closingLine;  // what Complete writes
};

void PrintTo(const RunCase& c, std::ostream* os) { *os << c.name; }

class MeterRuns : public ::testing::TestWithParam<RunCase> {};

TEST_P(MeterRuns, DrawsExactlyTheChangedLines) {
    const RunCase& c = GetParam();
    MeterFixture f;
    f.columns = c.columns;
    f.meter.Start();
    EXPECT_EQ(f.NewOutput(), "") << "Start writes nothing";
    std::int64_t bytesSoFar = 0;
    for (std::size_t i = 0; i < c.chunks.size(); ++i) {
        f.now = startSecond + c.chunks[i].secondsSinceStart;
        bytesSoFar += c.chunks[i].n;
        f.meter.Update(c.chunks[i].n, bytesSoFar, c.contentLength);
        EXPECT_EQ(f.NewOutput(), c.chunks[i].expectedLine) << "after chunk " << i + 1;
    }
    if (c.ending == Ending::complete) {
        f.meter.Complete();
        EXPECT_EQ(f.NewOutput(), c.closing);
    } else {
        f.meter.Interrupt();
        EXPECT_EQ(f.NewOutput(), "\n");
    }
}

std::vector<Chunk> HundredThousandCase() {
    std::vector<Chunk> chunks;
    // Nine chunks in the start second: 1 to 9 percent, no estimate yet.
    for (int k = 1; k <= 9; ++k) {
        const std::string percentage = "  " + std::to_string(k);
        chunks.push_back({1024, 0, Drawn(percentage.c_str(), k >= 5 ? 1 : 0)});
    }
    // 89760 / (10240 / 2) = 17.53.
    chunks.push_back({1024, 2, Drawn(" 10", 2, "   Time remaining: 00:17")});
    // The same second: no new estimate, the last one shown again beside the new percentage.
    chunks.push_back({1024, 2, Drawn(" 11", 2, "   Time remaining: 00:17")});
    return chunks;
}

INSTANTIATE_TEST_SUITE_P(
    Table, MeterRuns,
    ::testing::Values(
        RunCase{
            "ThreeChunksOf3000",
            3000,
            {{1024, 0, Drawn(" 34", 6)}, {1024, 0, Drawn(" 68", 13)}, {952, 0, Drawn("100", 20)}},
            Ending::complete},
        // Chunks that add up to exactly the length end at 100 percent and a full bar: no share
        // of a chunk is lost to rounding on the way.
        RunCase{"FourChunksOf3090EndAtAFullBar",
                3090,
                {{1024, 0, Drawn(" 33", 6)},
                 {1024, 0, Drawn(" 66", 13)},
                 {1024, 0, Drawn(" 99", 19)},
                 {18, 0, Drawn("100", 20)}},
                Ending::complete},
        RunCase{"MoreThanAnnouncedKeepsTheBarFull",
                500,
                {{1024, 0, Drawn("204", 20)}},
                Ending::complete},
        RunCase{"EstimateAfterTwoSeconds", 100000, HundredThousandCase(), Ending::complete},
        // 1999998976 / 1024 = 1953124 seconds: the minutes are not limited to two digits.
        RunCase{"LongEstimate",
                2000000000,
                {{1024, 1, Drawn("  0", 0, "   Time remaining: 32552:04")}},
                Ending::complete},
        RunCase{"RepeatedLinesAreNotWritten",
                1000000,
                {{1024, 0, Drawn("  0", 0)},
                 {1024, 0, ""},
                 {1024, 0, ""},
                 {1024, 0, ""},
                 {1024, 0, ""},
                 {1024, 0, ""},
                 {1024, 0, ""},
                 {1024, 0, ""},
                 {1024, 0, ""},
                 {1024, 0, Drawn("  1", 0)}},
                Ending::complete},
        // A new estimate alone is drawn at once; an unchanged one is not drawn again.
        RunCase{"ChangeOfTimeTextAloneIsDrawn",
                1000000,
                {{1024, 0, Drawn("  0", 0)},
                 {1024, 1, Drawn("  0", 0, "   Time remaining: 08:07")},
                 {1024, 1, ""},
                 {1024, 2, Drawn("  0", 0, "   Time remaining: 08:06")}},
                Ending::complete},
        // At the end the estimate is 0 and the line has no time text; blanks cover the time text
        // of the earlier line.
        RunCase{"NoTimeTextOnceTheLengthIsReached",
                2048,
                {{1024, 1, Drawn(" 50", 10, "   Time remaining: 00:01")},
                 {1024, 2, Drawn("100", 20, std::string(24, ' '))}},
                Ending::complete},
        // A line wider than the closing line (a 14-digit minute count) is covered by it.
        RunCase{"ClosingLineCoversAWiderLine",
                900000000000000000,
                {{1024, 1, Drawn("  0", 0, "   Time remaining: 14648437499999:59")}},
                Ending::complete,
                0,
                "\r100% [>>>>>>>>>>>>>>>>>>>>]" + std::string(36, ' ') + "\n"},
        // 113:48 then 64:58: a blank covers the digit the shorter time text would leave.
        RunCase{"TimeTextThatLosesADigitCoversTheOldOne",
                1000000,
                {{1024, 7, Drawn("  0", 0, "   Time remaining: 113:48")},
                 {1024, 8, Drawn("  0", 0, "   Time remaining: 64:58 ")}},
                Ending::complete},
        RunCase{"NoLengthAnnounced", 0, {{1024, 0, ""}, {1024, 3, ""}}, Ending::complete},
        RunCase{"NegativeLength", -5, {{1024, 0, ""}, {1024, 3, ""}}, Ending::complete},
        RunCase{"EmptyBody", 3000, {}, Ending::complete},
        RunCase{"FailureAfterSomeLines",
                3000,
                {{1024, 0, Drawn(" 34", 6)}, {1024, 0, Drawn(" 68", 13)}},
                Ending::interrupt},
        // A terminal as wide as the closing line, or wider, gets the lines of any console.
        RunCase{"SixtyOneColumnsKeepEveryByte",
                2000000000,
                {{1024, 1, Drawn("  0", 0, "   Time remaining: 32552:04")}},
                Ending::complete,
                61},
        // On 40 columns the time text is left out; lines and the closing line end before the
        // last column.
        RunCase{"FortyColumnsDropTheTimeText",
                2048,
                {{1024, 1, Drawn(" 50", 10)}, {1024, 2, Drawn("100", 20)}},
                Ending::complete,
                40,
                "\r100% [>>>>>>>>>>>>>>>>>>>>]" + std::string(12, ' ') + "\n"},
        // On 20 columns the bar has 12 cells: 19 columns in all.
        RunCase{"TwentyColumnsNarrowTheBar",
                3000,
                {{1024, 1, "\r 34% [>>>>........]"}, {1976, 1, "\r100% [>>>>>>>>>>>>]"}},
                Ending::complete,
                20,
                "\r100% [>>>>>>>>>>>>]\n"}),
    [](const ::testing::TestParamInfo<RunCase>& info) { return std::string(info.param.name); });

// The line ends without a line feed, so a line-buffered terminal would hold it back: each drawn
// line, the closing line and the line feed of a failure reach the stream's target at once. A
// memory stream shows its bytes only once flushed.
TEST(ProgressMeter, FlushesEveryLineItWrites) {
    MeterFixture f;
    f.meter.Start();
    f.meter.Update(1024, 1024, 3000);
    EXPECT_EQ(std::string(f.buffer, f.size), Drawn(" 34", 6));
    f.meter.Complete();
    EXPECT_EQ(std::string(f.buffer, f.size), Drawn(" 34", 6) + closingLine);

    MeterFixture failing;
    failing.meter.Start();
    failing.meter.Interrupt();
    EXPECT_EQ(std::string(failing.buffer, failing.size), "\n");
}

TEST(ProgressMeter, StartForgetsTheLineAndTheEstimateOfAnEarlierRun) {
    MeterFixture f;
    f.meter.Start();
    f.now += 1;
    f.meter.Update(1024, 1024, 2048);
    f.meter.Interrupt();
    f.NewOutput();
    f.meter.Start();
    f.meter.Update(1024, 1024, 2048);
    EXPECT_EQ(f.NewOutput(), Drawn(" 50", 10));
}

// The width is read again for each line drawn: a terminal made narrower during the download gets
// lines that fit it from the next one on, and a closing line to match.
TEST(ProgressMeter, ReadsTheWidthAgainForEachLine) {
    MeterFixture f;
    f.columns = 80;
    f.meter.Start();
    f.now += 1;
    f.meter.Update(1024, 1024, 1000000);
    EXPECT_EQ(f.NewOutput(), Drawn("  0", 0, "   Time remaining: 16:15"));
    f.columns = 30;
    f.meter.Update(1024, 10240, 1000000);
    EXPECT_EQ(f.NewOutput(), Drawn("  1", 0, "   ")) << "blanks over the wider line, to the 30th";
    f.columns = 20;
    f.meter.Complete();
    EXPECT_EQ(f.NewOutput(), "\r100% [>>>>>>>>>>>>] \n");
}

// Summed in single precision, the share of a 40 GB body stopped growing at 50 percent. Chunks are
// sampled (every 9973rd, plus the last ones) to keep the run short; each Update is what the body
// loop would make at that point.
TEST(ProgressMeter, FortyGigabytesReachAFullBarExactlyAtTheEnd) {
    constexpr std::int64_t length = 40000000000;
    constexpr std::int64_t chunks = length / 1024;
    MeterFixture f;
    f.meter.Start();
    std::vector<std::int64_t> sampled;
    for (std::int64_t k = 1; k < chunks - 3; k += 9973) sampled.push_back(k);
    for (std::int64_t k = chunks - 3; k <= chunks; ++k) sampled.push_back(k);
    std::int64_t lastPercentage = -1;
    for (const std::int64_t k : sampled) {
        const std::int64_t bytesSoFar = k * 1024;
        f.meter.Update(1024, bytesSoFar, length);
        const std::int64_t exact = bytesSoFar * 100 / length;
        const std::vector<std::int64_t> drawn = Percentages(f.NewOutput());
        if (exact != lastPercentage) {
            ASSERT_EQ(drawn, std::vector<std::int64_t>{exact}) << "at " << bytesSoFar;
        } else {
            ASSERT_TRUE(drawn.empty()) << "at " << bytesSoFar;
        }
        lastPercentage = exact;
    }
    EXPECT_EQ(lastPercentage, 100);
    const std::vector<std::int64_t> all = Percentages(f.Output());
    EXPECT_EQ(std::count(all.begin(), all.end(), 100), 1);
    EXPECT_EQ(all.back(), 100);
}

// Drawing after every 1024 bytes would send a million lines for a GiB; only the changes go out.
TEST(ProgressMeter, AGibibyteInSmallChunksDrawsAboutAHundredLines) {
    constexpr std::int64_t length = std::int64_t{1} << 30;
    MeterFixture f;
    f.meter.Start();
    for (std::int64_t bytesSoFar = 1024; bytesSoFar <= length; bytesSoFar += 1024) {
        f.meter.Update(1024, bytesSoFar, length);
    }
    const std::string output = f.Output();
    // 0 percent at the first chunk, then each of 1 to 100 once.
    EXPECT_EQ(std::count(output.begin(), output.end(), '\r'), 101);
    std::vector<std::int64_t> expected;
    for (int p = 0; p <= 100; ++p) expected.push_back(p);
    EXPECT_EQ(Percentages(output), expected);
}

// --- The pure parts: figures, estimate and text ---

struct FiguresCase {
    std::int64_t bytesSoFar;
    std::int64_t contentLength;
    std::int64_t percentage;
    int filledCells;
};

class Figures : public ::testing::TestWithParam<FiguresCase> {};

TEST_P(Figures, AreTheTruncatedShare) {
    const FiguresCase& c = GetParam();
    const ProgressFigures figures = ProgressFiguresFor(c.bytesSoFar, c.contentLength, 7);
    EXPECT_EQ(figures.percentage, c.percentage);
    EXPECT_EQ(figures.filledCells, c.filledCells);
    EXPECT_EQ(figures.secondsLeft, 7);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Figures,
    ::testing::Values(FiguresCase{1024, 3000, 34, 6}, FiguresCase{3072, 3090, 99, 19},
                      FiguresCase{3090, 3090, 100, 20}, FiguresCase{1024, 500, 204, 20},
                      FiguresCase{1, 1000000, 0, 0},
                      // One byte short of a length whose share a float cannot tell from 1.
                      FiguresCase{39999999999, 40000000000, 99, 19},
                      FiguresCase{20000000000, 40000000000, 50, 10},
                      FiguresCase{999999999999999, 1000000000000000, 99, 19},
                      FiguresCase{40000000000, 1, 4000000000000, 20}));

// 0.29 times 100 is 28.999... in double: a share that is a whole percentage must show it.
TEST(ProgressFigures, WholePercentagesAndCellsAreNotTruncatedOneShort) {
    for (std::int64_t b = 0; b <= 100; ++b) {
        EXPECT_EQ(ProgressFiguresFor(b, 100, 0).percentage, b);
        EXPECT_EQ(ProgressFiguresFor(b * 1024, 102400, 0).percentage, b);
        EXPECT_EQ(ProgressFiguresFor(b * 1024, 102400, 0).filledCells, b / 5);
    }
    for (std::int64_t b = 0; b <= 20; ++b) {
        EXPECT_EQ(ProgressFiguresFor(b, 20, 0).filledCells, b);
    }
}

TEST(ProgressEstimate, IsTheRemainingBytesAtTheRateSoFar) {
    EXPECT_EQ(EstimateSecondsLeft(10240, 100000, 2), 17);
    EXPECT_EQ(EstimateSecondsLeft(1024, 2000000000, 1), 1953124);
    EXPECT_EQ(EstimateSecondsLeft(3000, 3000, 5), 0);
    EXPECT_EQ(EstimateSecondsLeft(4000, 3000, 10), -2);
    // Beyond 32 bits: one byte in an hour of a length near the 64-bit end.
    EXPECT_EQ(EstimateSecondsLeft(1, 4000000000000, 3600), 14399999999996400);
    EXPECT_EQ(EstimateSecondsLeft(1, INT64_MAX, INT64_MAX), INT64_MAX);
}

TEST(ProgressLineText, FormatsPercentageBarAndTimeText) {
    EXPECT_EQ(ProgressLineText({5, 1, 0}), "\r  5% [>...................]");
    EXPECT_EQ(ProgressLineText({100, 20, 0}), "\r100% [>>>>>>>>>>>>>>>>>>>>]");
    EXPECT_EQ(ProgressLineText({1000, 20, -3}), "\r1000% [>>>>>>>>>>>>>>>>>>>>]");
    EXPECT_EQ(ProgressLineText({42, 8, 59}),
              "\r 42% [>>>>>>>>............]   Time remaining: 00:59");
    EXPECT_EQ(ProgressLineText({42, 8, 60}),
              "\r 42% [>>>>>>>>............]   Time remaining: 01:00");
    EXPECT_EQ(ProgressLineText({0, 0, 14399999999996400}),
              "\r  0% [....................]   Time remaining: 239999999999940:00");
}

// What a redraw leaves on the console: the new line, and blanks over whatever the widest earlier
// line (coverWidth wide) left to its right, up to the columns the console lets a line fill.
struct CoverCase {
    const char* name;
    ProgressFigures figures;
    std::size_t coverWidth;
    int columns;
    std::string line;
};

void PrintTo(const CoverCase& c, std::ostream* os) { *os << c.name; }

class Cover : public ::testing::TestWithParam<CoverCase> {};

TEST_P(Cover, BlanksCoverWhatAWiderEarlierLineLeft) {
    const CoverCase& c = GetParam();
    EXPECT_EQ(ProgressLineText(c.figures, c.coverWidth, c.columns), c.line);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Cover,
    ::testing::Values(
        CoverCase{"MinutesLoseADigit",
                  {42, 8, 5999},
                  52,
                  0,
                  "\r 42% [>>>>>>>>............]   Time remaining: 99:59 "},
        CoverCase{"NarrowerEarlierLine",
                  {42, 8, 5999},
                  10,
                  0,
                  "\r 42% [>>>>>>>>............]   Time remaining: 99:59"},
        CoverCase{"TimeTextGone",
                  {100, 20, 0},
                  52,
                  0,
                  "\r100% [>>>>>>>>>>>>>>>>>>>>]" + std::string(25, ' ')},
        // A line drawn before the console was made narrower: blanks up to its last column.
        CoverCase{"ConsoleMadeNarrower",
                  {50, 10, 8},
                  51,
                  40,
                  "\r 50% [>>>>>>>>>>..........]" + std::string(13, ' ')},
        CoverCase{"NarrowConsoleAfterANarrowerLine",
                  {50, 10, 8},
                  30,
                  40,
                  "\r 50% [>>>>>>>>>>..........]   "},
        // Made wider again after narrow lines: the widest line of all is covered, also the part
        // that the narrow console did not show.
        CoverCase{"ConsoleMadeWiderAgain",
                  {50, 10, 8},
                  67,
                  200,
                  "\r 50% [>>>>>>>>>>..........]   Time remaining: 00:08" + std::string(16, ' ')},
        CoverCase{"NarrowBarAfterAWideLine", {50, 5, 0, 10}, 51, 18, "\r 50% [>>>>>.....] "}),
    [](const ::testing::TestParamInfo<CoverCase>& info) { return std::string(info.param.name); });

struct NarrowCase {
    int columns;
    ProgressFigures figures;  // for ProgressBarCells(columns) cells
    std::size_t coverWidth;
    std::string line;
};

void PrintTo(const NarrowCase& c, std::ostream* os) { *os << c.columns << " columns"; }

class NarrowConsole : public ::testing::TestWithParam<NarrowCase> {};

// The time text goes first, then the bar narrows; no text reaches the console's last column.
TEST_P(NarrowConsole, LineEndsBeforeTheLastColumn) {
    const NarrowCase& c = GetParam();
    EXPECT_EQ(c.figures.barCells, ProgressBarCells(c.columns));
    const std::string line = ProgressLineText(c.figures, c.coverWidth, c.columns);
    EXPECT_EQ(line, c.line);
    if (c.columns > 0 && c.columns < closingLineWidth) {
        const std::size_t text = line.find_last_not_of(' ');
        EXPECT_LT(text, static_cast<std::size_t>(c.columns)) << "text in the last column";
        EXPECT_LE(line.size() - 1, static_cast<std::size_t>(c.columns));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, NarrowConsole,
    ::testing::Values(
        // Not a terminal, or at least as wide as the closing line: the line as it is.
        NarrowCase{0, {42, 8, 120}, 0, "\r 42% [>>>>>>>>............]   Time remaining: 02:00"},
        NarrowCase{61,
                   {0, 0, 14399999999996400},
                   0,
                   "\r  0% [....................]   Time remaining: 239999999999940:00"},
        // 52 columns hold a two-digit minute count in the 51 before the last.
        NarrowCase{52, {42, 8, 120}, 0, "\r 42% [>>>>>>>>............]   Time remaining: 02:00"},
        NarrowCase{52, {42, 8, 6828}, 0, "\r 42% [>>>>>>>>............]"},
        NarrowCase{51, {42, 8, 120}, 0, "\r 42% [>>>>>>>>............]"},
        // Blanks that cover a line drawn on a wider console reach the last column.
        NarrowCase{60,
                   {42, 8, 5999},
                   70,
                   "\r 42% [>>>>>>>>............]   Time remaining: 99:59" + std::string(9, ' ')},
        NarrowCase{40, {42, 8, 120}, 0, "\r 42% [>>>>>>>>............]"},
        NarrowCase{28, {42, 8, 0}, 0, "\r 42% [>>>>>>>>............]"},
        NarrowCase{27, {42, 7, 0, 19}, 0, "\r 42% [>>>>>>>............]"},
        NarrowCase{10, {50, 1, 9, 2}, 0, "\r 50% [>.]"},
        // Too narrow for a bar, or a percentage too wide: cut before the last column.
        NarrowCase{5, {42, 0, 0, 0}, 0, "\r 42%"},
        NarrowCase{20, {1000, 12, 0, 12}, 0, "\r1000% [>>>>>>>>>>>>"}));

TEST(ProgressLineText, ClosingLineOnANarrowConsole) {
    EXPECT_EQ(ClosingLineText(80), closingLine);
    EXPECT_EQ(ClosingLineText(61), closingLine);
    EXPECT_EQ(ClosingLineText(60), "\r100% [>>>>>>>>>>>>>>>>>>>>]" + std::string(32, ' ') + "\n");
    EXPECT_EQ(ClosingLineText(27), "\r100% [>>>>>>>>>>>>>>>>>>>]\n");
    EXPECT_EQ(ClosingLineText(3), "\r10\n");
}

TEST(ProgressLineText, ClosingLineIsSixtyOneCharactersAndALineFeed) {
    EXPECT_EQ(ClosingLineText(), closingLine);
    EXPECT_EQ(ClosingLineText().size(), 1 + 61 + 1);
    // Its form stays after the usual lines; blanks are added only behind a wider one.
    EXPECT_EQ(ClosingLineText(0, 51), closingLine);
    EXPECT_EQ(ClosingLineText(0, 61), closingLine);
    EXPECT_EQ(ClosingLineText(0, 70),
              "\r100% [>>>>>>>>>>>>>>>>>>>>]" + std::string(43, ' ') + "\n");
    EXPECT_EQ(ClosingLineText(40, 70),
              "\r100% [>>>>>>>>>>>>>>>>>>>>]" + std::string(13, ' ') + "\n");
    EXPECT_EQ(ClosingLineText(40, 30),
              "\r100% [>>>>>>>>>>>>>>>>>>>>]" + std::string(12, ' ') + "\n");
}

}  // namespace
}  // namespace korrin
