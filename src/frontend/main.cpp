#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "frontend/Run.h"

int main(int argc, char** argv) {
    // A closed pipe on standard output, or a socket the server closed, is a failed write that
    // the program reports, not a signal that kills it.
    std::signal(SIGPIPE, SIG_IGN);
    // The locale's character encoding, for finding folder separators in argument 0.
    std::setlocale(LC_CTYPE, "");
    std::exit(korrin::RunKorrin(argc, argv));
}
