#pragma once

#include <termios.h>

#include "frontend/ControllingTerminal.h"

namespace korrin {

// Key mode on the terminal (no line editing, no echo, no flow control, so that Ctrl-S and Ctrl-Q
// are keys like the others rather than freezing the screen; Ctrl-C and the like still send their
// signals), entered and left as often as the wait is stopped and continued; left when the object
// goes. Reads return at once (VMIN 0), so that a read never blocks with the signals held back;
// the wait sleeps in ppoll() instead.
class KeyMode {
  public:
    explicit KeyMode(const ControllingTerminal& theTerminal) : terminal(theTerminal) {}
    ~KeyMode() { Leave(); }
    KeyMode(const KeyMode&) = delete;
    KeyMode& operator=(const KeyMode&) = delete;

    // Takes the terminal's present settings as those to put back, unless they are still the key
    // mode of an earlier Enter (a stop that the wait could not see coming, SIGSTOP, left them),
    // and switches to key mode. False when the terminal cannot be switched.
    bool Enter();

    // Puts the settings from before back. A process that is no longer in the foreground does so
    // only while the terminal still has the key mode set here: once the job that took the
    // terminal over (the shell) has set its own, they are left alone.
    void Leave();

    bool Active() const { return active; }

  private:
    const ControllingTerminal& terminal;
    bool active = false;
    termios settingsBefore{};
    bool haveKeySettings = false;
    termios keySettings{};  // as the terminal reported them after the switch
};

}  // namespace korrin
