#include "support/Process.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string_view>

extern char** environ;

namespace korrin::test {

namespace {

// The variables that would point the program elsewhere than a test means: a proxy, or trusted
// certificates in place of the system's store.
bool IsProxyVariable(const std::string& entry) {
    static const char* const names[] = {
        "http_proxy=", "https_proxy=", "HTTP_PROXY=", "HTTPS_PROXY=",   "all_proxy=",
        "ALL_PROXY=",  "no_proxy=",    "NO_PROXY=",   "SSL_CERT_FILE=", "SSL_CERT_DIR="};
    for (const char* name : names) {
        if (entry.rfind(name, 0) == 0) return true;
    }
    return false;
}

void Check(bool ok, const char* what) {
    if (!ok) throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

// Moves the calling process, a child between fork and exec, into a network namespace of its own;
// without the right to do so as it is, first into a user namespace of its own in which it keeps
// its user and group ids. Only calls that are safe after fork. False when neither works.
bool IsolateNetwork(const std::string& uidMap, const std::string& gidMap) {
    if (unshare(CLONE_NEWNET) == 0) return true;
    if (unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) return false;
    const auto put = [](const char* path, std::string_view text) {
        const int fd = open(path, O_WRONLY | O_CLOEXEC);
        if (fd < 0) return false;
        const bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
        close(fd);
        return ok;
    };
    return put("/proc/self/uid_map", uidMap) && put("/proc/self/setgroups", "deny") &&
           put("/proc/self/gid_map", gidMap);
}

}  // namespace

ProcessResult RunProcess(const std::vector<std::string>& arguments, const ProcessOptions& options) {
    // Everything the child needs is prepared before fork: after it, only exec-safe calls.
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (!IsProxyVariable(*entry)) environment.emplace_back(*entry);
    }
    environment.insert(environment.end(), options.environment.begin(), options.environment.end());
    std::vector<char*> argv;
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& entry : environment) envp.push_back(entry.data());
    envp.push_back(nullptr);

    const std::string uidMap = std::to_string(getuid()) + " " + std::to_string(getuid()) + " 1";
    const std::string gidMap = std::to_string(getgid()) + " " + std::to_string(getgid()) + " 1";

    int in[2], out[2], err[2];
    Check(pipe2(in, O_CLOEXEC) == 0 && pipe2(out, O_CLOEXEC) == 0 && pipe2(err, O_CLOEXEC) == 0,
          "pipe");
    if (options.closeStandardOutput) {
        close(out[0]);
        out[0] = -1;
    }
    const pid_t pid = fork();
    Check(pid >= 0, "fork");
    if (pid == 0) {
        setsid();
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        for (const int fd : options.closedDescriptors) close(fd);
        signal(SIGPIPE, SIG_DFL);
        if (options.isolatedNetwork && !IsolateNetwork(uidMap, gidMap)) _exit(125);
        if (!options.workingDirectory.empty() && chdir(options.workingDirectory.c_str()) != 0)
            _exit(126);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);

    // Feed standard input; a child that does not read it gets it closed.
    if (!options.standardInput.empty()) {
        signal(SIGPIPE, SIG_IGN);
        (void)!write(in[1], options.standardInput.data(), options.standardInput.size());
    }
    close(in[1]);

    ProcessResult result;
    const auto deadline = std::chrono::steady_clock::now() + options.timeout;
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.standardOutput, &result.standardError};
    int open = (out[0] >= 0 ? 1 : 0) + 1;
    while (open > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            result.timedOut = true;
            kill(pid, SIGKILL);
            break;
        }
        const int ready = poll(fds, 2, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            char buffer[65536];
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(n));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (const auto& fd : fds) {
        if (fd.fd >= 0) close(fd.fd);
    }
    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    result.peakResidentKiB = usage.ru_maxrss;
    if (WIFEXITED(status)) result.exitStatus = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    return result;
}

const std::string& KorrinBinary() {
    static const std::string path = [] {
        const char* named = std::getenv("KORRIN_BINARY");
        return std::string(named != nullptr && named[0] != '\0' ? named : KORRIN_BUILT_BINARY);
    }();
    return path;
}

ProcessResult RunKorrinBinary(const std::vector<std::string>& arguments,
                              const ProcessOptions& options) {
    std::vector<std::string> all{KorrinBinary()};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return RunProcess(all, options);
}

bool NetworkIsolationAvailable() {
    ProcessOptions options;
    options.isolatedNetwork = true;
    return RunProcess({"/bin/true"}, options).exitStatus == 0;
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "korrin-test-XXXXXX").string();
    Check(mkdtemp(pattern.data()) != nullptr, "mkdtemp");
    path = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

bool FileExists(const std::string& path) {
    struct stat info = {};
    return stat(path.c_str(), &info) == 0;
}

int ThreadCount() {
    int count = 0;
    const std::unique_ptr<DIR, int (*)(DIR*)> tasks(opendir("/proc/self/task"), &closedir);
    if (!tasks) return -1;
    while (const dirent* entry = readdir(tasks.get())) {
        if (entry->d_name[0] != '.') ++count;
    }
    return count;
}

}  // namespace korrin::test
