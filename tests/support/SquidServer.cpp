#include "support/SquidServer.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/PasswordFiles.h"

namespace korrin::test {

namespace {
const char* const squidBinary = "/usr/sbin/squid";
const char* const basicHelper = "/usr/lib/squid/basic_ncsa_auth";
}  // namespace

SquidServer::SquidServer(std::uint16_t tlsPort) : port(ServerProcess::FreePort("127.0.0.1")) {
    const std::string root = folder.Path();
    WriteBasicPasswordFile(root + "/basic.passwd", userName, password);
    chmod((root + "/basic.passwd").c_str(), 0644);
    // squid leaves root for its own user, and writes its logs and pid file as that user.
    if (const passwd* proxy = getpwnam("proxy")) {
        (void)!chown(root.c_str(), proxy->pw_uid, proxy->pw_gid);
    }
    const std::string conf = root + "/squid.conf";
    WriteFile(conf, ServerProcess::FilledTemplate("squid/squid.conf",
                                                  {{"ROOT", root},
                                                   {"PORT", std::to_string(port)},
                                                   {"TLS_PORT", std::to_string(tlsPort)},
                                                   {"HELPER", basicHelper}}));
    process = std::make_unique<ServerProcess>(
        "squid", std::vector<std::string>{squidBinary, "-N", "-f", conf},
        std::vector<ServerProcess::Endpoint>{{"127.0.0.1", port}}, root + "/cache.log");
}

std::string SquidServer::ProxyUrl(bool withCredentials) const {
    return std::string("http://") + (withCredentials ? "proxyuser:proxy%20secret@" : "") +
           "127.0.0.1:" + std::to_string(port);
}

std::string SquidServer::AccessLog(std::size_t lines) const {
    return ServerProcess::WhenLines(folder.Path() + "/access.log", lines);
}

}  // namespace korrin::test
