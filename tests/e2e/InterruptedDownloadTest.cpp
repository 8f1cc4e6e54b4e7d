// A download stopped by SIGINT, SIGTERM or SIGHUP: the file keeps every byte that had arrived, the
// program ends by the signal, as it would without handlers of its own, and nothing it waits for
// (a name lookup, a reader) holds that up.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/Process.h"
#include "support/ScriptedServer.h"

extern char** environ;

namespace korrin::test {
namespace {

using namespace std::chrono_literals;

constexpr auto bound = 30s;

// Puts the calling process, a child between fork and exec, where every name lookup hangs: a
// network and a mount namespace of its own (inside a user namespace of its own when it lacks the
// right to make them as it is), with only the loopback interface up, a name server on
// 127.0.0.1:53 that takes queries and never answers, and resolvConf mounted over
// /etc/resolv.conf to point there. The name server's socket goes to the test through channel, so
// that the test sees each query arrive. Only calls that are safe after fork; false when any step
// fails.
bool HangNameLookups(int channel, const char* resolvConf, const std::string& uidMap,
                     const std::string& gidMap) {
    if (unshare(CLONE_NEWNET | CLONE_NEWNS) != 0) {
        if (unshare(CLONE_NEWUSER | CLONE_NEWNET | CLONE_NEWNS) != 0) return false;
        const auto put = [](const char* path, const std::string& text) {
            const int fd = open(path, O_WRONLY | O_CLOEXEC);
            if (fd < 0) return false;
            const bool ok =
                write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
            close(fd);
            return ok;
        };
        if (!put("/proc/self/uid_map", uidMap) || !put("/proc/self/setgroups", "deny") ||
            !put("/proc/self/gid_map", gidMap)) {
            return false;
        }
    }
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount(resolvConf, "/etc/resolv.conf", nullptr, MS_BIND, nullptr) != 0) {
        return false;
    }
    const int control = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq loopback{};
    std::strcpy(loopback.ifr_name, "lo");
    if (control < 0 || ioctl(control, SIOCGIFFLAGS, &loopback) != 0) return false;
    loopback.ifr_flags = static_cast<short>(loopback.ifr_flags | IFF_UP);
    if (ioctl(control, SIOCSIFFLAGS, &loopback) != 0) return false;
    close(control);
    const int nameServer = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(53);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (nameServer < 0 ||
        bind(nameServer, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        return false;
    }
    // The socket goes to the test as SCM_RIGHTS.
    char byte = 0;
    iovec data{&byte, 1};
    alignas(cmsghdr) char space[CMSG_SPACE(sizeof(int))] = {};
    msghdr message{};
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = space;
    message.msg_controllen = sizeof space;
    cmsghdr* rights = CMSG_FIRSTHDR(&message);
    rights->cmsg_level = SOL_SOCKET;
    rights->cmsg_type = SCM_RIGHTS;
    rights->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(rights), &nameServer, sizeof(int));
    if (sendmsg(channel, &message, 0) != 1) return false;
    close(nameServer);
    return true;
}

// The descriptor that HangNameLookups sent through channel; -1 when none came within bound.
int ReceiveDescriptor(int channel, std::chrono::milliseconds bound) {
    pollfd ready{channel, POLLIN, 0};
    if (poll(&ready, 1, static_cast<int>(bound.count())) != 1) return -1;
    char byte = 0;
    iovec data{&byte, 1};
    alignas(cmsghdr) char space[CMSG_SPACE(sizeof(int))] = {};
    msghdr message{};
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = space;
    message.msg_controllen = sizeof space;
    if (recvmsg(channel, &message, MSG_CMSG_CLOEXEC) != 1) return -1;
    const cmsghdr* rights = CMSG_FIRSTHDR(&message);
    if (rights == nullptr || rights->cmsg_type != SCM_RIGHTS) return -1;
    int fd = -1;
    std::memcpy(&fd, CMSG_DATA(rights), sizeof fd);
    return fd;
}

// One line of /proc/PID/file, of the process's main thread; empty when it cannot be read.
std::string ProcLine(pid_t pid, const std::string& file, const std::string& start) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/" + file);
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, start.size(), start) == 0) return line;
    }
    return {};
}

// Waits until the program's main thread sits in the system call that /proc shows with a line
// beginning with call ("1 0x1 " is a write to descriptor 1); false at the bound.
bool WaitUntilInSystemCall(pid_t pid, const std::string& call) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (ProcLine(pid, "syscall", call).empty()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(2ms);  // a look at /proc, not a wait for time to pass
    }
    return true;
}

// Waits until signalNumber, sent to the program, is no longer pending: a handler has taken it.
// False at the bound.
bool WaitUntilTaken(pid_t pid, int signalNumber) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    const unsigned long long bit = 1ULL << (signalNumber - 1);
    for (;;) {
        const std::string shared = ProcLine(pid, "status", "ShdPnd:");
        const std::string own = ProcLine(pid, "status", "SigPnd:");
        if (shared.empty() || own.empty()) return false;
        const unsigned long long pending =
            std::stoull(shared.substr(7), nullptr, 16) | std::stoull(own.substr(7), nullptr, 16);
        if ((pending & bit) == 0) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(2ms);  // a look at /proc, not a wait for time to pass
    }
}

struct WatchedRunOptions {
    int ignored = 0;  // a signal that the program is started with ignored, or 0
    // A resolv.conf for a run in which every name lookup hangs (HangNameLookups); empty: the run
    // shares the test's network.
    std::string hungLookupsResolvConf;
    int pipeSize = 0;     // the capacity of the standard output pipe; 0: the system's default
    std::string prefill;  // written into the standard output pipe before the start
    std::vector<int> blockedSignals;  // blocked in the mask the program is started with
    std::vector<int> ignoredSignals;  // further signals that the program is started with ignored
};

// korrin running with standard output on a pipe that the test reads while it runs.
class WatchedRun {
  public:
    WatchedRun(std::vector<std::string> arguments, const WatchedRunOptions& options = {}) {
        arguments.insert(arguments.begin(), KorrinBinary());
        std::vector<char*> argv;
        for (auto& argument : arguments) argv.push_back(argument.data());
        argv.push_back(nullptr);
        // Without the proxy variables: every request goes straight to the server on loopback, and
        // every name lookup is the program's own.
        std::vector<std::string> environment;
        for (char** entry = environ; *entry != nullptr; ++entry) {
            const std::string variable = *entry;
            const std::string name = variable.substr(0, variable.find('='));
            if (name.size() < 6 || (name.substr(name.size() - 6) != "_proxy" &&
                                    name.substr(name.size() - 6) != "_PROXY")) {
                environment.push_back(variable);
            }
        }
        std::vector<char*> envp;
        for (auto& entry : environment) envp.push_back(entry.data());
        envp.push_back(nullptr);
        const bool hangLookups = !options.hungLookupsResolvConf.empty();
        const std::string uidMap = std::to_string(getuid()) + " " + std::to_string(getuid()) + " 1";
        const std::string gidMap = std::to_string(getgid()) + " " + std::to_string(getgid()) + " 1";
        int out[2];
        int channel[2] = {-1, -1};
        if (pipe2(out, O_CLOEXEC) != 0) return;
        if (options.pipeSize > 0) fcntl(out[0], F_SETPIPE_SZ, options.pipeSize);
        if (!options.prefill.empty() &&
            write(out[1], options.prefill.data(), options.prefill.size()) !=
                static_cast<ssize_t>(options.prefill.size())) {
            return;
        }
        if (hangLookups && socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, channel) != 0) return;
        pid = fork();
        if (pid == 0) {
            setsid();
            sigset_t mask;
            sigemptyset(&mask);
            for (const int s : options.blockedSignals) sigaddset(&mask, s);
            sigprocmask(SIG_SETMASK, &mask, nullptr);
            for (const int s : {SIGINT, SIGTERM, SIGHUP, SIGALRM})
                signal(s, s == options.ignored ? SIG_IGN : SIG_DFL);
            for (const int s : options.ignoredSignals) signal(s, SIG_IGN);
            if (hangLookups && !HangNameLookups(channel[1], options.hungLookupsResolvConf.c_str(),
                                                uidMap, gidMap)) {
                _exit(125);
            }
            dup2(out[1], 1);
            execve(argv[0], argv.data(), envp.data());
            _exit(127);
        }
        close(out[1]);
        output = out[0];
        if (hangLookups) {
            close(channel[1]);
            nameServer = ReceiveDescriptor(channel[0], bound);
            close(channel[0]);
        }
    }
    ~WatchedRun() {
        if (pid > 0 && !ended) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        if (output >= 0) close(output);
        if (nameServer >= 0) close(nameServer);
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

    // Waits, reading nothing, until standard output holds bytes; false at the bound.
    bool WaitForOutputUnread() const {
        pollfd ready{output, POLLIN, 0};
        return poll(&ready, 1, static_cast<int>(std::chrono::milliseconds(bound).count())) == 1;
    }

    // Reads nothing until the program has ended; false at the bound.
    bool WaitForEndUnread() {
        const auto deadline = std::chrono::steady_clock::now() + bound;
        while (!ended) {
            const pid_t got = waitpid(pid, &status, WNOHANG);
            if (got == pid) {
                ended = true;
                break;
            }
            // The process's end closes its pipe end: a hang-up on a pipe that the test still
            // holds open for reading would never come, so the end is awaited through a pidfd.
            if (!WaitForPidfd(deadline)) return false;
        }
        return true;
    }

    // With hungLookupsResolvConf: the name server's socket, readable once the program has asked
    // it something; -1 when the namespace could not be made.
    int NameServer() const { return nameServer; }

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

    bool WaitForPidfd(std::chrono::steady_clock::time_point deadline) const {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        const int fd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
        if (fd < 0) return false;
        pollfd gone{fd, POLLIN, 0};
        const int ready = poll(&gone, 1, static_cast<int>(left.count()));
        close(fd);
        return ready >= 0;
    }

    pid_t pid = -1;
    int output = -1;      // owned: the read end of the child's standard output
    int nameServer = -1;  // owned: the hung name server's socket, or -1
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
    WatchedRunOptions options;
    options.ignored = c.ignored ? c.signal : 0;
    WatchedRun run({server.Url("/big"), "-o", path}, options);
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

// The server takes the request and sends nothing: a signal ends the download at once, long
// before the transfer's own limit for silence (60 s) would. Of two signals sent together, the
// first decides how the program ends.
struct SilenceCase {
    const char* name;
    std::vector<int> signals;  // sent in this order, without waiting in between
};

void PrintTo(const SilenceCase& c, std::ostream* out) { *out << c.name; }

class ServerSendsNothing : public ::testing::TestWithParam<SilenceCase> {};

TEST_P(ServerSendsNothing, SignalEndsTheWaitForTheServerAtOnce) {
    const SilenceCase& c = GetParam();
    std::promise<void> requested;
    std::future<void> arrived = requested.get_future();
    ScriptedServer server([&requested](const std::string&, ScriptedConnection& connection) {
        requested.set_value();
        connection.WaitForPeerClose(60s);
    });
    TempDir folder;
    WatchedRun run({server.Url("/never"), "-o", folder.File("out")});
    ASSERT_TRUE(run.Started());
    ASSERT_EQ(arrived.wait_for(bound), std::future_status::ready) << "the request arrived";
    const auto sent = std::chrono::steady_clock::now();
    for (const int s : c.signals) ASSERT_EQ(kill(run.Pid(), s), 0);
    ASSERT_TRUE(run.WaitForEnd()) << run.Output();
    const auto took = std::chrono::steady_clock::now() - sent;

    ASSERT_TRUE(WIFSIGNALED(run.Status())) << "ended by the signal: " << run.Output();
    EXPECT_EQ(WTERMSIG(run.Status()), c.signals.front());
    // Far above the moment it takes; below the limit that the program sets itself for winding a
    // download down, which would end it otherwise.
    EXPECT_LT(took, 2s) << "the download went on waiting for the server";
    EXPECT_EQ(run.Output().find("retrieving file"), std::string::npos) << "no verdict";
}

INSTANTIATE_TEST_SUITE_P(Signals, ServerSendsNothing,
                         ::testing::Values(SilenceCase{"Interrupt", {SIGINT}},
                                           SilenceCase{"HangUpThenInterrupt", {SIGHUP, SIGINT}}),
                         [](const auto& info) { return std::string(info.param.name); });

// Every name lookup hangs (the name server never answers; the resolver gives up after 30 s): a
// signal sent while the program waits for one ends it at once, by that signal. A second signal
// sent right behind the first ends it at once too, and by the first.
struct LookupCase {
    const char* name;
    std::vector<int> signals;  // sent in this order, without waiting in between
};

void PrintTo(const LookupCase& c, std::ostream* out) { *out << c.name; }

class HungNameLookup : public ::testing::TestWithParam<LookupCase> {};

TEST_P(HungNameLookup, SignalEndsTheProgramAtOnceByTheFirstSignal) {
    const LookupCase& c = GetParam();
    TempDir folder;
    WatchedRunOptions options;
    options.hungLookupsResolvConf = folder.File("resolv.conf");
    WriteFile(options.hungLookupsResolvConf,
              "nameserver 127.0.0.1\noptions timeout:30 attempts:1\n");
    WatchedRun run({"http://hung-lookup.test/file"}, options);
    ASSERT_TRUE(run.Started());
    if (run.NameServer() < 0) {
        run.WaitForEnd();
        GTEST_SKIP() << "no network and mount namespace could be made here";
    }
    pollfd query{run.NameServer(), POLLIN, 0};
    ASSERT_EQ(poll(&query, 1, static_cast<int>(std::chrono::milliseconds(bound).count())), 1)
        << "the program asked the name server";
    const auto sent = std::chrono::steady_clock::now();
    for (const int s : c.signals) ASSERT_EQ(kill(run.Pid(), s), 0);
    ASSERT_TRUE(run.WaitForEnd());
    const auto took = std::chrono::steady_clock::now() - sent;

    ASSERT_TRUE(WIFSIGNALED(run.Status())) << "ended by the signal: " << run.Output();
    EXPECT_EQ(WTERMSIG(run.Status()), c.signals.front());
    // Far above the moment it takes; below the resolver's time-out, and below the limit that the
    // program sets itself for winding a download down.
    EXPECT_LT(took, 2s) << "the program waited for the lookup";
}

INSTANTIATE_TEST_SUITE_P(Signals, HungNameLookup,
                         ::testing::Values(LookupCase{"Terminate", {SIGTERM}},
                                           LookupCase{"HangUpThenInterrupt", {SIGHUP, SIGINT}}),
                         [](const auto& info) { return std::string(info.param.name); });

// Standard output is a pipe that nobody reads and the body is several MiB, so the program blocks
// writing it: SIGTERM or SIGINT ends it by that signal while the pipe stays unread.
class FullPipe : public ::testing::TestWithParam<int> {};

TEST_P(FullPipe, SignalEndsTheProgramBlockedWritingStandardOutput) {
    const int signalNumber = GetParam();
    const std::string body(std::size_t{8} * 1024 * 1024, 'b');
    ScriptedServer server(ScriptedServer::Reply(HttpReply(200, body)));
    WatchedRunOptions options;
    options.pipeSize = 4096;
    WatchedRun run({server.Url("/big")}, options);
    ASSERT_TRUE(run.Started());
    ASSERT_TRUE(run.WaitForOutputUnread()) << "the body began to arrive";
    ASSERT_EQ(kill(run.Pid(), signalNumber), 0);
    ASSERT_TRUE(run.WaitForEndUnread()) << "the program waited for a reader";

    ASSERT_TRUE(WIFSIGNALED(run.Status()));
    EXPECT_EQ(WTERMSIG(run.Status()), signalNumber);
}

INSTANTIATE_TEST_SUITE_P(Signals, FullPipe, ::testing::Values(SIGTERM, SIGINT),
                         [](const auto& info) { return std::string(strsignal(info.param)); });

// The wind-down's own limit, and the bounds around it: a run that waits for it ends close to it,
// and one that need not wait ends far below it.
// The figure is the test's own, so that a different limit in the program shows.
constexpr auto windDown = 3s;
constexpr auto atOnce = 2s;

// A body of distinct bytes, so that a byte out of place shows.
std::string Pattern(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>('A' + i % 53);
    return bytes;
}

// Standard output is a pipe that is full when the first block of the body is written, and the
// signal interrupts that write before any of it has gone out. The reader comes back inside the
// wind-down: it gets every byte the program had taken from the server, in order, and the program
// ends by the signal.
TEST(WindDown, ReaderBackInsideTheWindDownGetsEveryByteThatArrived) {
    const std::string body = Pattern(320 * 1024);
    std::promise<void> go;
    std::shared_future<void> released = go.get_future().share();
    ScriptedServer server([&body, released](const std::string&, ScriptedConnection& connection) {
        connection.Send(
            HttpReply(200, body, "Content-Length: " + std::to_string(2 * body.size()) + "\r\n"));
        released.wait_for(60s);
    });
    Release release(go);
    WatchedRunOptions options;
    options.pipeSize = 4096;
    options.prefill = std::string(4096, '-');
    WatchedRun run({server.Url("/held")}, options);
    ASSERT_TRUE(run.Started());
    ASSERT_TRUE(WaitUntilInSystemCall(run.Pid(), "1 0x1 ")) << "blocked writing the body";
    ASSERT_EQ(kill(run.Pid(), SIGTERM), 0);
    const auto sent = std::chrono::steady_clock::now();
    ASSERT_TRUE(WaitUntilTaken(run.Pid(), SIGTERM));
    ASSERT_TRUE(run.WaitForEnd()) << "the reader is back";
    const auto took = std::chrono::steady_clock::now() - sent;

    ASSERT_TRUE(WIFSIGNALED(run.Status()));
    EXPECT_EQ(WTERMSIG(run.Status()), SIGTERM);
    EXPECT_LT(took, windDown) << "ended once everything was written";
    ASSERT_EQ(run.Output().substr(0, options.prefill.size()), options.prefill);
    const std::string stored = run.Output().substr(options.prefill.size());
    // The blocked write held the first 128 KiB, and the bytes behind them had arrived too.
    EXPECT_GT(stored.size(), std::size_t{128} * 1024) << "the interrupted write went on";
    EXPECT_TRUE(stored == body.substr(0, stored.size())) << "the bytes came in order";
}

// Standard output is a pipe that nobody reads: after a stopping signal the program waits for
// the reader for the wind-down's length, not longer and not much shorter, and ends by the
// signal, however its signals were set up when it started.
struct WindDownCase {
    const char* name;
    std::vector<int> blocked;  // blocked in the mask the program starts with
    std::vector<int> ignored;  // ignored when it starts
};

void PrintTo(const WindDownCase& c, std::ostream* out) { *out << c.name; }

class WindDownLimit : public ::testing::TestWithParam<WindDownCase> {};

TEST_P(WindDownLimit, ProgramBlockedOnAReaderEndsAtTheLimitByTheSignal) {
    const WindDownCase& c = GetParam();
    const std::string body(std::size_t{8} * 1024 * 1024, 'b');
    ScriptedServer server(ScriptedServer::Reply(HttpReply(200, body)));
    WatchedRunOptions options;
    options.pipeSize = 4096;
    options.blockedSignals = c.blocked;
    options.ignoredSignals = c.ignored;
    WatchedRun run({server.Url("/big")}, options);
    ASSERT_TRUE(run.Started());
    ASSERT_TRUE(WaitUntilInSystemCall(run.Pid(), "1 0x1 ")) << "blocked writing the body";
    ASSERT_EQ(kill(run.Pid(), SIGTERM), 0);
    const auto sent = std::chrono::steady_clock::now();
    ASSERT_TRUE(run.WaitForEndUnread()) << "the program waited for a reader";
    const auto took = std::chrono::steady_clock::now() - sent;

    ASSERT_TRUE(WIFSIGNALED(run.Status()));
    EXPECT_EQ(WTERMSIG(run.Status()), SIGTERM);
    EXPECT_GT(took, windDown - 500ms) << "the reader was given the wind-down";
    EXPECT_LT(took, windDown + 4s) << "the wind-down kept to its limit";
}

INSTANTIATE_TEST_SUITE_P(Signals, WindDownLimit,
                         ::testing::Values(WindDownCase{"AsUsual", {}, {}},
                                           WindDownCase{"AlarmIgnored", {}, {SIGALRM}},
                                           WindDownCase{"AlarmBlocked", {SIGALRM}, {}},
                                           WindDownCase{"AlarmAndStoppingSignalsBlocked",
                                                        {SIGALRM, SIGTERM, SIGINT, SIGHUP},
                                                        {}}),
                         [](const auto& info) { return std::string(info.param.name); });

// A second stopping signal, once the first is being acted on, ends the program at once, by the
// first: whoever sends it does not wait for the reader.
TEST(WindDown, SecondSignalEndsTheWindDownAtOnceByTheFirst) {
    const std::string body(std::size_t{8} * 1024 * 1024, 'b');
    ScriptedServer server(ScriptedServer::Reply(HttpReply(200, body)));
    WatchedRunOptions options;
    options.pipeSize = 4096;
    WatchedRun run({server.Url("/big")}, options);
    ASSERT_TRUE(run.Started());
    ASSERT_TRUE(WaitUntilInSystemCall(run.Pid(), "1 0x1 ")) << "blocked writing the body";
    ASSERT_EQ(kill(run.Pid(), SIGTERM), 0);
    const auto sent = std::chrono::steady_clock::now();
    ASSERT_TRUE(WaitUntilTaken(run.Pid(), SIGTERM));
    ASSERT_EQ(kill(run.Pid(), SIGINT), 0);
    ASSERT_TRUE(run.WaitForEndUnread());
    const auto took = std::chrono::steady_clock::now() - sent;

    ASSERT_TRUE(WIFSIGNALED(run.Status()));
    EXPECT_EQ(WTERMSIG(run.Status()), SIGTERM);
    EXPECT_LT(took, atOnce) << "the second signal did not wait for the wind-down";
}

// The output file is a FIFO that nobody opens, so opening it waits: Ctrl-C ends that wait at
// once, since nothing is held that the wind-down could store.
TEST(WindDown, SignalEndsAnOpenThatWaitsAtOnce) {
    ScriptedServer server(ScriptedServer::Reply(HttpReply(200, "body")));
    TempDir folder;
    const std::string fifo = folder.File("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    WatchedRun run({server.Url("/x"), "-o", fifo});
    ASSERT_TRUE(run.Started());
    ASSERT_TRUE(WaitUntilInSystemCall(run.Pid(), "257 ")) << "opening the FIFO";
    ASSERT_EQ(kill(run.Pid(), SIGINT), 0);
    const auto sent = std::chrono::steady_clock::now();
    ASSERT_TRUE(run.WaitForEnd());
    const auto took = std::chrono::steady_clock::now() - sent;

    ASSERT_TRUE(WIFSIGNALED(run.Status())) << run.Output();
    EXPECT_EQ(WTERMSIG(run.Status()), SIGINT);
    EXPECT_LT(took, atOnce) << "the open did not go on after the signal";
}

}  // namespace
}  // namespace korrin::test
