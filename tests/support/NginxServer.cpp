#include "support/NginxServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "support/Loopback.h"

extern char** environ;

namespace korrin::test {

namespace {
const char* const nginxBinary = "/usr/sbin/nginx";
}

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
        "pid " + prefix + "/nginx.pid;\nerror_log " + prefix + "/error.log warn;\n"
        "events { worker_connections 64; }\n"
        "http {\n  access_log off;\n  default_type application/octet-stream;\n"
        "  client_body_temp_path " + prefix + "/tmp/body;\n  proxy_temp_path " + prefix + "/tmp/proxy;\n"
        "  fastcgi_temp_path " + prefix + "/tmp/fastcgi;\n  uwsgi_temp_path " + prefix + "/tmp/uwsgi;\n"
        "  scgi_temp_path " + prefix + "/tmp/scgi;\n"
        "  server {\n    " + listen + ";\n    server_name localhost;\n    root " + prefix + "/html;\n" +
        tlsDirectives + config.serverDirectives + "\n  }\n}\n";
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

    pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        execve(nginxBinary, argv.data(), envp.data());
        _exit(127);
    }
}

NginxServer::~NginxServer() {
    if (pid > 0) {
        kill(pid, SIGTERM);
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    if (listenFd >= 0) close(listenFd);
}

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
