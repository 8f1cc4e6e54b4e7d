#pragma once

#include <cstdint>
#include <string>

namespace korrin {

// One download, as the front end describes it to the transfer. Handed over by value: the
// transfer works on its own copies, except errorText, which it writes back through.
struct DownloadJob {
    std::string server;      // host name to connect to
    std::uint16_t port = 0;  // TCP port on the server
    std::string object;      // path and query to request
    std::string userName;    // credentials offered when the server asks; may be empty
    std::string password;
    bool showHeaders = false;          // write the response headers into the sink before the body
    std::string outputPath;            // file to write; empty selects standard output
    bool fetchBody = true;             // after a 200 answer, open the sink and copy the body
    std::string* errorText = nullptr;  // the caller's text; receives the failure description
    std::string agent;                 // user-agent text
    bool showProgress = false;         // draw the progress meter on the console
    bool secure = false;               // fetch over TLS (the URL's scheme was https)
};

}  // namespace korrin
