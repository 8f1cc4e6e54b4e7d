#pragma once

namespace korrin {

// The whole front end of one run: derives the name and banner, shows the usage screen when no URL
// is given (which ends the process), scans the options, splits the URL, runs the download and
// reports it. Returns the exit status: 0 when the server answered 200 and the body was stored,
// else 1. The values of "-p" are overwritten in arguments once scanned (BlankPasswordArguments).
int RunKorrin(int argumentCount, char* const* arguments);

}  // namespace korrin
