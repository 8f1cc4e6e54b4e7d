#include "frontend/StandardDescriptors.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace korrin {

bool EnsureStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // The lowest free descriptor is taken, and every lower one is open by now: this is fd.
        const int opened = ::open("/dev/null", O_RDONLY);
        if (opened != fd) {
            if (opened >= 0) ::close(opened);
            return false;
        }
    }
    return true;
}

}  // namespace korrin
