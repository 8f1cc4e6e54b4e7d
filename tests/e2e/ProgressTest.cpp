#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "support/ConsoleTexts.h"
#include "support/Process.h"
#include "support/ScriptedServer.h"
#include "support/TerminalRun.h"

namespace korrin::test {
namespace {

const std::string banner = "korrin 1.4\n\n";
const std::string downloading = "Downloading...\n";

// A body whose bytes differ from place to place, so that a misplaced chunk shows in the file.
std::string PatternBody(std::size_t length) {
    std::string body(length, '\0');
    for (std::size_t i = 0; i < length; ++i)
        body[i] = static_cast<char>('a' + (i * 7 + i / 26) % 26);
    return body;
}

// The body reaches the meter in 1024-byte reads of whatever deliveries libcurl makes, and the
// clock is the wall clock, so the lines drawn before the last depend on the split and on whether
// a second boundary passed. Every one of them must still be a well-formed line short of the end:
// a percentage below 100, the cells that go with it, and a time text only as the meter writes
// one; the percentages never fall, and no line repeats the one before it. A read holds at most
// 1024 bytes, so at least one line falls short of the end.
void ExpectWellFormedLinesBeforeTheEnd(const std::string& lines) {
    static const std::regex lineForm(
        "\r( {0,2}[0-9]+)% \\[(>*)(\\.*)\\](   Time remaining: [0-9]{2,}:[0-5][0-9] *)?");
    std::vector<std::string> drawn;
    for (std::size_t at = 0; at < lines.size();) {
        const std::size_t next = lines.find('\r', at + 1);
        drawn.push_back(
            lines.substr(at, next == std::string::npos ? std::string::npos : next - at));
        at = next == std::string::npos ? lines.size() : next;
    }
    EXPECT_FALSE(drawn.empty()) << "no line was drawn before the last chunk";
    std::int64_t lastPercentage = -1;
    for (std::size_t i = 0; i < drawn.size(); ++i) {
        std::smatch parts;
        ASSERT_TRUE(std::regex_match(drawn[i], parts, lineForm))
            << "line " << i << ": " << drawn[i];
        const std::int64_t percentage = std::stoll(parts[1].str());
        EXPECT_LT(percentage, 100) << drawn[i];
        EXPECT_GE(percentage, lastPercentage) << drawn[i];
        EXPECT_EQ(parts[2].length() + parts[3].length(), 20) << drawn[i];
        EXPECT_EQ(parts[2].length(), percentage / 5) << drawn[i];
        if (i > 0) {
            EXPECT_NE(drawn[i], drawn[i - 1]) << "a repeated line was written";
        }
        lastPercentage = percentage;
    }
}

TEST(Progress, DownloadToAFileDrawsTheBarAndTheClosingLine) {
    const std::string body = PatternBody(5000);
    ScriptedServer server(ScriptedServer::Reply(HttpReply(200, body)));
    TempDir folder;
    const ProcessResult run =
        RunKorrinBinary({server.Url("/data.bin"), "-o", folder.File("data.bin")});
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(ReadFile(folder.File("data.bin")), body);
    EXPECT_EQ(run.standardError, "");

    // Banner, then the lines while the body arrives, the full bar drawn at the last byte (the
    // estimate is 0 there, so it has no time text), the closing line and the verdict.
    const std::string& out = run.standardOutput;
    const std::string head = banner + downloading;
    const std::string tail = fullBar + closingLine + retrievedOk;
    ASSERT_GE(out.size(), head.size() + tail.size()) << out;
    EXPECT_EQ(out.substr(0, head.size()), head);
    EXPECT_EQ(out.substr(out.size() - tail.size()), tail);
    ExpectWellFormedLinesBeforeTheEnd(
        out.substr(head.size(), out.size() - head.size() - tail.size()));
}

// Without an announced length, or with an empty body, no line is drawn while the body arrives and
// the closing line comes all the same: these outputs are exact whatever the timing.
TEST(Progress, WithoutALengthOnlyTheClosingLineIsWritten) {
    struct Case {
        const char* name;
        std::string reply;
        std::string body;
    };
    const std::string body = PatternBody(3000);
    const std::vector<Case> cases = {
        {"no Content-Length", "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + body, body},
        {"empty body", HttpReply(200, ""), ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer server(ScriptedServer::Reply(c.reply));
        TempDir folder;
        const ProcessResult run = RunKorrinBinary({server.Url("/"), "-o", folder.File("out")});
        EXPECT_EQ(run.exitStatus, 0);
        EXPECT_EQ(ReadFile(folder.File("out")), c.body);
        EXPECT_EQ(run.standardOutput, banner + downloading + closingLine + retrievedOk);
    }
}

// How text written to a terminal of columns columns with automatic wrap is laid out: the rows it
// moves down by, and the widest run of characters it writes on one row.
struct Layout {
    int rowsDown = 0;
    int widest = 0;
};

Layout LayOut(const std::string& text, int columns) {
    Layout layout;
    int column = 0;
    for (const char c : text) {
        if (c == '\r') {
            column = 0;
        } else if (c == '\n') {
            ++layout.rowsDown;
        } else {
            if (column == columns) {  // a character beyond the last column goes on the next row
                ++layout.rowsDown;
                column = 0;
            }
            layout.widest = std::max(layout.widest, ++column);
        }
    }
    return layout;
}

// On a terminal narrower than the closing line, the whole progress display stays on one row:
// every line, the closing one too, ends before the last column. On a wide terminal the bytes are
// those of any console.
TEST(Progress, OnANarrowTerminalTheDisplayKeepsToOneRow) {
    const std::string body = PatternBody(300 * 1024);
    ScriptedServer server(ScriptedServer::Reply(HttpReply(200, body)));
    for (const int columns : {40, 80}) {
        SCOPED_TRACE(std::to_string(columns) + " columns");
        TempDir folder;
        PseudoTerminal terminal;
        ASSERT_TRUE(terminal.SetColumns(columns));
        TerminalRun run(terminal, {server.Url("/big"), "-o", folder.File("big")});
        ASSERT_TRUE(run.Started());
        ASSERT_TRUE(run.WaitForExit());
        ASSERT_TRUE(WIFEXITED(run.Status()));
        EXPECT_EQ(WEXITSTATUS(run.Status()), 0);
        EXPECT_EQ(ReadFile(folder.File("big")), body);

        // The display: from the line after "Downloading..." to the closing line's line feed.
        const std::string& out = run.Output();
        const std::string start = "Downloading...\r\n";
        const std::string end = "\r\nFile retrieved ok.\r\n";
        const std::size_t from = out.find(start);
        const std::size_t to = out.find(end);
        ASSERT_NE(from, std::string::npos) << out;
        ASSERT_NE(to, std::string::npos) << out;
        const std::string display = out.substr(from + start.size(), to + 2 - from - start.size());
        const Layout layout = LayOut(display, columns);
        EXPECT_EQ(layout.rowsDown, 1) << "the closing line's line feed, and no wrap";
        if (columns < 61) {
            EXPECT_LT(layout.widest, columns) << "no line reaches the last column";
            EXPECT_EQ(display.substr(display.rfind('\r', display.size() - 3)),
                      fullBar + std::string(12, ' ') + "\r\n");
        } else {
            EXPECT_EQ(display.substr(display.rfind('\r', display.size() - 3)),
                      fullBar + std::string(34, ' ') + "\r\n");
        }
    }
}

// One row of a terminal whose width changes: what each column holds, also beyond the width, which
// a terminal made narrower keeps and shows again when it is made wider. A carriage return goes
// back to the first column; a character at the last column's right would wrap.
class TerminalRow {
  public:
    explicit TerminalRow(int theColumns) : columns(theColumns) {}
    void Resize(int theColumns) { columns = theColumns; }
    // Writes text; false when it wraps or moves to another row.
    bool Write(const std::string& text) {
        for (const char c : text) {
            if (c == '\r') {
                column = 0;
            } else if (c == '\n' || column >= columns) {
                return false;
            } else {
                if (cells.size() <= static_cast<std::size_t>(column)) cells.resize(column + 1, ' ');
                cells[column++] = c;
            }
        }
        return true;
    }
    // What the row shows now, without the blanks at its end.
    std::string Visible() const {
        std::string shown = cells.substr(0, static_cast<std::size_t>(columns));
        shown.erase(shown.find_last_not_of(' ') + 1);
        return shown;
    }

  private:
    int columns;
    int column = 0;
    std::string cells;
};

// Lets a server's script go on one step at a time: the test releases a step, the script waits for
// it, within a bound far above any test's need.
class Steps {
  public:
    Steps() { EXPECT_EQ(pipe(fds), 0); }
    ~Steps() {
        close(fds[0]);
        close(fds[1]);
    }
    Steps(const Steps&) = delete;
    Steps& operator=(const Steps&) = delete;
    void Release() { EXPECT_EQ(write(fds[1], "s", 1), 1); }
    bool Await() {
        pollfd ready{fds[0], POLLIN, 0};
        char step = 0;
        return poll(&ready, 1, 120000) == 1 && read(fds[0], &step, 1) == 1;
    }

  private:
    int fds[2] = {-1, -1};
};

// A terminal resized from 80 to 40 to 200 columns in the middle of a download: after each redraw
// the row shows exactly the line just drawn, with nothing of an earlier, wider line behind it,
// and the closing line shows nothing else either.
TEST(Progress, EachRedrawCoversWhatEarlierLinesLeftWhenTheTerminalIsResized) {
    constexpr std::size_t step = 1024;
    const std::string body = PatternBody(100 * step);
    Steps steps;
    ScriptedServer server([&](const std::string&, ScriptedConnection& connection) {
        const std::string head =
            "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
            "\r\nConnection: close\r\n\r\n";
        // One percent at each step; the rest at once after the last.
        if (!connection.Send(head + body.substr(0, step))) return;
        for (std::size_t sent = step; sent < body.size(); sent += step) {
            if (!steps.Await()) return;
            const bool last = sent >= 4 * step;
            if (!connection.Send(body.substr(sent, last ? std::string::npos : step))) return;
            if (last) return;
        }
    });
    TempDir folder;
    PseudoTerminal terminal;
    ASSERT_TRUE(terminal.SetColumns(80));
    TerminalRun run(terminal, {server.Url("/file"), "-o", folder.File("out")});
    ASSERT_TRUE(run.Started());
    // Where in the output each width begins.
    std::vector<std::pair<std::size_t, int>> widths{{0, 80}};
    ASSERT_TRUE(run.WaitForOutput("\r  1% [")) << run.Output();
    // The next line has a time text once a whole second has passed since the body began.
    const auto now = std::chrono::system_clock::now();
    std::this_thread::sleep_until(std::chrono::ceil<std::chrono::seconds>(now) +
                                  std::chrono::milliseconds(50));
    steps.Release();
    ASSERT_TRUE(run.WaitForOutput("\r  2% [")) << run.Output();
    ASSERT_NE(run.Output().find("Time remaining: "), std::string::npos) << run.Output();
    for (const int columns : {40, 200}) {
        ASSERT_TRUE(terminal.SetColumns(columns));
        kill(run.Pid(), SIGWINCH);
        widths.emplace_back(run.Output().size(), columns);
        steps.Release();
        ASSERT_TRUE(run.WaitForOutput(columns == 40 ? "\r  3% [" : "\r  4% [")) << run.Output();
    }
    steps.Release();
    ASSERT_TRUE(run.WaitForExit());
    ASSERT_TRUE(WIFEXITED(run.Status()));
    EXPECT_EQ(WEXITSTATUS(run.Status()), 0);
    EXPECT_EQ(ReadFile(folder.File("out")), body);

    // The display, from the row after "Downloading..." to the closing line's end, written line by
    // line onto the row at the width the terminal had then.
    const std::string& out = run.Output();
    const std::string start = "Downloading...\r\n";
    const std::size_t from = out.find(start) + start.size();
    const std::size_t to = out.find("\r\nFile retrieved ok.");
    ASSERT_NE(from, std::string::npos + start.size()) << out;
    ASSERT_NE(to, std::string::npos) << out;
    TerminalRow row(80);
    std::size_t nextWidth = 1;
    for (std::size_t at = from; at < to;) {
        std::size_t next = out.find('\r', at + 1);
        if (next == std::string::npos || next > to) next = to;
        while (nextWidth < widths.size() && widths[nextWidth].first <= at) {
            row.Resize(widths[nextWidth++].second);
        }
        std::string line = out.substr(at, next - at);
        ASSERT_TRUE(row.Write(line)) << "a line wraps: " << line;
        line.erase(line.find_last_not_of(' ') + 1);
        EXPECT_EQ("\r" + row.Visible(), line) << "what the row shows after a redraw";
        at = next;
    }
    EXPECT_EQ("\r" + row.Visible(), fullBar);
}

}  // namespace
}  // namespace korrin::test
