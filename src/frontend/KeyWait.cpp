#include "frontend/KeyWait.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>

#include "frontend/SignalRules.h"

namespace korrin {

namespace {

constexpr unsigned char escapeByte = 0x1B;

// No key sends more than this; a longer run of bytes is cut off as one key press.
constexpr std::size_t longestKeySequence = 32;

// How long the next byte of a key's sequence may take to arrive. A terminal writes the whole
// sequence of a key at once, so its bytes are normally waiting already; the bound covers a slow
// link (ssh) and is what a lone Escape key costs. 100 ms is far below a human's time between two
// key presses.
constexpr int nextKeyByteWindowMs = 100;

unsigned char Byte(char c) { return static_cast<unsigned char>(c); }

// The number of bytes of a UTF-8 sequence that begins with lead; 1 for a byte that cannot begin
// one.
std::size_t Utf8SequenceLength(unsigned char lead) {
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    return 1;
}

// bytes begins with a character, not with ESC.
bool CharacterComplete(std::string_view bytes) {
    if (bytes.size() >= Utf8SequenceLength(Byte(bytes[0]))) return true;
    for (std::size_t i = 1; i < bytes.size(); ++i) {
        // Not a continuation byte: the sequence was broken off, nothing more belongs to it.
        if ((Byte(bytes[i]) & 0xC0) != 0x80) return true;
    }
    return false;
}

// The signal that arrived during the wait, for the wait to act on. The handlers only record and
// wake the wait; in the waiting thread they run only while it sleeps in ppoll(), since every
// handled signal is blocked elsewhere during the wait, so the wait acts on them at a point of its
// own choosing. (Another thread of the process, such as a name lookup that the download left
// behind, may take a signal at any time: the wake-up pipe makes the wait notice it.)
volatile sig_atomic_t endingSignal = 0;  // a signal whose rule is DuringPause::endsProcess
volatile sig_atomic_t stopAsked = 0;     // SIGTSTP (Ctrl-Z) arrived
volatile sig_atomic_t continued = 0;     // SIGCONT arrived
volatile sig_atomic_t waitWakeDescriptor = -1;

void WakeTheWait() {
    const int fd = waitWakeDescriptor;
    if (fd >= 0) {
        const char byte = 1;
        (void)!::write(fd, &byte, 1);
    }
}

void RecordEndingSignal(int signalNumber) {
    const int savedErrno = errno;
    if (endingSignal == 0) endingSignal = signalNumber;
    WakeTheWait();
    errno = savedErrno;
}

void RecordStop(int /*signalNumber*/) {
    const int savedErrno = errno;
    stopAsked = 1;
    WakeTheWait();
    errno = savedErrno;
}

void RecordContinue(int /*signalNumber*/) {
    const int savedErrno = errno;
    continued = 1;
    WakeTheWait();
    errno = savedErrno;
}

using SignalHandler = void (*)(int);

SignalHandler HandlerFor(DuringPause action) {
    switch (action) {
        case DuringPause::endsProcess:
            return RecordEndingSignal;
        case DuringPause::stopsProcess:
            return RecordStop;
        case DuringPause::resumesWait:
            return RecordContinue;
        case DuringPause::asUsual:
            break;
    }
    return nullptr;
}

// The signal handling of one wait, from construction to destruction, by the rules of
// SignalRules():
// - each signal with a DuringPause action gets the handler that records it, except one that the
//   process was started with ignored (nohup, background jobs of a shell without job control):
//   that stays ignored;
// - those signals are blocked except inside ppoll() with WaitMask();
// - SIGTTOU and SIGTTIN are blocked throughout, so that a terminal call made while the process
//   is not (or no longer) in the terminal's foreground process group never stops it: changing
//   the settings then goes through, and reading fails with EIO.
// The dispositions and the signal mask from before come back when the object goes; a signal
// that is pending then takes its own course (an ending signal ends the process).
class WaitSignals {
  public:
    WaitSignals() {
        endingSignal = 0;
        stopAsked = 0;
        continued = 0;
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) == 0) {
            wakeRead = ends[0];
            wakeWrite = ends[1];
            waitWakeDescriptor = wakeWrite;
        }
        sigset_t block;
        sigemptyset(&block);
        sigaddset(&block, SIGTTOU);
        sigaddset(&block, SIGTTIN);
        for (const SignalRule& rule : SignalRules()) {
            if (rule.pause != DuringPause::asUsual) sigaddset(&block, rule.signalNumber);
        }
        ::sigprocmask(SIG_BLOCK, &block, &maskBefore);
        waitMask = maskBefore;
        sigaddset(&waitMask, SIGTTOU);
        sigaddset(&waitMask, SIGTTIN);
        for (const SignalRule& rule : SignalRules()) {
            if (rule.pause != DuringPause::asUsual) Install(rule.signalNumber, rule.pause);
        }
    }
    ~WaitSignals() {
        for (int s = 1; s < NSIG; ++s) {
            if (installed[s]) ::sigaction(s, &before[s], nullptr);
        }
        waitWakeDescriptor = -1;
        ::sigprocmask(SIG_SETMASK, &maskBefore, nullptr);
        if (wakeRead >= 0) ::close(wakeRead);
        if (wakeWrite >= 0) ::close(wakeWrite);
    }
    WaitSignals(const WaitSignals&) = delete;
    WaitSignals& operator=(const WaitSignals&) = delete;

    // The mask to sleep with: the process's own from before the wait, with SIGTTOU and SIGTTIN
    // still blocked.
    const sigset_t* WaitMask() const { return &waitMask; }

    // Readable once a handler has run, in whichever thread; -1 without a pipe.
    int WakeFd() const { return wakeRead; }

    // Empties the wake-up pipe, before the recorded signals are looked at.
    void Drain() const {
        char bytes[64];
        while (wakeRead >= 0 && ::read(wakeRead, bytes, sizeof bytes) > 0) {
        }
    }

    // Stops the process as Ctrl-Z would have without the wait's handler; returns once it has been
    // continued.
    void StopAsCtrlZWould() {
        if (!installed[SIGTSTP]) return;
        ::sigaction(SIGTSTP, &before[SIGTSTP], nullptr);
        ::raise(SIGTSTP);
        sigset_t only;
        sigemptyset(&only);
        sigaddset(&only, SIGTSTP);
        // The pending SIGTSTP is delivered here and stops the process; after SIGCONT it goes on.
        ::sigprocmask(SIG_UNBLOCK, &only, nullptr);
        ::sigprocmask(SIG_BLOCK, &only, nullptr);
        Install(SIGTSTP, DuringPause::stopsProcess);
        // The SIGCONT that ended this stop is taken here, not later as one of its own.
        sigset_t continueSignal;
        sigemptyset(&continueSignal);
        sigaddset(&continueSignal, SIGCONT);
        const timespec none{};
        ::sigtimedwait(&continueSignal, nullptr, &none);
    }

  private:
    void Install(int signalNumber, DuringPause action) {
        struct sigaction handler = {};
        handler.sa_handler = HandlerFor(action);
        sigemptyset(&handler.sa_mask);
        struct sigaction current = {};
        if (::sigaction(signalNumber, nullptr, &current) != 0) return;
        if (!installed[signalNumber]) before[signalNumber] = current;
        if (before[signalNumber].sa_handler == SIG_IGN) return;
        installed[signalNumber] = ::sigaction(signalNumber, &handler, nullptr) == 0;
    }

    sigset_t maskBefore{};
    sigset_t waitMask{};
    int wakeRead = -1;   // owned: the wake-up pipe's read end
    int wakeWrite = -1;  // owned: its write end, written by the handlers
    // By signal number: the disposition from before, for the signals whose handler is installed.
    struct sigaction before[NSIG] = {};
    bool installed[NSIG] = {};
};

// The controlling terminal, opened for one wait.
class Terminal {
  public:
    Terminal() : fd(::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC)) {}
    ~Terminal() {
        if (fd >= 0) ::close(fd);
    }
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;
    int Fd() const { return fd; }

    // Whether the process is in the terminal's foreground process group: only then is the
    // terminal's input the process's to read, and its settings the process's to change.
    bool InForeground() const { return ::tcgetpgrp(fd) == ::getpgrp(); }

    void Write(std::string_view text) const {
        while (!text.empty()) {
            const ssize_t n = ::write(fd, text.data(), text.size());
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return;
            text.remove_prefix(static_cast<std::size_t>(n));
        }
    }

  private:
    int fd;  // owned; -1 when the process has no controlling terminal
};

bool SameSettings(const termios& a, const termios& b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

// Key mode on the terminal (no line editing, no echo, no flow control, so that Ctrl-S and Ctrl-Q
// are keys like the others rather than freezing the screen; Ctrl-C and the like still send their
// signals), entered and left as often as the wait is stopped and continued; left when the object
// goes. Reads return at once (VMIN 0), so that a read never blocks with the signals held back;
// the wait sleeps in ppoll() instead.
class KeyMode {
  public:
    explicit KeyMode(const Terminal& theTerminal) : terminal(theTerminal) {}
    ~KeyMode() { Leave(); }
    KeyMode(const KeyMode&) = delete;
    KeyMode& operator=(const KeyMode&) = delete;

    // Takes the terminal's present settings as those to put back, unless they are still the key
    // mode of an earlier Enter (a stop that the wait could not see coming, SIGSTOP, left them),
    // and switches to key mode. False when the terminal cannot be switched.
    bool Enter() {
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

    // Puts the settings from before back. A process that is no longer in the foreground does so
    // only while the terminal still has the key mode set here: once the job that took the
    // terminal over (the shell) has set its own, they are left alone.
    void Leave() {
        if (!active) return;
        active = false;
        termios current{};
        const bool stillKeyMode = haveKeySettings && ::tcgetattr(terminal.Fd(), &current) == 0 &&
                                  SameSettings(current, keySettings);
        if (terminal.InForeground() || stillKeyMode) {
            ::tcsetattr(terminal.Fd(), TCSANOW, &settingsBefore);
        }
    }

    bool Active() const { return active; }

  private:
    const Terminal& terminal;
    bool active = false;
    termios settingsBefore{};
    bool haveKeySettings = false;
    termios keySettings{};  // as the terminal reported them after the switch
};

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

// The last line of prompt, without the line feed before it.
std::string_view LastLine(std::string_view prompt) {
    const std::size_t lineFeed = prompt.rfind('\n');
    return lineFeed == std::string_view::npos ? prompt : prompt.substr(lineFeed + 1);
}

// Waits for the key with the signals of the wait in place; returns the ending signal that
// arrived, or 0. The terminal is in key mode only while the process is in the foreground: the
// wait leaves it (putting the settings back) before a stop, when it finds itself continued in the
// background, and on every way out. Continued in the foreground, it switches to key mode again
// and writes the last line of the prompt to the terminal once more, since the shell's report of
// the stop and of fg has pushed it out of sight. The whole prompt goes to standard output once:
// as soon as key mode is first in place, so that a key pressed when it shows is never echoed, or
// on the way out when it never was.
int WaitInKeyMode(const Terminal& terminal, WaitSignals& signals, std::string_view prompt) {
    KeyMode keyMode(terminal);
    bool prompted = false;
    bool resumed = false;
    for (;;) {
        // Checked again after every wake: a job may have been stopped and continued in the
        // background, or moved there by another process of the session.
        if (!terminal.InForeground()) break;
        if (!keyMode.Active()) {
            if (!keyMode.Enter()) break;
            if (resumed) terminal.Write(LastLine(prompt));
        }
        if (!prompted) WritePrompt(prompt);
        prompted = true;
        resumed = false;
        pollfd fds[2] = {{terminal.Fd(), POLLIN, 0}, {signals.WakeFd(), POLLIN, 0}};
        const int ready = ::ppoll(fds, signals.WakeFd() >= 0 ? 2 : 1, nullptr, signals.WaitMask());
        const pollfd& input = fds[0];
        signals.Drain();
        if (endingSignal != 0) return endingSignal;
        if (stopAsked != 0) {
            stopAsked = 0;
            keyMode.Leave();
            signals.StopAsCtrlZWould();
            resumed = true;
            continue;
        }
        if (continued != 0) {
            // Stopped by a signal that cannot be caught, and continued: the shell may have put
            // its own settings in place, and the job may be in the background now.
            continued = 0;
            keyMode.Leave();
            resumed = true;
            continue;
        }
        if (ready < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if ((input.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) break;  // hung up
        if ((input.revents & POLLIN) == 0 || !terminal.InForeground()) continue;
        const KeyRead read = ReadKeyPress(terminal.Fd());
        if (read == KeyRead::key) break;
        if (read == KeyRead::failed && terminal.InForeground()) break;
    }
    if (!prompted) WritePrompt(prompt);
    return 0;
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

bool KeyPressComplete(std::string_view bytes) {
    if (bytes.empty()) return false;
    if (bytes.size() >= longestKeySequence) return true;
    if (Byte(bytes[0]) != escapeByte) return CharacterComplete(bytes);
    if (bytes.size() == 1) return false;
    const unsigned char second = Byte(bytes[1]);
    if (second == '[') {
        if (bytes.size() == 2) return false;
        if (bytes[2] == '[') return bytes.size() >= 4;
        const unsigned char last = Byte(bytes.back());
        // A final byte ends the sequence; a byte outside the parameter range means it was none.
        return last >= 0x40 || last < 0x20;
    }
    if (second == 'O') return bytes.size() >= 3;
    // Alt with a key: ESC, then that key's own bytes (which may be a sequence again).
    return KeyPressComplete(bytes.substr(1));
}

void WaitForKeyPress(std::string_view prompt) {
    // Standard output keeps its bytes in every case; only the waiting depends on who is there.
    if (!PersonAtTheTerminal()) {
        WritePrompt(prompt);
        return;
    }
    const Terminal terminal;
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
    // have done without the wait.
    if (endedBy != 0) ::raise(endedBy);
}

}  // namespace korrin
