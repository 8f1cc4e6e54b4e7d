#include "support/LibcurlRefusals.h"

#include <curl/curl.h>

namespace korrin::test {

namespace {
bool VersionFrom(unsigned int number) {
    const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
    return info != nullptr && info->version_num >= number;
}
}  // namespace

bool LibcurlRefusesBlanksAfterTheVersion() { return VersionFrom(0x080000); }

bool LibcurlRefusesASignedContentLength() { return VersionFrom(0x080D00); }

bool LibcurlRefusesManyHeaderLines() { return VersionFrom(0x080E00); }

}  // namespace korrin::test
