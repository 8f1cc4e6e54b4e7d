#pragma once

#include <signal.h>

namespace korrin {

// For its lifetime, blocks every signal that can be blocked in the calling thread, so that a
// thread started meanwhile (libcurl's name lookups, the checksum worker) inherits a mask that
// takes none: the process's signals then go to the thread that started the download, whose
// handlers decide on them, so that of two signals sent together the one taken first decides,
// and no handler runs in two threads at once. The mask from before comes back when the object
// goes; a signal that arrived meanwhile is taken then.
class HeldSignals {
  public:
    HeldSignals();
    ~HeldSignals();
    HeldSignals(const HeldSignals&) = delete;
    HeldSignals& operator=(const HeldSignals&) = delete;

  private:
    sigset_t before{};
    bool held = false;
};

}  // namespace korrin
