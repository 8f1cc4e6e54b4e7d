#pragma once

// Answers that libcurl 7.88 takes and later versions refuse, asked of the libcurl in use (the
// one the built binary loads too), so that a test expects what that libcurl does. Each refusal
// fails the transfer as an answer that is not valid HTTP (or, for the header count, as headers
// too large to read).

namespace korrin::test {

// A status line with more than one blank between the version and the status code
// ("HTTP/1.0  200 OK"): refused from libcurl 8.0 on.
bool LibcurlRefusesBlanksAfterTheVersion();

// A Content-Length with a plus sign ("+5"): refused from libcurl 8.13 on, whatever the status.
bool LibcurlRefusesASignedContentLength();

// More than 5,000 header lines in one answer: refused from libcurl 8.14 on.
bool LibcurlRefusesManyHeaderLines();

}  // namespace korrin::test
