#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdint>
#include <regex>
#include <string>
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

}  // namespace
}  // namespace korrin::test
