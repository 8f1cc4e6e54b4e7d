#include "support/PasswordFiles.h"

#include <openssl/evp.h>

#include <cstdio>
#include <stdexcept>

#include "support/Process.h"

namespace korrin::test {

void WriteBasicPasswordFile(const std::string& path, const std::string& userName,
                            const std::string& password) {
    const ProcessResult run =
        RunProcess({"/usr/bin/htpasswd", "-c", "-b", "-m", path, userName, password});
    if (run.exitStatus != 0) throw std::runtime_error("htpasswd failed: " + run.standardError);
}

void WriteDigestPasswordFile(const std::string& path, const std::string& userName,
                             const std::string& realm, const std::string& password) {
    const std::string secret = userName + ":" + realm + ":" + password;
    unsigned char hash[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_Digest(secret.data(), secret.size(), hash, &size, EVP_md5(), nullptr) != 1)
        throw std::runtime_error("MD5 failed");
    std::string hex;
    for (unsigned int i = 0; i < size; ++i) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02x", hash[i]);
        hex += digits;
    }
    WriteFile(path, userName + ":" + realm + ":" + hex + "\n");
}

}  // namespace korrin::test
