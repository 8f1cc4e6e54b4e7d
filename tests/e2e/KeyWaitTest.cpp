// The key wait of the usage screen and of a failed download, run under a real pseudo-terminal
// that is the program's controlling terminal.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "support/Process.h"
#include "support/ScriptedServer.h"

extern char** environ;

namespace korrin::test {
namespace {

using namespace std::chrono_literals;

constexpr auto bound = 20s;
const std::string prompt = "Press any key to continue...";
const std::string unreadInput = "standard input, never read\n";

// A pseudo-terminal pair; the test keeps the slave open to look at its settings and its input
// queue after the program has gone.
class PseudoTerminal {
public:
    PseudoTerminal() {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
            ADD_FAILURE() << "no pseudo-terminal: " << std::strerror(errno);
            return;
        }
        slave = open(ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (slave < 0) ADD_FAILURE() << "cannot open the slave: " << std::strerror(errno);
    }
    ~PseudoTerminal() {
        if (slave >= 0) close(slave);
        if (master >= 0) close(master);
    }
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    int master = -1;
    int slave = -1;
};

// korrin running in a session of its own whose controlling terminal is the pseudo-terminal, with
// standard output and standard error on it, and standard input a pipe that holds unreadInput.
class TerminalRun {
public:
    TerminalRun(PseudoTerminal& terminal, const std::vector<std::string>& arguments)
        : terminal(terminal) {
        std::vector<std::string> all{KORRIN_BINARY};
        all.insert(all.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (auto& argument : all) argv.push_back(argument.data());
        argv.push_back(nullptr);
        if (pipe2(input, O_CLOEXEC) != 0) return;
        (void)!write(input[1], unreadInput.data(), unreadInput.size());

        pid = fork();
        if (pid == 0) {
            sigset_t none;
            sigemptyset(&none);
            sigprocmask(SIG_SETMASK, &none, nullptr);
            for (const int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) signal(s, SIG_DFL);
            if (setsid() < 0 || ioctl(terminal.slave, TIOCSCTTY, 0) != 0) _exit(126);
            dup2(input[0], 0);
            dup2(terminal.slave, 1);
            dup2(terminal.slave, 2);
            execve(argv[0], argv.data(), environ);
            _exit(127);
        }
        // Through syscall(): this glibc's <sys/pidfd.h> lacks C linkage for C++.
        if (pid > 0) process = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    }

    ~TerminalRun() {
        if (pid > 0 && !exited) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        if (process >= 0) close(process);
        for (const int fd : input) {
            if (fd >= 0) close(fd);
        }
    }
    TerminalRun(const TerminalRun&) = delete;
    TerminalRun& operator=(const TerminalRun&) = delete;

    // Reads what the program writes until text has appeared; false when the bound passes first.
    bool WaitForOutput(const std::string& text) {
        const auto deadline = std::chrono::steady_clock::now() + bound;
        while (output.find(text) == std::string::npos) {
            if (!ReadUntil(deadline, false)) return false;
        }
        return true;
    }

    // Reads what the program writes until it ends; false when the bound passes first.
    bool WaitForExit() {
        const auto deadline = std::chrono::steady_clock::now() + bound;
        while (!exited) {
            if (!ReadUntil(deadline, true)) return false;
        }
        return true;
    }

    // After the end: everything that reached the terminal's screen after the prompt (echoes
    // included). A marker written to the slave goes out behind every earlier byte.
    std::string OutputAfterPrompt() {
        const std::string marker = "<end of run>";
        (void)!write(terminal.slave, marker.data(), marker.size());
        EXPECT_TRUE(WaitForOutput(marker));
        const std::size_t start = output.find(prompt);
        if (start == std::string::npos) return output;
        const std::size_t from = start + prompt.size();
        return output.substr(from, output.find(marker, from) - from);
    }

    // Bytes left unread in the standard input pipe.
    int UnreadStandardInput() const {
        int count = -1;
        ioctl(input[0], FIONREAD, &count);
        return count;
    }

    void Send(const std::string& bytes) {
        ASSERT_EQ(write(terminal.master, bytes.data(), bytes.size()),
                  static_cast<ssize_t>(bytes.size()));
    }

    pid_t Pid() const { return pid; }
    int Status() const { return status; }
    bool Started() const { return pid > 0 && process >= 0; }

private:
    // One round of reading the master and watching the process; false at the deadline.
    bool ReadUntil(std::chrono::steady_clock::time_point deadline, bool watchExit) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd fds[2] = {{terminal.master, POLLIN, 0}, {watchExit ? process : -1, POLLIN, 0}};
        const int ready = poll(fds, 2, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) return true;
        if (ready < 0) return false;
        if (fds[0].revents & POLLIN) {
            char buffer[4096];
            const ssize_t n = read(terminal.master, buffer, sizeof buffer);
            if (n > 0) output.append(buffer, static_cast<std::size_t>(n));
        }
        if (fds[1].revents & POLLIN) {
            exited = waitpid(pid, &status, 0) == pid;
        }
        return true;
    }

    PseudoTerminal& terminal;
    int input[2] = {-1, -1};
    pid_t pid = -1;
    int process = -1;  // pidfd of the child, readable once it has ended
    bool exited = false;
    int status = 0;
    std::string output;
};

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
    std::string key;  // the bytes the terminal sends for the key
    Pause pause;
};

void PrintTo(const KeyCase& c, std::ostream* out) { *out << c.name; }

class KeyWaitKeys : public ::testing::TestWithParam<KeyCase> {};

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
    run.Send(c.key);
    ASSERT_TRUE(run.WaitForExit()) << "the key press ended the wait";

    ASSERT_TRUE(WIFEXITED(run.Status()));
    EXPECT_EQ(WEXITSTATUS(run.Status()), 1);
    EXPECT_EQ(run.OutputAfterPrompt(), "") << "nothing is echoed";
    termios after{};
    ASSERT_EQ(tcgetattr(terminal.slave, &after), 0);
    ExpectSameSettings(before, after);
    EXPECT_EQ(LeftoverInput(terminal.slave), "") << "every byte of the key was consumed";
    EXPECT_EQ(run.UnreadStandardInput(), static_cast<int>(unreadInput.size()))
        << "the key is read from the terminal, not from standard input";
}

INSTANTIATE_TEST_SUITE_P(
    Keys, KeyWaitKeys,
    ::testing::Values(KeyCase{"Letter", "x", Pause::usageScreen},
                      KeyCase{"Enter", "\r", Pause::notFoundVerdict},
                      KeyCase{"ArrowUp", "\x1b[A", Pause::notFoundVerdict},
                      KeyCase{"ArrowUpApplicationMode", "\x1bOA", Pause::usageScreen},
                      KeyCase{"F5", "\x1b[15~", Pause::usageScreen},
                      KeyCase{"ShiftF5", "\x1b[15;2~", Pause::notFoundVerdict},
                      KeyCase{"Escape", "\x1b", Pause::usageScreen},
                      KeyCase{"Utf8Letter", "\xc3\xa9", Pause::notFoundVerdict}),
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

INSTANTIATE_TEST_SUITE_P(Signals, KeyWaitSignals,
                         ::testing::Values(SignalCase{"CtrlC", SIGINT, "\x03"},
                                           SignalCase{"Interrupt", SIGINT, ""},
                                           SignalCase{"Terminate", SIGTERM, ""},
                                           SignalCase{"HangUp", SIGHUP, ""}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace korrin::test
