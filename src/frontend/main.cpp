#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "frontend/Run.h"
#include "frontend/StandardDescriptors.h"

int main(int argc, char** argv) {
    // First of all: until 0, 1 and 2 are open, the next file or socket could become one of them.
    // Without them nothing can be reported, and nothing must be fetched.
    if (!korrin::EnsureStandardDescriptors()) return 1;
    // A closed pipe on standard output, or a socket the server closed, is a failed write that
    // the program reports, not a signal that kills it.
    std::signal(SIGPIPE, SIG_IGN);
    // The locale's character encoding, for finding folder separators in argument 0.
    std::setlocale(LC_CTYPE, "");
    std::exit(korrin::RunKorrin(argc, argv));
}
