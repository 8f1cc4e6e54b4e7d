// Any byte string as a server's answer: a thread of this process serves the bytes on a loopback
// port to every connection, and DownloadFile fetches from it into a file, with the credentials
// set so that authentication rounds are taken too. The transfer must end (the server closes after
// sending, and the time-outs are short) and must neither fault nor leak.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>

#include "support/Loopback.h"
#include "transfer/DownloadFile.h"

namespace {

// How long the server waits for a request's header block before it answers anyway.
constexpr int requestWaitMs = 1000;

void ServeOne(int client, const std::string& answer) {
    std::string request;
    while (request.find("\r\n\r\n") == std::string::npos) {
        pollfd ready{client, POLLIN, 0};
        if (poll(&ready, 1, requestWaitMs) <= 0) break;
        char buffer[4096];
        const ssize_t n = recv(client, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        request.append(buffer, static_cast<std::size_t>(n));
    }
    std::size_t sent = 0;
    while (sent < answer.size()) {
        const ssize_t n = send(client, answer.data() + sent, answer.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += static_cast<std::size_t>(n);
    }
    shutdown(client, SHUT_WR);
    close(client);
}

// Answers every connection with answer until stopFd becomes readable.
void Serve(int listenFd, int stopFd, const std::string& answer) {
    while (true) {
        pollfd fds[2] = {{listenFd, POLLIN, 0}, {stopFd, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) continue;
        if (fds[1].revents != 0) return;
        const int client = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (client >= 0) ServeOne(client, answer);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A failure to bind throws, which ends the run.
    static const korrin::test::BoundSocket listener = korrin::test::BindLoopback(16);
    static const std::string outputPath =
        "/tmp/korrin-fuzz-response-" + std::to_string(getpid()) + ".out";
    if (size == 0) return 0;

    // The first byte picks the job's switches; the rest is the answer.
    const std::uint8_t switches = data[0];
    const std::string answer(reinterpret_cast<const char*>(data + 1), size - 1);

    int stop[2];
    if (pipe(stop) != 0) std::abort();
    std::thread server(Serve, listener.fd, stop[0], std::cref(answer));

    std::string errorText;
    korrin::DownloadJob job;
    job.server = "127.0.0.1";
    job.port = listener.port;
    job.object = "/fuzz";
    if ((switches & 1) != 0) {
        job.userName = "user";
        job.password = "password";
    }
    job.showHeaders = (switches & 2) != 0;
    job.outputPath = outputPath;
    job.errorText = &errorText;
    job.agent = "korrin-fuzz";
    korrin::DownloadEnvironment environment;
    environment.session.connectTimeout = std::chrono::seconds(1);
    environment.session.stallTimeout = std::chrono::seconds(2);
    environment.console = nullptr;
    const std::int32_t result = korrin::DownloadFile(job, environment);
    if (result < -1 || result == 0 || result > 999) std::abort();

    (void)!write(stop[1], "x", 1);
    server.join();
    close(stop[0]);
    close(stop[1]);
    unlink(outputPath.c_str());
    return 0;
}
