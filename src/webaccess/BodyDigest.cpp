#include "webaccess/BodyDigest.h"

#include <string_view>

namespace korrin {

namespace {

const EVP_MD* MessageDigest(DigestAlgorithm algorithm) {
    return algorithm == DigestAlgorithm::sha256 ? EVP_sha256() : EVP_sha512();
}

}  // namespace

BodyDigest::BodyDigest(std::vector<DigestCheck> checks) {
    running.reserve(checks.size());
    for (DigestCheck& check : checks) {
        EvpMdCtxPtr context(EVP_MD_CTX_new());
        if (!context ||
            EVP_DigestInit_ex(context.get(), MessageDigest(check.algorithm), nullptr) != 1) {
            failed = true;
        }
        running.push_back(Running{std::move(check), std::move(context)});
    }
}

void BodyDigest::Update(const void* data, std::size_t size) noexcept {
    if (failed) return;
    for (Running& r : running) {
        if (EVP_DigestUpdate(r.context.get(), data, size) != 1) failed = true;
    }
}

DigestVerdict BodyDigest::Finish() noexcept {
    if (verdict) return *verdict;
    bool differs = false;
    for (Running& r : running) {
        if (failed) break;
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        if (EVP_DigestFinal_ex(r.context.get(), digest, &length) != 1) {
            failed = true;
            break;
        }
        const std::string_view computed(reinterpret_cast<const char*>(digest), length);
        if (r.check.expected != computed) differs = true;
    }
    verdict = failed ? DigestVerdict::failed
                     : (differs ? DigestVerdict::differs : DigestVerdict::matches);
    return *verdict;
}

}  // namespace korrin
