// The key wait of the usage screen and of a failed download, run under a real pseudo-terminal
// that is the program's controlling terminal.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "support/Process.h"
#include "support/Sanitizer.h"
#include "support/ScriptedServer.h"
#include "support/TerminalRun.h"

namespace korrin::test {
namespace {

const std::string prompt = "Press any key to continue...";
const std::string notFoundVerdict =
    "Error 404 retrieving file: File not found, please check the URL.\n";

// text as the terminal shows it: each line feed goes out as CR LF.
std::string OnScreen(const std::string& text) {
    std::string screen;
    for (const char c : text) screen += c == '\n' ? std::string("\r\n") : std::string(1, c);
    return screen;
}

// The terminal's settings, and that its input queue is empty: switched to non-canonical mode
// with no minimum, a read returns at once with whatever is left.
std::string LeftoverInput(int slave) {
    termios drain{};
    tcgetattr(slave, &drain);
    drain.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    drain.c_cc[VMIN] = 0;
    drain.c_cc[VTIME] = 0;
    tcsetattr(slave, TCSANOW, &drain);
    char buffer[256];
    const ssize_t n = read(slave, buffer, sizeof buffer);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

void ExpectSameSettings(const termios& before, const termios& after) {
    EXPECT_TRUE(after.c_lflag & ECHO) << "echo is back on";
    EXPECT_TRUE(after.c_lflag & ICANON) << "canonical mode is back on";
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_oflag, before.c_oflag);
    EXPECT_EQ(std::memcmp(after.c_cc, before.c_cc, sizeof before.c_cc), 0);
}

// Where the program pauses: the usage screen, or the verdict of a download to a file.
enum class Pause { usageScreen, notFoundVerdict };

struct KeyCase {
    const char* name;
    // The bytes the terminal sends for the key; more than one piece when they arrive apart, as
    // over a slow link.
    std::vector<std::string> pieces;
    Pause pause;
};

void PrintTo(const KeyCase& c, std::ostream* out) { *out << c.name; }

// The time between two pieces of one key: tens of milliseconds, well inside the time that the
// wait gives the rest of a key's sequence.
constexpr auto pieceGap = std::chrono::milliseconds(20);

class KeyWaitKeys : public ::testing::TestWithParam<KeyCase> {};

// Standard input and standard output on the terminal: a person is there, and the wait waits.
TEST_P(KeyWaitKeys, OneKeyPressEndsTheWaitUnechoedAndLeavesNothingForTheShell) {
    const KeyCase& c = GetParam();
    ScriptedServer server(ScriptedServer::Reply(HttpReply(404, "gone")));
    TempDir folder;
    std::vector<std::string> arguments;
    if (c.pause == Pause::notFoundVerdict) arguments = {server.Url("/x"), "-o", folder.File("out")};

    PseudoTerminal terminal;
    termios before{};
    ASSERT_EQ(tcgetattr(terminal.slave, &before), 0);
    TerminalRun run(terminal, arguments);
    ASSERT_TRUE(run.Started());
    ASSERT_TRUE(run.WaitForOutput(prompt));
    for (std::size_t i = 0; i < c.pieces.size(); ++i) {
        // Spacing the pieces out is what this case is about; nothing is waited for here.
        if (i > 0) std::this_thread::sleep_for(pieceGap);
        run.Send(c.pieces[i]);
    }
    ASSERT_TRUE(run.WaitForExit()) << "the key press ended the wait";

    ASSERT_TRUE(WIFEXITED(run.Status()));
    EXPECT_EQ(WEXITSTATUS(run.Status()), 1);
    EXPECT_EQ(run.OutputAfter(prompt), "") << "nothing is echoed";
    termios after{};
    ASSERT_EQ(tcgetattr(terminal.slave, &after), 0);
    ExpectSameSettings(before, after);
    EXPECT_EQ(LeftoverInput(terminal.slave), "") << "every byte of the key was consumed";
}

INSTANTIATE_TEST_SUITE_P(
    Keys, KeyWaitKeys,
    ::testing::Values(KeyCase{"Letter", {"x"}, Pause::usageScreen},
                      KeyCase{"Enter", {"\r"}, Pause::notFoundVerdict},
                      KeyCase{"ArrowUp", {"\x1b[A"}, Pause::notFoundVerdict},
                      KeyCase{"ArrowUpInPieces", {"\x1b", "[", "A"}, Pause::usageScreen},
                      KeyCase{"ArrowUpApplicationMode", {"\x1bOA"}, Pause::usageScreen},
                      KeyCase{"F5", {"\x1b[15~"}, Pause::usageScreen},
                      KeyCase{"ShiftF5", {"\x1b[15;2~"}, Pause::notFoundVerdict},
                      KeyCase{"Escape", {"\x1b"}, Pause::usageScreen},
                      KeyCase{"Utf8Letter", {"\xc3\xa9"}, Pause::notFoundVerdict},
                      KeyCase{"CtrlS", {"\x13"}, Pause::notFoundVerdict},
                      KeyCase{"CtrlQ", {"\x11"}, Pause::usageScreen}),
    [](const auto& info) { return std::string(info.param.name); });

struct SignalCase {
    const char* name;
    int signal;
    std::string key;  // sent to the terminal to raise the signal; empty: sent with kill()
};

void PrintTo(const SignalCase& c, std::ostream* out) { *out << c.name; }

class KeyWaitSignals : public ::testing::TestWithParam<SignalCase> {};

TEST_P(KeyWaitSignals, SignalDuringTheWaitEndsTheProgramWithTheTerminalRestored) {
    const SignalCase& c = GetParam();
    PseudoTerminal terminal;
    termios before{};
    ASSERT_EQ(tcgetattr(terminal.slave, &before), 0);
    TerminalRun run(terminal, {});
    ASSERT_TRUE(run.Started());
    ASSERT_TRUE(run.WaitForOutput(prompt));
    if (c.key.empty()) {
        ASSERT_EQ(kill(run.Pid(), c.signal), 0);
    } else {
        run.Send(c.key);
    }
    ASSERT_TRUE(run.WaitForExit());

    ASSERT_TRUE(WIFSIGNALED(run.Status())) << "ended by the signal, as without a handler";
    EXPECT_EQ(WTERMSIG(run.Status()), c.signal);
    termios after{};
    ASSERT_EQ(tcgetattr(terminal.slave, &after), 0);
    ExpectSameSettings(before, after);
}

INSTANTIATE_TEST_SUITE_P(
    Signals, KeyWaitSignals,
    ::testing::Values(SignalCase{"CtrlC", SIGINT, "\x03"}, SignalCase{"Interrupt", SIGINT, ""},
                      SignalCase{"Terminate", SIGTERM, ""}, SignalCase{"HangUp", SIGHUP, ""},
                      SignalCase{"UserSignal1", SIGUSR1, ""}, SignalCase{"Alarm", SIGALRM, ""},
                      SignalCase{"RealTime", SIGRTMIN + 2, ""}),
    [](const auto& info) { return std::string(info.param.name); });

// A job started in the background of its terminal has no console input: the wait returns at
// once, unstopped, and touches neither the terminal's settings nor what is typed at it.
TEST(KeyWaitJobControl, BackgroundJobDoesNotWaitAndIsNotStopped) {
    ScriptedServer server(ScriptedServer::Reply(HttpReply(404, "gone")));
    TempDir folder;
    PseudoTerminal terminal;
    termios before{};
    ASSERT_EQ(tcgetattr(terminal.slave, &before), 0);
    const std::string typedForTheShell = "ls";
    ASSERT_EQ(write(terminal.master, typedForTheShell.data(), typedForTheShell.size()),
              static_cast<ssize_t>(typedForTheShell.size()));
    TerminalRunOptions options;
    options.background = true;
    TerminalRun run(terminal, {server.Url("/x"), "-o", folder.File("out")}, options);
    ASSERT_TRUE(run.Started());
    ASSERT_TRUE(run.WaitForExit()) << "the background job ended by itself";

    ASSERT_TRUE(WIFEXITED(run.Status()));
    EXPECT_EQ(WEXITSTATUS(run.Status()), 1);
    EXPECT_NE(run.Output().find(OnScreen(notFoundVerdict + "\n" + prompt)), std::string::npos)
        << "standard output keeps its bytes: " << run.Output();
    termios after{};
    ASSERT_EQ(tcgetattr(terminal.slave, &after), 0);
    ExpectSameSettings(before, after);
    EXPECT_EQ(LeftoverInput(terminal.slave), typedForTheShell) << "the typed keys are the shell's";
}

// Where standard input or standard output is not the terminal (a script, a log), nobody is there
// to answer: the pause returns at once, reading nothing, and standard output gets exactly the
// bytes it gets when the pause waits (for the usage screen, the screen that ends with the prompt).
struct UnattendedCase {
    const char* name;
    Pause pause;
    bool inputFromNull;  // standard input from /dev/null, else the terminal
    bool outputToFile;   // standard output to a file, else the terminal
};

void PrintTo(const UnattendedCase& c, std::ostream* out) { *out << c.name; }

class KeyWaitUnattended : public ::testing::TestWithParam<UnattendedCase> {};

TEST_P(KeyWaitUnattended, PauseReturnsAtOnceAndStandardOutputKeepsItsBytes) {
    const UnattendedCase& c = GetParam();
    ScriptedServer server(ScriptedServer::Reply(HttpReply(404, "gone")));
    TempDir folder;
    std::vector<std::string> arguments;
    std::string expected;
    if (c.pause == Pause::usageScreen) {
        expected =
            "korrin 1.4\n\nUsage: korrin <url> [options]\n     Options:\n"
            "     -u <username>  (username)\n     -p <password>  (password)\n"
            "     -o <file>      (send output to file)\n     -h             (show http headers)\n"
            "\n" +
            prompt;
    } else {
        arguments = {server.Url("/x"), "-o", folder.File("out")};
        expected = "korrin 1.4\n\nDownloading...\n" + notFoundVerdict + "\n" + prompt;
    }

    PseudoTerminal terminal;
    termios before{};
    ASSERT_EQ(tcgetattr(terminal.slave, &before), 0);
    // Typed before the program starts: still there for the shell when it has gone.
    const std::string typedAhead = "ls";
    ASSERT_EQ(write(terminal.master, typedAhead.data(), typedAhead.size()),
              static_cast<ssize_t>(typedAhead.size()));
    TerminalRunOptions options;
    if (c.inputFromNull) options.standardInputPath = "/dev/null";
    if (c.outputToFile) options.standardOutputPath = folder.File("log");
    TerminalRun run(terminal, arguments, options);
    ASSERT_TRUE(run.Started());
    ASSERT_TRUE(run.WaitForExit()) << "the pause ended without a key: " << run.Output();

    ASSERT_TRUE(WIFEXITED(run.Status()));
    EXPECT_EQ(WEXITSTATUS(run.Status()), 1);
    if (c.outputToFile) {
        EXPECT_EQ(ReadFile(folder.File("log")), expected);
        EXPECT_EQ(run.OutputAfter(typedAhead), "") << "nothing on the terminal";
    } else {
        EXPECT_EQ(run.OutputAfter(typedAhead), OnScreen(expected));
    }
    termios after{};
    ASSERT_EQ(tcgetattr(terminal.slave, &after), 0);
    ExpectSameSettings(before, after);
    EXPECT_EQ(LeftoverInput(terminal.slave), typedAhead) << "nothing was read from the terminal";
}

INSTANTIATE_TEST_SUITE_P(
    Redirected, KeyWaitUnattended,
    ::testing::Values(UnattendedCase{"VerdictInputFromNull", Pause::notFoundVerdict, true, false},
                      UnattendedCase{"VerdictOutputToFile", Pause::notFoundVerdict, false, true},
                      UnattendedCase{"UsageScreenInputFromNull", Pause::usageScreen, true, false},
                      UnattendedCase{"UsageScreenOutputToFile", Pause::usageScreen, false, true}),
    [](const auto& info) { return std::string(info.param.name); });

// Started with SIGHUP and SIGINT ignored (nohup, a background job of a script): both, sent during
// the wait, leave it waiting, and the key ends it with the terminal restored.
TEST(KeyWaitSignals, SignalsIgnoredAtTheStartStayIgnored) {
    PseudoTerminal terminal;
    termios before{};
    ASSERT_EQ(tcgetattr(terminal.slave, &before), 0);
    TerminalRunOptions options;
    options.ignoredSignals = {SIGHUP, SIGINT};
    TerminalRun run(terminal, {}, options);
    ASSERT_TRUE(run.Started());
    ASSERT_TRUE(run.WaitForOutput(prompt));
    ASSERT_EQ(kill(run.Pid(), SIGHUP), 0);
    ASSERT_EQ(kill(run.Pid(), SIGINT), 0);
    // SIGCONT, taken after the two (pending signals are taken lowest number first), makes a
    // waiting program show its prompt again: proof that it is still there and still waiting.
    ASSERT_EQ(kill(run.Pid(), SIGCONT), 0);
    ASSERT_TRUE(run.WaitForOutput(prompt + prompt)) << "still waiting: " << run.Output();
    run.Send("x");
    ASSERT_TRUE(run.WaitForExit());

    ASSERT_TRUE(WIFEXITED(run.Status())) << "the signals did not end the wait";
    EXPECT_EQ(WEXITSTATUS(run.Status()), 1);
    const std::string shown = run.OutputAfter(prompt + prompt);
    EXPECT_EQ(shown, "") << "nothing is echoed";
    termios after{};
    ASSERT_EQ(tcgetattr(terminal.slave, &after), 0);
    ExpectSameSettings(before, after);
    EXPECT_EQ(LeftoverInput(terminal.slave), "") << "the key ended the wait";
}

// Started with SIGTERM, SIGTSTP and SIGCONT blocked (a parent's mask): the wait lets them through
// all the same. Ctrl-Z stops it with the terminal restored, fg brings the wait back, and SIGTERM
// ends the program by that signal.
TEST(KeyWaitSignals, SignalsBlockedAtTheStartStillAct) {
    PseudoTerminal terminal;
    termios before{};
    ASSERT_EQ(tcgetattr(terminal.slave, &before), 0);
    TerminalRunOptions options;
    options.blockedSignals = {SIGTERM, SIGTSTP, SIGCONT};
    TerminalRun run(terminal, {}, options);
    ASSERT_TRUE(run.Started());
    ASSERT_TRUE(run.WaitForOutput(prompt));
    run.Send("\x1a");
    ASSERT_TRUE(run.WaitForStops(1)) << "Ctrl-Z stops the job";
    termios now{};
    ASSERT_EQ(tcgetattr(terminal.slave, &now), 0);
    ExpectSameSettings(before, now);
    ASSERT_TRUE(run.GiveTerminalToProgram(false));
    ASSERT_TRUE(run.GiveTerminalToProgram(true));
    ASSERT_EQ(kill(run.Pid(), SIGCONT), 0);
    ASSERT_TRUE(run.WaitForOutput(prompt + prompt)) << "waiting again after fg";
    ASSERT_EQ(kill(run.Pid(), SIGTERM), 0);
    ASSERT_TRUE(run.WaitForExit());

    ASSERT_TRUE(WIFSIGNALED(run.Status())) << "ended by the signal";
    EXPECT_EQ(WTERMSIG(run.Status()), SIGTERM);
    termios after{};
    ASSERT_EQ(tcgetattr(terminal.slave, &after), 0);
    ExpectSameSettings(before, after);
}

// What the shell does to a job that waits in the foreground, and how the job must end.
enum class JobEnd { keyAfterFg, endsAfterBg, killed };

struct JobCase {
    const char* name;
    bool ctrlZ;  // stopped with Ctrl-Z first; else moved out of the foreground while it waits
    JobEnd end;
};

void PrintTo(const JobCase& c, std::ostream* out) { *out << c.name; }

class KeyWaitJobs : public ::testing::TestWithParam<JobCase> {};

TEST_P(KeyWaitJobs, TheJobIsNeverStoppedInKeyModeAndEndsWithTheTerminalRestored) {
    const JobCase& c = GetParam();
    PseudoTerminal terminal;
    termios before{};
    ASSERT_EQ(tcgetattr(terminal.slave, &before), 0);
    TerminalRun run(terminal, {});
    ASSERT_TRUE(run.Started());
    ASSERT_TRUE(run.WaitForOutput(prompt));
    termios now{};
    if (c.ctrlZ) {
        run.Send("\x1a");
        ASSERT_TRUE(run.WaitForStop()) << "Ctrl-Z stops the job";
        ASSERT_EQ(tcgetattr(terminal.slave, &now), 0);
        ExpectSameSettings(before, now);
    }
    // The shell takes the terminal.
    ASSERT_TRUE(run.GiveTerminalToProgram(false));
    switch (c.end) {
        case JobEnd::keyAfterFg: {
            ASSERT_TRUE(run.GiveTerminalToProgram(true));
            ASSERT_EQ(kill(run.Pid(), SIGCONT), 0);
            // The prompt is shown again once key mode is back (here right behind the first one:
            // this stand-in shell reports nothing).
            ASSERT_TRUE(run.WaitForOutput(prompt + prompt));
            run.Send("x");
            break;
        }
        case JobEnd::endsAfterBg:
            ASSERT_EQ(kill(run.Pid(), SIGCONT), 0);
            break;
        case JobEnd::killed:
            // kill %1: SIGTERM, and SIGCONT for a stopped job. A job that was not stopped may
            // have ended of the SIGTERM before the SIGCONT reaches it.
            ASSERT_EQ(kill(run.Pid(), SIGTERM), 0);
            if (kill(run.Pid(), SIGCONT) != 0) {
                ASSERT_EQ(errno, ESRCH);
            }
            break;
    }
    ASSERT_TRUE(run.WaitForExit());

    if (c.end == JobEnd::killed) {
        ASSERT_TRUE(WIFSIGNALED(run.Status()));
        EXPECT_EQ(WTERMSIG(run.Status()), SIGTERM);
    } else {
        ASSERT_TRUE(WIFEXITED(run.Status()));
        EXPECT_EQ(WEXITSTATUS(run.Status()), 1);
    }
    if (c.end == JobEnd::keyAfterFg) {
        const std::string after = run.OutputAfter(prompt);
        EXPECT_EQ(after.substr(after.find(prompt) + prompt.size()), "") << "nothing is echoed";
    }
    termios after{};
    ASSERT_EQ(tcgetattr(terminal.slave, &after), 0);
    ExpectSameSettings(before, after);
    EXPECT_EQ(LeftoverInput(terminal.slave), "");
}

INSTANTIATE_TEST_SUITE_P(JobControl, KeyWaitJobs,
                         ::testing::Values(JobCase{"CtrlZThenFg", true, JobEnd::keyAfterFg},
                                           JobCase{"CtrlZThenBg", true, JobEnd::endsAfterBg},
                                           JobCase{"CtrlZThenKill", true, JobEnd::killed},
                                           JobCase{"MovedToTheBackgroundThenKilled", false,
                                                   JobEnd::killed}),
                         [](const auto& info) { return std::string(info.param.name); });

// Ctrl-Z at the pause, fg, and Ctrl-Z again: each stop finds the terminal's settings restored,
// and after each fg the wait is in key mode again, until a key ends it.
TEST(KeyWaitJobControl, EveryCtrlZStopsWithTheTerminalRestored) {
    PseudoTerminal terminal;
    termios before{};
    ASSERT_EQ(tcgetattr(terminal.slave, &before), 0);
    TerminalRun run(terminal, {});
    ASSERT_TRUE(run.Started());
    ASSERT_TRUE(run.WaitForOutput(prompt));
    std::string shown = prompt;
    for (int stop = 1; stop <= 3; ++stop) {
        run.Send("\x1a");
        ASSERT_TRUE(run.WaitForStops(stop)) << "Ctrl-Z number " << stop << " stops the job";
        termios now{};
        ASSERT_EQ(tcgetattr(terminal.slave, &now), 0);
        ExpectSameSettings(before, now);
        ASSERT_TRUE(run.GiveTerminalToProgram(false));
        ASSERT_TRUE(run.GiveTerminalToProgram(true));
        ASSERT_EQ(kill(run.Pid(), SIGCONT), 0);
        shown += prompt;
        ASSERT_TRUE(run.WaitForOutput(shown)) << "waiting again after fg number " << stop;
    }
    run.Send("x");
    ASSERT_TRUE(run.WaitForExit());

    ASSERT_TRUE(WIFEXITED(run.Status()));
    EXPECT_EQ(WEXITSTATUS(run.Status()), 1);
    termios after{};
    ASSERT_EQ(tcgetattr(terminal.slave, &after), 0);
    ExpectSameSettings(before, after);
    EXPECT_EQ(LeftoverInput(terminal.slave), "");
}

// Every signal whose default action ends the process, sent during the wait, ends it by that
// signal with the terminal's settings restored. The list is this test's own, not the program's
// table, so that a signal missing from the table shows. SIGPIPE is not among them: the program
// ignores it from the start, so that a closed pipe is a failed write.
std::vector<int> SignalsThatEndAProcess() {
    std::vector<int> all = {SIGHUP,  SIGINT,  SIGQUIT,   SIGILL,  SIGTRAP, SIGABRT, SIGBUS,
                            SIGFPE,  SIGUSR1, SIGSEGV,   SIGUSR2, SIGALRM, SIGTERM, SIGSTKFLT,
                            SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGIO,   SIGPWR,  SIGSYS};
    for (int s = SIGRTMIN; s <= SIGRTMAX; ++s) all.push_back(s);
    return all;
}

class KeyWaitEverySignal : public ::testing::TestWithParam<int> {
  protected:
    // The signals that dump core would leave a file behind.
    void SetUp() override {
        getrlimit(RLIMIT_CORE, &coreBefore);
        rlimit none = coreBefore;
        none.rlim_cur = 0;
        setrlimit(RLIMIT_CORE, &none);
#ifdef KORRIN_SANITIZED
        // AddressSanitizer takes SIGSEGV, SIGBUS and SIGFPE for itself and aborts on them, so a
        // sanitized program finds its handler, not the default action, as the disposition to
        // give back. The program under test gets these signals with their default action here.
        const char* options = std::getenv("ASAN_OPTIONS");
        if (options != nullptr) asanOptionsBefore = options;
        const std::string own = "handle_segv=0:handle_sigbus=0:handle_sigfpe=0";
        setenv("ASAN_OPTIONS", (asanOptionsBefore ? *asanOptionsBefore + ":" + own : own).c_str(),
               1);
#endif
    }
    void TearDown() override {
        setrlimit(RLIMIT_CORE, &coreBefore);
#ifdef KORRIN_SANITIZED
        if (asanOptionsBefore) {
            setenv("ASAN_OPTIONS", asanOptionsBefore->c_str(), 1);
        } else {
            unsetenv("ASAN_OPTIONS");
        }
#endif
    }

  private:
    rlimit coreBefore{};
    std::optional<std::string> asanOptionsBefore;
};

TEST_P(KeyWaitEverySignal, EndsTheProgramWithTheTerminalRestored) {
    const int signalNumber = GetParam();
    PseudoTerminal terminal;
    termios before{};
    ASSERT_EQ(tcgetattr(terminal.slave, &before), 0);
    TerminalRun run(terminal, {});
    ASSERT_TRUE(run.Started());
    ASSERT_TRUE(run.WaitForOutput(prompt));
    ASSERT_EQ(kill(run.Pid(), signalNumber), 0);
    ASSERT_TRUE(run.WaitForExit());

    ASSERT_TRUE(WIFSIGNALED(run.Status())) << "ended by the signal, as without a handler";
    EXPECT_EQ(WTERMSIG(run.Status()), signalNumber);
    termios after{};
    ASSERT_EQ(tcgetattr(terminal.slave, &after), 0);
    ExpectSameSettings(before, after);
}

INSTANTIATE_TEST_SUITE_P(Signals, KeyWaitEverySignal, ::testing::ValuesIn(SignalsThatEndAProcess()),
                         [](const auto& info) { return "Signal" + std::to_string(info.param); });

}  // namespace
}  // namespace korrin::test
