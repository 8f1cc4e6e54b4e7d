#include "frontend/KeyWait.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <string>

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

// The wait's terminal and its settings before the wait, for the signal handlers. settingsBefore
// is written before waitingTerminal names the terminal, and not changed while it does.
volatile sig_atomic_t waitingTerminal = -1;
termios settingsBefore{};

// The signals whose default action ends the process and which a user or the system sends to a
// waiting console program.
constexpr int endingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// Puts the terminal back as it was, then lets the signal do what it would have done without
// this handler: end the process.
void RestoreTerminalAndReraise(int signalNumber) {
    const int tty = waitingTerminal;
    if (tty >= 0) ::tcsetattr(tty, TCSANOW, &settingsBefore);
    struct sigaction defaultAction {};
    defaultAction.sa_handler = SIG_DFL;
    sigemptyset(&defaultAction.sa_mask);
    ::sigaction(signalNumber, &defaultAction, nullptr);
    // The signal is blocked while its handler runs: raised now, it is delivered when unblocked.
    ::raise(signalNumber);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signalNumber);
    ::sigprocmask(SIG_UNBLOCK, &only, nullptr);
}

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

private:
    int fd;  // owned; -1 when the process has no controlling terminal
};

// The handlers of endingSignals for the length of one wait; the earlier dispositions come back
// when the object goes. A signal that the process ignores stays ignored (nohup, background jobs
// of a shell without job control).
class SignalHandlers {
public:
    SignalHandlers() {
        for (std::size_t i = 0; i < std::size(endingSignals); ++i) {
            struct sigaction handler {};
            handler.sa_handler = RestoreTerminalAndReraise;
            sigemptyset(&handler.sa_mask);
            // Every ending signal waits while one of them restores the terminal.
            for (const int other : endingSignals) sigaddset(&handler.sa_mask, other);
            installed[i] = ::sigaction(endingSignals[i], nullptr, &before[i]) == 0 &&
                           before[i].sa_handler != SIG_IGN &&
                           ::sigaction(endingSignals[i], &handler, nullptr) == 0;
        }
    }
    ~SignalHandlers() {
        for (std::size_t i = 0; i < std::size(endingSignals); ++i) {
            if (installed[i]) ::sigaction(endingSignals[i], &before[i], nullptr);
        }
    }
    SignalHandlers(const SignalHandlers&) = delete;
    SignalHandlers& operator=(const SignalHandlers&) = delete;

private:
    struct sigaction before[std::size(endingSignals)]{};
    bool installed[std::size(endingSignals)] = {};
};

// The terminal in key mode (no line editing, no echo; Ctrl-C and the like still send their
// signals) for the length of one wait; the settings from before come back when the object goes.
class KeyMode {
public:
    explicit KeyMode(int tty) : tty(tty) {
        termios keyMode = settingsBefore;
        keyMode.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | IEXTEN);
        keyMode.c_cc[VMIN] = 1;
        keyMode.c_cc[VTIME] = 0;
        active = ::tcsetattr(tty, TCSANOW, &keyMode) == 0;
    }
    ~KeyMode() {
        ::tcsetattr(tty, TCSANOW, &settingsBefore);
        waitingTerminal = -1;
    }
    KeyMode(const KeyMode&) = delete;
    KeyMode& operator=(const KeyMode&) = delete;
    bool Active() const { return active; }

private:
    int tty;
    bool active = false;
};

// Reads the bytes of one key press. The first byte may take as long as the user likes; each
// further byte of the same key must arrive within nextKeyByteWindowMs.
void ReadKeyPress(int tty) {
    std::string bytes;
    char byte = 0;
    for (;;) {
        const ssize_t n = ::read(tty, &byte, 1);
        if (n == 1) break;
        if (n < 0 && errno == EINTR) continue;
        return;  // the terminal has hung up
    }
    bytes.push_back(byte);
    while (!KeyPressComplete(bytes)) {
        pollfd ready{tty, POLLIN, 0};
        const int count = ::poll(&ready, 1, nextKeyByteWindowMs);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0 || (ready.revents & POLLIN) == 0) return;
        if (::read(tty, &byte, 1) != 1) return;
        bytes.push_back(byte);
    }
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
    const auto showPrompt = [prompt] {
        std::fwrite(prompt.data(), 1, prompt.size(), stdout);
        std::fflush(stdout);
    };
    const Terminal terminal;
    if (terminal.Fd() < 0 || ::tcgetattr(terminal.Fd(), &settingsBefore) != 0) {
        showPrompt();
        return;
    }
    waitingTerminal = terminal.Fd();
    // The handlers come before the switch to key mode and go after the switch back, so that no
    // signal can end the process while the terminal is in key mode.
    const SignalHandlers handlers;
    const KeyMode keyMode(terminal.Fd());
    showPrompt();
    if (keyMode.Active()) ReadKeyPress(terminal.Fd());
}

}  // namespace korrin
