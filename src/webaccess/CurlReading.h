#pragma once

#include <curl/curl.h>

#include <string>
#include <string_view>
#include <vector>

namespace korrin {

// How the libcurl in use reads the header values that it acts on (a Location, a challenge),
// where its versions differ. libcurl 8.13 changed these readings; the versions before it read as
// 7.88 does.
struct CurlReading {
    // White space around a value, and between the challenges of one header, is any white space
    // (vertical tab, form feed, carriage return and line feed too) before 8.13; from 8.13 only
    // blanks and tabs.
    bool anyWhiteSpace = true;
    // A challenge's scheme name ends at a blank, a comma or the value's end before 8.13; from
    // 8.13 at any character that is not a letter or a digit.
    bool schemeEndsAtNonAlnum = false;
    // A Digest challenge's qop list is read item by item, empty items skipped, before 8.13;
    // from 8.13 the reading stops at an empty item or one longer than 32 characters.
    bool qopStopsAtEmptyOrLongItem = false;

    static CurlReading OfVersion(unsigned int versionNumber) {
        const bool recent = versionNumber >= 0x080d00;
        return {!recent, recent, recent};
    }
    // The reading of the libcurl that the program runs with (not the one it was built with).
    static CurlReading InUse() {
        const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
        return OfVersion(info != nullptr ? info->version_num : LIBCURL_VERSION_NUM);
    }

    bool IsSpace(char c) const {
        return c == ' ' || c == '\t' ||
               (anyWhiteSpace && (c == '\v' || c == '\f' || c == '\r' || c == '\n'));
    }
    // value, as libcurl's header store gives it, as libcurl acts on it: without white space at
    // either end.
    std::string_view Trim(std::string_view value) const {
        while (!value.empty() && IsSpace(value.front())) value.remove_prefix(1);
        while (!value.empty() && IsSpace(value.back())) value.remove_suffix(1);
        return value;
    }
};

// The values of every header named name in the answer to libcurl's latest request, as libcurl
// stored them (curl_easy_header, origin CURLH_HEADER: not those of an interim 1xx answer, of a
// proxy's answer to CONNECT, or trailers), in the order they arrived. Inside the header callback
// these are the headers of the block being received, up to the line being handed over.
std::vector<std::string> LatestHeaderValues(CURL* easy, const char* name);

// Whether libcurl reads the body of an answer with these Transfer-Encoding values in the chunked
// coding: one of the comma-separated codings on any of the lines is "chunked", in any letter
// case, as libcurl reads the list (Curl_build_unencoding_stack).
bool NamesChunkedCoding(const std::vector<std::string>& transferEncodings);

}  // namespace korrin
