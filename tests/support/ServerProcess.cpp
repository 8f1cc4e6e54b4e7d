#include "support/ServerProcess.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>

#include "support/Loopback.h"
#include "support/Process.h"

namespace korrin::test {

namespace {
// How long a server may take to start. It takes well under a second; the bound is there so that
// a configuration it refuses fails the test at once, with the server's own words.
constexpr std::chrono::seconds startBound{30};
// How long to wait for the server's end, or for it to listen, before looking again.
constexpr int retryMs = 20;
constexpr int stopBoundMs = 20000;

bool Accepts(const ServerProcess::Endpoint& endpoint) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(endpoint.port);
    inet_pton(AF_INET, endpoint.address.c_str(), &where.sin_addr);
    const bool connected = connect(fd, reinterpret_cast<sockaddr*>(&where), sizeof where) == 0;
    close(fd);
    return connected;
}
}  // namespace

ServerProcess::ServerProcess(std::string theName, const std::vector<std::string>& arguments,
                             std::vector<Endpoint> ready, std::string theLogPath)
    : name(std::move(theName)), logPath(std::move(theLogPath)) {
    std::vector<std::string> args = arguments;
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        setpgid(0, 0);
        execv(argv[0], argv.data());
        _exit(127);
    }
    setpgid(pid, pid);  // also here, so that the group exists whichever runs first
    const int ended = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    const auto deadline = std::chrono::steady_clock::now() + startBound;
    std::string failure;
    while (true) {
        if (std::all_of(ready.begin(), ready.end(), Accepts)) break;
        pollfd exit{ended, POLLIN, 0};
        if (ended >= 0 && poll(&exit, 1, retryMs) > 0) {
            failure = name + " ended before it accepted connections";
            break;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            failure = name + " did not accept connections within " +
                      std::to_string(startBound.count()) + " s";
            break;
        }
    }
    if (ended >= 0) close(ended);
    if (!failure.empty()) {
        Stop();
        throw std::runtime_error(failure + "\n" + ReadFile(logPath));
    }
}

ServerProcess::~ServerProcess() { Stop(); }

void ServerProcess::Stop() {
    if (pid <= 0) return;
    const int ended = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    kill(pid, SIGTERM);
    // squid takes a second to stop; a server that takes far longer is hung, and is killed.
    pollfd exit{ended, POLLIN, 0};
    if (ended >= 0 && poll(&exit, 1, stopBoundMs) == 0) kill(pid, SIGKILL);
    if (ended >= 0) close(ended);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    // What the server started and did not end itself.
    kill(-pid, SIGKILL);
    pid = -1;
}

std::uint16_t ServerProcess::FreePort(const std::string& address) {
    const BoundSocket bound = BindLoopback(-1, address, 0);
    close(bound.fd);
    return bound.port;
}

std::string ServerProcess::FilledTemplate(
    const std::string& path, const std::vector<std::pair<std::string, std::string>>& values) {
    std::string text = ReadFile(std::string(KORRIN_TEST_CONFIGS) + "/" + path);
    for (const auto& [key, value] : values) {
        const std::string mark = "@" + key + "@";
        for (auto at = text.find(mark); at != std::string::npos;
             at = text.find(mark, at + value.size()))
            text.replace(at, mark.size(), value);
    }
    return text;
}

std::string ServerProcess::WhenLines(const std::string& path, std::size_t lines,
                                     std::chrono::milliseconds bound) {
    const auto count = [](const std::string& text) {
        return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
    };
    const int watch = inotify_init1(IN_CLOEXEC);
    if (watch >= 0) inotify_add_watch(watch, path.c_str(), IN_MODIFY);
    const auto deadline = std::chrono::steady_clock::now() + bound;
    std::string text = ReadFile(path);
    while (count(text) < lines) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || watch < 0) break;
        pollfd changed{watch, POLLIN, 0};
        if (poll(&changed, 1, static_cast<int>(left.count())) > 0) {
            char events[4096];
            (void)!read(watch, events, sizeof events);
        }
        text = ReadFile(path);
    }
    if (watch >= 0) close(watch);
    return text;
}

}  // namespace korrin::test
