#include "frontend/KeyMode.h"

#include <cstring>

namespace korrin {

namespace {

bool SameSettings(const termios& a, const termios& b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

}  // namespace

bool KeyMode::Enter() {
    termios current{};
    if (::tcgetattr(terminal.Fd(), &current) != 0) return false;
    if (!haveKeySettings || !SameSettings(current, keySettings)) settingsBefore = current;
    termios wanted = settingsBefore;
    wanted.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | IEXTEN);
    wanted.c_iflag &= ~static_cast<tcflag_t>(IXON);
    wanted.c_cc[VMIN] = 0;
    wanted.c_cc[VTIME] = 0;
    if (::tcsetattr(terminal.Fd(), TCSANOW, &wanted) != 0) return false;
    haveKeySettings = ::tcgetattr(terminal.Fd(), &keySettings) == 0;
    active = true;
    return true;
}

void KeyMode::Leave() {
    if (!active) return;
    active = false;
    termios current{};
    const bool stillKeyMode = haveKeySettings && ::tcgetattr(terminal.Fd(), &current) == 0 &&
                              SameSettings(current, keySettings);
    if (terminal.InForeground() || stillKeyMode) {
        ::tcsetattr(terminal.Fd(), TCSANOW, &settingsBefore);
    }
}

}  // namespace korrin
