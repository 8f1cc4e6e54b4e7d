#include "webaccess/TrustedCertificates.h"

#include <dirent.h>

#include <memory>
#include <string_view>

namespace korrin {

namespace {
struct DirCloser {
    void operator()(DIR* listing) const noexcept { ::closedir(listing); }
};
}  // namespace

bool CertificateFoldersReadable(const std::string& folders) {
    std::string_view rest = folders;
    while (!rest.empty()) {
        const auto separator = rest.find(':');
        const std::string folder(rest.substr(0, separator));
        rest =
            separator == std::string_view::npos ? std::string_view() : rest.substr(separator + 1);
        if (folder.empty()) continue;
        const std::unique_ptr<DIR, DirCloser> listing(::opendir(folder.c_str()));
        if (!listing) return false;
    }
    return true;
}

}  // namespace korrin
