#include "support/LighttpdServer.h"

#include <sys/stat.h>

#include "support/PasswordFiles.h"

namespace korrin::test {

namespace {
const char* const lighttpdBinary = "/usr/sbin/lighttpd";
}  // namespace

LighttpdServer::LighttpdServer() : port(ServerProcess::FreePort("127.0.0.2")) {
    const std::string root = folder.Path();
    mkdir((root + "/html").c_str(), 0755);
    WriteDigestPasswordFile(root + "/digest.passwd", userName, "korrin digest", password);
    const std::string conf = root + "/lighttpd.conf";
    WriteFile(conf,
              ServerProcess::FilledTemplate("lighttpd/lighttpd.conf",
                                            {{"ROOT", root}, {"PORT", std::to_string(port)}}));
    process = std::make_unique<ServerProcess>(
        "lighttpd", std::vector<std::string>{lighttpdBinary, "-D", "-f", conf},
        std::vector<ServerProcess::Endpoint>{{"127.0.0.2", port}}, root + "/error.log");
}

std::string LighttpdServer::Url(const std::string& path) const {
    return "http://127.0.0.2:" + std::to_string(port) + path;
}

std::string LighttpdServer::AccessLog(std::size_t lines) const {
    return ServerProcess::WhenLines(folder.Path() + "/access.log", lines);
}

}  // namespace korrin::test
