#include "support/ApacheServer.h"

#include <sys/stat.h>

#include <filesystem>

#include "support/PasswordFiles.h"

namespace korrin::test {

namespace {
const char* const apacheBinary = "/usr/sbin/apache2";
}  // namespace

ApacheServer::ApacheServer()
    : httpPort(ServerProcess::FreePort("127.0.0.1")),
      httpsPort(ServerProcess::FreePort("127.0.0.2")) {
    const std::string root = folder.Path();
    // apache2's children run as www-data: they must reach the files and the scripts.
    chmod(root.c_str(), 0755);
    mkdir((root + "/html").c_str(), 0755);
    mkdir((root + "/cgi-bin").c_str(), 0755);
    for (const auto& script : std::filesystem::directory_iterator(
             std::filesystem::path(KORRIN_TEST_CONFIGS) / "apache2" / "cgi-bin")) {
        const std::string target = root + "/cgi-bin/" + script.path().filename().string();
        WriteFile(target, ReadFile(script.path().string()));
        chmod(target.c_str(), 0755);
    }
    ca = std::make_unique<ThrowAwayCa>(root);
    WriteBasicPasswordFile(root + "/basic.passwd", userName, password);
    WriteDigestPasswordFile(root + "/digest.passwd", userName, "korrin digest", password);
    const std::string conf = root + "/apache2.conf";
    WriteFile(conf, ServerProcess::FilledTemplate("apache2/apache2.conf",
                                                  {{"ROOT", root},
                                                   {"HTTP_PORT", std::to_string(httpPort)},
                                                   {"HTTPS_PORT", std::to_string(httpsPort)},
                                                   {"CERTIFICATE", ca->CertificateFile()},
                                                   {"KEY", ca->KeyFile()}}));
    process = std::make_unique<ServerProcess>(
        "apache2", std::vector<std::string>{apacheBinary, "-f", conf, "-DFOREGROUND"},
        std::vector<ServerProcess::Endpoint>{{"127.0.0.1", httpPort}, {"127.0.0.2", httpsPort}},
        root + "/error.log");
}

std::string ApacheServer::HttpUrl(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(httpPort) + path;
}

std::string ApacheServer::HttpsUrl(const std::string& path) const {
    return "https://127.0.0.2:" + std::to_string(httpsPort) + path;
}

std::string ApacheServer::AccessLog(std::size_t lines) const {
    return ServerProcess::WhenLines(folder.Path() + "/access.log", lines);
}

std::string ApacheServer::ErrorLog() const { return ReadFile(folder.Path() + "/error.log"); }

}  // namespace korrin::test
