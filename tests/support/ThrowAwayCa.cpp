#include "support/ThrowAwayCa.h"

#include <sys/stat.h>

#include <stdexcept>
#include <vector>

#include "support/Process.h"

namespace korrin::test {

namespace {
void Openssl(const std::vector<std::string>& arguments) {
    std::vector<std::string> command{"/usr/bin/openssl"};
    command.insert(command.end(), arguments.begin(), arguments.end());
    const ProcessResult run = RunProcess(command);
    if (run.exitStatus != 0)
        throw std::runtime_error("openssl " + arguments.front() + " failed: " + run.standardError);
}
}  // namespace

ThrowAwayCa::ThrowAwayCa(const std::string& folder)
    : caFile(folder + "/ca.pem"),
      certificateFile(folder + "/server.pem"),
      keyFile(folder + "/server.key") {
    const std::string caKey = folder + "/ca.key";
    const std::string request = folder + "/server.csr";
    const std::string extensions = folder + "/server.ext";
    // P-256 keys: made in milliseconds, where RSA keys take a noticeable part of a second.
    const std::vector<std::string> newKey{"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256",
                                          "-nodes"};
    std::vector<std::string> ca{"req", "-x509"};
    ca.insert(ca.end(), newKey.begin(), newKey.end());
    ca.insert(ca.end(), {"-keyout", caKey, "-out", caFile, "-subj", "/CN=korrin throw-away CA",
                         "-days", "2", "-addext", "basicConstraints=critical,CA:TRUE", "-addext",
                         "keyUsage=critical,keyCertSign,cRLSign"});
    Openssl(ca);
    std::vector<std::string> server{"req"};
    server.insert(server.end(), newKey.begin(), newKey.end());
    server.insert(server.end(), {"-keyout", keyFile, "-out", request, "-subj", "/CN=127.0.0.1"});
    Openssl(server);
    WriteFile(extensions,
              "subjectAltName=IP:127.0.0.1,IP:127.0.0.2\nbasicConstraints=CA:FALSE\n"
              "extendedKeyUsage=serverAuth\n");
    Openssl({"x509", "-req", "-in", request, "-CA", caFile, "-CAkey", caKey, "-CAcreateserial",
             "-out", certificateFile, "-days", "2", "-extfile", extensions});
    // Readable whichever user a server reads it as.
    chmod(keyFile.c_str(), 0644);
}

}  // namespace korrin::test
