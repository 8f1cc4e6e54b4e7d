// A download to a file stopped by SIGINT, SIGTERM or SIGHUP: the file keeps every byte that had
// arrived, and the program ends by the signal, as it would without handlers of its own.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "support/Process.h"
#include "support/ScriptedServer.h"

extern char** environ;

namespace korrin::test {
namespace {

using namespace std::chrono_literals;

constexpr auto bound = 30s;

// korrin running with standard output on a pipe that the test reads while it runs.
class WatchedRun {
  public:
    // ignored: a signal that the program is started with ignored, or 0.
    WatchedRun(std::vector<std::string> arguments, int ignored) {
        arguments.insert(arguments.begin(), KORRIN_BINARY);
        std::vector<char*> argv;
        for (auto& argument : arguments) argv.push_back(argument.data());
        argv.push_back(nullptr);
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0) return;
        pid = fork();
        if (pid == 0) {
            setsid();
            sigset_t none;
            sigemptyset(&none);
            sigprocmask(SIG_SETMASK, &none, nullptr);
            for (const int s : {SIGINT, SIGTERM, SIGHUP})
                signal(s, s == ignored ? SIG_IGN : SIG_DFL);
            dup2(out[1], 1);
            execve(argv[0], argv.data(), environ);
            _exit(127);
        }
        close(out[1]);
        output = out[0];
    }
    ~WatchedRun() {
        if (pid > 0 && !ended) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        if (output >= 0) close(output);
    }
    WatchedRun(const WatchedRun&) = delete;
    WatchedRun& operator=(const WatchedRun&) = delete;

    bool Started() const { return pid > 0 && output >= 0; }
    pid_t Pid() const { return pid; }

    // Reads standard output until text has appeared; false at the bound or at its end.
    bool WaitForOutput(const std::string& text) {
        const auto deadline = std::chrono::steady_clock::now() + bound;
        while (seen.find(text) == std::string::npos) {
            if (!ReadSome(deadline)) return false;
        }
        return true;
    }

    // Reads standard output to its end, then waits for the program; false at the bound.
    bool WaitForEnd() {
        const auto deadline = std::chrono::steady_clock::now() + bound;
        while (ReadSome(deadline)) {
        }
        if (std::chrono::steady_clock::now() >= deadline) return false;
        ended = waitpid(pid, &status, 0) == pid;
        return ended;
    }

    int Status() const { return status; }
    const std::string& Output() const { return seen; }

  private:
    // One read; false at the deadline or at the end of the output.
    bool ReadSome(std::chrono::steady_clock::time_point deadline) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd ready{output, POLLIN, 0};
        if (poll(&ready, 1, static_cast<int>(left.count())) <= 0) return false;
        char buffer[4096];
        const ssize_t n = read(output, buffer, sizeof buffer);
        if (n <= 0) return false;
        seen.append(buffer, static_cast<std::size_t>(n));
        return true;
    }

    pid_t pid = -1;
    int output = -1;  // owned: the read end of the child's standard output
    bool ended = false;
    int status = 0;
    std::string seen;
};

// Half of the announced body arrives, then the server waits until the test releases it. The
// progress line shows 50% exactly when every byte of the first half has been written to the
// file's stream, more than one buffer's worth.
constexpr std::size_t half = 300 * 1024 + 7;
const std::string firstHalf = [] {
    std::string bytes(half, '\0');
    for (std::size_t i = 0; i < half; ++i) bytes[i] = static_cast<char>('a' + i % 23);
    return bytes;
}();
const std::string secondHalf(half, 'z');

// Lets a waiting server send the rest, at the latest when the object goes (before the server).
class Release {
  public:
    explicit Release(std::promise<void>& theGo) : go(theGo) {}
    ~Release() { Now(); }
    Release(const Release&) = delete;
    Release& operator=(const Release&) = delete;
    void Now() {
        if (!done) go.set_value();
        done = true;
    }

  private:
    std::promise<void>& go;
    bool done = false;
};

struct InterruptCase {
    const char* name;
    int signal;
    bool ignored;  // the program is started with the signal ignored
};

class InterruptedDownload : public ::testing::TestWithParam<InterruptCase> {};

TEST_P(InterruptedDownload, KeepsEveryByteThatArrivedAndEndsByTheSignal) {
    const InterruptCase& c = GetParam();
    std::promise<void> go;
    std::shared_future<void> released = go.get_future().share();
    ScriptedServer server([released](const std::string&, ScriptedConnection& connection) {
        connection.Send(
            HttpReply(200, firstHalf, "Content-Length: " + std::to_string(2 * half) + "\r\n"));
        if (released.wait_for(60s) == std::future_status::ready) connection.Send(secondHalf);
    });
    Release release(go);
    TempDir folder;
    const std::string path = folder.File("out.bin");
    WatchedRun run({server.Url("/big"), "-o", path}, c.ignored ? c.signal : 0);
    ASSERT_TRUE(run.Started());
    ASSERT_TRUE(run.WaitForOutput(" 50% [")) << run.Output();
    ASSERT_EQ(kill(run.Pid(), c.signal), 0);
    // An ignored signal is discarded when it is sent: the download can go on to its end.
    if (c.ignored) release.Now();
    ASSERT_TRUE(run.WaitForEnd());

    if (c.ignored) {
        ASSERT_TRUE(WIFEXITED(run.Status()));
        EXPECT_EQ(WEXITSTATUS(run.Status()), 0) << run.Output();
        EXPECT_EQ(ReadFile(path), firstHalf + secondHalf);
        return;
    }
    ASSERT_TRUE(WIFSIGNALED(run.Status())) << "ended by the signal: " << run.Output();
    EXPECT_EQ(WTERMSIG(run.Status()), c.signal);
    const std::string stored = ReadFile(path);
    EXPECT_EQ(stored.size(), half);
    EXPECT_TRUE(stored == firstHalf) << "the stored bytes differ from those sent";
    EXPECT_EQ(run.Output().find("retrieving file"), std::string::npos) << "no verdict";
}

INSTANTIATE_TEST_SUITE_P(Signals, InterruptedDownload,
                         ::testing::Values(InterruptCase{"Interrupt", SIGINT, false},
                                           InterruptCase{"Terminate", SIGTERM, false},
                                           InterruptCase{"HangUp", SIGHUP, false},
                                           InterruptCase{"HangUpIgnored", SIGHUP, true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace korrin::test
