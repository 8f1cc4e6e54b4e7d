#pragma once

#include <string>

namespace korrin::test {

// A certificate authority made for one fixture, in folder, and a server certificate that it
// signed for 127.0.0.1 and 127.0.0.2, valid from now for two days. Nothing else trusts it:
// a download trusts it through SSL_CERT_FILE naming CaFile. Throws std::runtime_error, with
// openssl's words, when a step fails.
class ThrowAwayCa {
  public:
    explicit ThrowAwayCa(const std::string& folder);

    const std::string& CaFile() const { return caFile; }
    const std::string& CertificateFile() const { return certificateFile; }
    const std::string& KeyFile() const { return keyFile; }

  private:
    std::string caFile;
    std::string certificateFile;
    std::string keyFile;
};

}  // namespace korrin::test
