#include "frontend/KeyWait.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "frontend/ControllingTerminal.h"
#include "frontend/KeyMode.h"
#include "frontend/WaitSignals.h"

namespace korrin {

namespace {

// How long the next byte of a key's sequence may take to arrive. A terminal writes the whole
// sequence of a key at once, so its bytes are normally waiting already; the bound covers a slow
// link (ssh) and is what a lone Escape key costs. 100 ms is far below a human's time between two
// key presses.
constexpr int nextKeyByteWindowMs = 100;

enum class KeyRead { key, nothing, failed };

// Reads the bytes of one key press, after ppoll() has found input. Each further byte of the same
// key must arrive within nextKeyByteWindowMs.
KeyRead ReadKeyPress(int tty) {
    std::string bytes;
    char byte = 0;
    const ssize_t n = ::read(tty, &byte, 1);
    if (n == 0) return KeyRead::nothing;  // another reader of the terminal was quicker
    if (n < 0) return errno == EINTR || errno == EAGAIN ? KeyRead::nothing : KeyRead::failed;
    bytes.push_back(byte);
    while (!KeyPressComplete(bytes)) {
        pollfd ready{tty, POLLIN, 0};
        const int count = ::poll(&ready, 1, nextKeyByteWindowMs);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0 || (ready.revents & POLLIN) == 0) break;
        if (::read(tty, &byte, 1) != 1) break;
        bytes.push_back(byte);
    }
    return KeyRead::key;
}

// Writes text to standard output, at once.
void WritePrompt(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

// What one sleep of the wait found on the terminal, once no signal asked for more.
enum class Input {
    none,  // nothing that ends the wait (no input, or input that is not the process's to read)
    key,   // a key press, read whole
    gone,  // the terminal hung up or cannot be read
};

// Sleeps until the terminal has input or a handler wakes the wait, with the wait's mask. Returns
// ppoll()'s count, with errno as ppoll() left it.
int Sleep(const ControllingTerminal& terminal, const WaitSignals& signals, pollfd& input,
          int& sleepErrno) {
    pollfd fds[2] = {{terminal.Fd(), POLLIN, 0}, {signals.WakeFd(), POLLIN, 0}};
    const int ready = ::ppoll(fds, signals.WakeFd() >= 0 ? 2 : 1, nullptr, signals.WaitMask());
    sleepErrno = errno;
    input = fds[0];
    return ready;
}

Input TakeInput(const ControllingTerminal& terminal, int ready, int sleepErrno,
                const pollfd& input) {
    if (ready < 0) return sleepErrno == EINTR ? Input::none : Input::gone;
    if ((input.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) return Input::gone;
    if ((input.revents & POLLIN) == 0 || !terminal.InForeground()) return Input::none;
    const KeyRead read = ReadKeyPress(terminal.Fd());
    if (read == KeyRead::key) return Input::key;
    if (read == KeyRead::failed && terminal.InForeground()) return Input::gone;
    return Input::none;
}

// Waits for the key with the signals of the wait in place; returns the ending signal that
// arrived, or 0. The terminal is in key mode only while the process is in the foreground: the
// wait leaves it (putting the settings back) before a stop, when it finds itself continued in the
// background, and on every way out. Continued in the foreground, it switches to key mode again
// and writes the last line of the prompt to the terminal once more, since the shell's report of
// the stop and of fg has pushed it out of sight. The whole prompt goes to standard output once:
// as soon as key mode is first in place, so that a key pressed when it shows is never echoed, or
// on the way out when it never was.
int WaitInKeyMode(const ControllingTerminal& terminal, WaitSignals& signals,
                  std::string_view prompt) {
    KeyMode keyMode(terminal);
    bool prompted = false;
    bool resumed = false;  // continued after a stop: key mode and the prompt's line again
    int endedBy = 0;
    // Checked again after every wake: a job may have been stopped and continued in the
    // background, or moved there by another process of the session.
    while (terminal.InForeground()) {
        if (!keyMode.Active()) {
            if (!keyMode.Enter()) break;
            if (resumed) terminal.Write(LastLine(prompt));
        }
        if (!prompted) WritePrompt(prompt);
        prompted = true;
        resumed = false;

        pollfd input{};
        int sleepErrno = 0;
        const int ready = Sleep(terminal, signals, input, sleepErrno);
        const WaitSignals::Event event = signals.TakeEvent();
        if (event == WaitSignals::Event::ending) {
            endedBy = signals.EndingSignal();
            break;
        }
        if (event == WaitSignals::Event::stop || event == WaitSignals::Event::continued) {
            // After a stop (also one by SIGSTOP, which shows only as its SIGCONT) the shell may
            // have put its own settings in place, and the job may be in the background now.
            keyMode.Leave();
            if (event == WaitSignals::Event::stop) signals.StopAsCtrlZWould();
            resumed = true;
            continue;
        }
        if (TakeInput(terminal, ready, sleepErrno, input) != Input::none) break;
    }
    if (!prompted) WritePrompt(prompt);
    return endedBy;
}

// Whether fd is the process's controlling terminal. /dev/tty is a device of its own, so the test
// is whether fd's terminal is the one that controls the process's session.
bool IsControllingTerminal(int fd) { return ::isatty(fd) == 1 && ::tcgetsid(fd) == ::getsid(0); }

// Whether a person can answer the pause: standard input and standard output are both the
// controlling terminal, and the process is in its foreground process group. Where either is
// redirected (a script, a log), or the job runs in the background, nobody reads the prompt there
// and nobody types the key, so the wait would only hold up whatever runs the program.
bool PersonAtTheTerminal() {
    return IsControllingTerminal(STDIN_FILENO) && IsControllingTerminal(STDOUT_FILENO) &&
           ::tcgetpgrp(STDIN_FILENO) == ::getpgrp();
}

}  // namespace

void WaitForKeyPress(std::string_view prompt) {
    // Standard output keeps its bytes in every case; only the waiting depends on who is there.
    if (!PersonAtTheTerminal()) {
        WritePrompt(prompt);
        return;
    }
    const ControllingTerminal terminal;
    if (terminal.Fd() < 0 || !terminal.InForeground()) {
        WritePrompt(prompt);
        return;
    }
    int endedBy = 0;
    {
        WaitSignals signals;
        endedBy = WaitInKeyMode(terminal, signals, prompt);
    }
    // The terminal is restored and the dispositions are back: the signal now does what it would
    // have done without the wait. The wait took it, so it is let through also where the process
    // was started with it blocked.
    if (endedBy != 0) {
        sigset_t only;
        sigemptyset(&only);
        sigaddset(&only, endedBy);
        ::pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
        ::raise(endedBy);
    }
}

}  // namespace korrin
