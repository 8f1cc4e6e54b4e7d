#include "frontend/ControllingTerminal.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>

namespace korrin {

ControllingTerminal::ControllingTerminal()
    : fd(::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC)) {}

ControllingTerminal::~ControllingTerminal() {
    if (fd >= 0) ::close(fd);
}

bool ControllingTerminal::InForeground() const { return ::tcgetpgrp(fd) == ::getpgrp(); }

void ControllingTerminal::Write(std::string_view text) const {
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        text.remove_prefix(static_cast<std::size_t>(n));
    }
}

}  // namespace korrin
