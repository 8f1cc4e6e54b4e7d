#pragma once

#include <openssl/evp.h>

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "webaccess/ContentDigest.h"

namespace korrin {

// Owner of one OpenSSL digest context.
struct EvpMdCtxDeleter {
    void operator()(EVP_MD_CTX* context) const noexcept { EVP_MD_CTX_free(context); }
};
using EvpMdCtxPtr = std::unique_ptr<EVP_MD_CTX, EvpMdCtxDeleter>;

// How a body compares with the checksums its server sent.
enum class DigestVerdict {
    matches,  // every check matches (also when there is none)
    differs,  // at least one check does not match
    failed,   // the digest could not be computed: no verdict on the body
};

// Computes the digests that a response's checks ask for while its body passes, one context per
// check, fed with each piece as it goes by, so the body is never read twice. With no checks it
// holds nothing and costs nothing but an empty loop per piece.
class BodyDigest {
  public:
    explicit BodyDigest(std::vector<DigestCheck> checks);
    BodyDigest(const BodyDigest&) = delete;
    BodyDigest& operator=(const BodyDigest&) = delete;

    // Feeds the next size bytes of the body to every check.
    void Update(const void* data, std::size_t size) noexcept;

    // Ends the body and compares; the verdict is computed once, and every later call returns it.
    DigestVerdict Finish() noexcept;

  private:
    struct Running {
        DigestCheck check;
        EvpMdCtxPtr context;  // owns the check's digest context
    };

    std::vector<Running> running;
    bool failed = false;  // a context could not be made, set up or fed
    std::optional<DigestVerdict> verdict;
};

}  // namespace korrin
