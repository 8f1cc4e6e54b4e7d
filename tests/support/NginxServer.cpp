#include "support/NginxServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "support/Loopback.h"

extern char** environ;

namespace korrin::test {

namespace {
const char* const nginxBinary = "/usr/sbin/nginx";
// How long nginx may take to load its configuration. It takes milliseconds; the bound is there so
// that a configuration it refuses fails the test at once, with nginx's own words, instead of
// leaving every download to wait for its time-out.
constexpr std::chrono::seconds startBound{20};
}  // namespace

NginxServer::NginxServer(const Config& config) : tls(!config.certificateFile.empty()) {
    const std::string prefix = folder.Path();
    mkdir((prefix + "/html").c_str(), 0755);
    mkdir((prefix + "/tmp").c_str(), 0755);

    // Inherited by nginx: not closed on exec.
    const BoundSocket bound = BindLoopback(64, "127.0.0.1", 0, true);
    listenFd = bound.fd;
    port = bound.port;

    std::string listen = "listen 127.0.0.1:" + std::to_string(port);
    std::string tlsDirectives;
    if (tls) {
        listen += " ssl";
        tlsDirectives = "ssl_certificate " + config.certificateFile + ";\nssl_certificate_key " +
                        config.keyFile + ";\n";
    }
    const std::string conf =
        "daemon off;\nuser root;\nworker_processes 1;\n"
        "pid " +
        prefix + "/nginx.pid;\nerror_log " + prefix +
        "/error.log warn;\n"
        "events { worker_connections 64; }\n"
        "http {\n  access_log off;\n  default_type application/octet-stream;\n"
        "  client_body_temp_path " +
        prefix + "/tmp/body;\n  proxy_temp_path " + prefix +
        "/tmp/proxy;\n"
        "  fastcgi_temp_path " +
        prefix + "/tmp/fastcgi;\n  uwsgi_temp_path " + prefix +
        "/tmp/uwsgi;\n"
        "  scgi_temp_path " +
        prefix +
        "/tmp/scgi;\n"
        "  server {\n    " +
        listen + ";\n    server_name localhost;\n    root " + prefix + "/html;\n" + tlsDirectives +
        config.serverDirectives + "\n  }\n}\n";
    WriteFile(prefix + "/nginx.conf", conf);

    const std::string inherit = "NGINX=" + std::to_string(listenFd) + ";";
    std::vector<std::string> environment{inherit};
    for (char** entry = environ; *entry != nullptr; ++entry) environment.emplace_back(*entry);
    std::vector<char*> envp;
    for (auto& entry : environment) envp.push_back(entry.data());
    envp.push_back(nullptr);
    const std::string confPath = prefix + "/nginx.conf";
    const std::string errorLogPath = prefix + "/error.log";
    std::vector<std::string> args{nginxBinary, "-p", prefix, "-c", confPath, "-e", errorLogPath};
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);

    // Watched before nginx starts, so that the pid file's writing cannot be missed.
    const int watch = inotify_init1(IN_CLOEXEC);
    if (watch < 0 || inotify_add_watch(watch, prefix.c_str(), IN_CLOSE_WRITE | IN_MOVED_TO) < 0) {
        if (watch >= 0) close(watch);
        close(listenFd);
        throw std::runtime_error("cannot watch the nginx prefix");
    }
    pid = fork();
    if (pid < 0) {
        close(watch);
        close(listenFd);
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        execve(nginxBinary, argv.data(), envp.data());
        _exit(127);
    }
    const std::string failure = WaitUntilStarted(watch, prefix + "/nginx.pid");
    close(watch);
    if (!failure.empty()) {
        Stop();
        throw std::runtime_error(failure + "\n" + ErrorLog());
    }
}

std::string NginxServer::WaitUntilStarted(int watch, const std::string& pidPath) {
    const int ended = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (ended < 0) return "cannot follow nginx's process";
    const auto deadline = std::chrono::steady_clock::now() + startBound;
    std::string failure;
    while (true) {
        struct stat written = {};
        if (stat(pidPath.c_str(), &written) == 0 && written.st_size > 0) break;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd fds[2] = {{watch, POLLIN, 0}, {ended, POLLIN, 0}};
        const int ready = left.count() > 0 ? poll(fds, 2, static_cast<int>(left.count())) : 0;
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) {
            failure = "nginx did not start within " + std::to_string(startBound.count()) + " s";
            break;
        }
        if (fds[1].revents != 0) {
            failure = "nginx ended before its configuration had loaded";
            break;
        }
        // The events only say that something in the prefix was written: look again.
        char events[4096];
        (void)!read(watch, events, sizeof events);
    }
    close(ended);
    return failure;
}

void NginxServer::Stop() {
    if (pid > 0) {
        kill(pid, SIGTERM);
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        pid = -1;
    }
    if (listenFd >= 0) close(listenFd);
    listenFd = -1;
}

NginxServer::~NginxServer() { Stop(); }

NginxServer::Config NginxServer::TlsConfig(const std::string& certificateName) {
    const std::string folder = std::string(KORRIN_TEST_DATA) + "/tls/";
    Config config;
    config.certificateFile = folder + certificateName + ".pem";
    config.keyFile = folder + certificateName + ".key";
    return config;
}

std::string NginxServer::Url(const std::string& path) const {
    return std::string(tls ? "https" : "http") + "://127.0.0.1:" + std::to_string(port) + path;
}

std::string NginxServer::ErrorLog() const { return ReadFile(folder.Path() + "/error.log"); }

}  // namespace korrin::test
