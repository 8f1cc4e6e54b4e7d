#pragma once

#include <cstdint>
#include <string_view>

namespace korrin {

// Converts the Content-Length text of the response by the rules of atoi: leading white space is
// skipped, one optional '+' or '-' is taken, then decimal digits up to the first non-digit; a text
// without digits gives 0. It receives what CHttpFile::QueryHeaderText gives for
// HTTP_QUERY_CONTENT_LENGTH: the decimal digits of a number that the header block has checked to
// fit in 63 bits, so the result is that number. A text whose digits do not fit in 63 bits is
// outside its contract.
std::int64_t ConvertContentLength(std::string_view text);

}  // namespace korrin
