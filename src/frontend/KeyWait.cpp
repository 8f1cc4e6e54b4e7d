#include "frontend/KeyWait.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace korrin {

void WaitForKeyPress() {
    const int tty = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (tty < 0) return;
    termios saved{};
    if (::tcgetattr(tty, &saved) == 0) {
        termios raw = saved;
        raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        ::tcsetattr(tty, TCSANOW, &raw);
        char key = 0;
        (void)::read(tty, &key, 1);
        ::tcsetattr(tty, TCSANOW, &saved);
    }
    ::close(tty);
}

}  // namespace korrin
