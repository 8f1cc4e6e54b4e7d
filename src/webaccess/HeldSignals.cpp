#include "webaccess/HeldSignals.h"

#include <pthread.h>

namespace korrin {

HeldSignals::HeldSignals() {
    sigset_t all;
    sigfillset(&all);
    held = ::pthread_sigmask(SIG_BLOCK, &all, &before) == 0;
}

HeldSignals::~HeldSignals() {
    if (held) ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

}  // namespace korrin
