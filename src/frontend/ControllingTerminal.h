#pragma once

#include <string_view>

namespace korrin {

// The process's controlling terminal (/dev/tty), opened for one key wait.
class ControllingTerminal {
  public:
    ControllingTerminal();
    ~ControllingTerminal();
    ControllingTerminal(const ControllingTerminal&) = delete;
    ControllingTerminal& operator=(const ControllingTerminal&) = delete;

    // -1 when the process has no controlling terminal.
    int Fd() const { return fd; }

    // Whether the process is in the terminal's foreground process group: only then is the
    // terminal's input the process's to read, and its settings the process's to change.
    bool InForeground() const;

    // Writes all of text, going on after a signal; gives up on a failure.
    void Write(std::string_view text) const;

  private:
    int fd;  // owned
};

}  // namespace korrin
