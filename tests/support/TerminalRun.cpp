#include "support/TerminalRun.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "support/Process.h"

extern char** environ;

namespace korrin::test {

namespace {

using namespace std::chrono_literals;

// Far above what any step takes on a busy machine: it trips only on a hang.
constexpr auto bound = 60s;

// The stand-in shell: it leads the session, has the program as its child in a process group of
// its own (so that, as under a real shell, Ctrl-Z can stop it), moves the terminal between the
// two groups on each command byte and answers with one byte, and reports every change of the
// program's state (stopped, continued, ended) as one int on the states pipe, after the
// program's pid. It ends when the test closes the command pipe, killing the program if it is
// still there.
[[noreturn]] void StandInShell(int tty, pid_t program, int commands, int answers, int states) {
    (void)!write(states, &program, sizeof program);
    sigset_t childSignal;
    sigemptyset(&childSignal);
    sigaddset(&childSignal, SIGCHLD);
    sigprocmask(SIG_BLOCK, &childSignal, nullptr);
    const int childEvents = signalfd(-1, &childSignal, SFD_CLOEXEC);
    bool programEnded = false;
    for (;;) {
        pollfd fds[2] = {{commands, POLLIN, 0}, {childEvents, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) continue;
        if (fds[1].revents & POLLIN) {
            signalfd_siginfo info{};
            (void)!read(childEvents, &info, sizeof info);
            int state = 0;
            while (!programEnded &&
                   waitpid(program, &state, WNOHANG | WUNTRACED | WCONTINUED) == program) {
                (void)!write(states, &state, sizeof state);
                programEnded = WIFEXITED(state) || WIFSIGNALED(state);
            }
        }
        if (fds[0].revents & (POLLIN | POLLHUP)) {
            char command = 0;
            if (read(commands, &command, 1) != 1) break;
            tcsetpgrp(tty, command == 'f' ? program : getpgrp());
            (void)!write(answers, &command, 1);
        }
    }
    if (!programEnded) {
        kill(program, SIGKILL);
        waitpid(program, nullptr, 0);
    }
    _exit(0);
}

}  // namespace

PseudoTerminal::PseudoTerminal() {
    master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        ADD_FAILURE() << "no pseudo-terminal: " << std::strerror(errno);
        return;
    }
    slave = open(ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) ADD_FAILURE() << "cannot open the slave: " << std::strerror(errno);
}

PseudoTerminal::~PseudoTerminal() {
    if (slave >= 0) close(slave);
    if (master >= 0) close(master);
}

bool PseudoTerminal::SetColumns(int columns) {
    winsize size{};
    size.ws_row = 24;
    size.ws_col = static_cast<unsigned short>(columns);
    return ioctl(master, TIOCSWINSZ, &size) == 0;
}

TerminalRun::TerminalRun(PseudoTerminal& theTerminal, const std::vector<std::string>& arguments,
                         const TerminalRunOptions& options)
    : terminal(theTerminal) {
    std::vector<std::string> all{KorrinBinary()};
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    argv.reserve(all.size() + 1);
    for (auto& argument : all) argv.push_back(argument.data());
    argv.push_back(nullptr);
    if (pipe2(shellCommands, O_CLOEXEC) != 0 || pipe2(shellAnswers, O_CLOEXEC) != 0 ||
        pipe2(states, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe: " << std::strerror(errno);
        return;
    }

    shellPid = fork();
    if (shellPid == 0) {
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        for (const int s :
             {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGTSTP, SIGTTIN, SIGTTOU, SIGCONT}) {
            signal(s, SIG_DFL);
        }
        if (setsid() < 0 || ioctl(terminal.slave, TIOCSCTTY, 0) != 0) _exit(126);
        const pid_t program = fork();
        if (program == 0) {
            setpgid(0, 0);
            // Taking the terminal from the shell's group needs SIGTTOU out of the way.
            signal(SIGTTOU, SIG_IGN);
            if (!options.background && tcsetpgrp(terminal.slave, getpid()) != 0) _exit(126);
            signal(SIGTTOU, SIG_DFL);
            for (const int s : options.ignoredSignals) signal(s, SIG_IGN);
            sigset_t blocked;
            sigemptyset(&blocked);
            for (const int s : options.blockedSignals) sigaddset(&blocked, s);
            sigprocmask(SIG_BLOCK, &blocked, nullptr);
            int in = terminal.slave;
            if (!options.standardInputPath.empty()) {
                in = open(options.standardInputPath.c_str(), O_RDONLY);
                if (in < 0) _exit(126);
            }
            int out = terminal.slave;
            if (!options.standardOutputPath.empty()) {
                out = open(options.standardOutputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
                if (out < 0) _exit(126);
            }
            dup2(in, 0);
            dup2(out, 1);
            dup2(terminal.slave, 2);
            execve(argv[0], argv.data(), environ);
            _exit(127);
        }
        if (program < 0) _exit(126);
        // The test's ends of the pipes: the command pipe must close when the test closes it.
        for (const int fd : {shellCommands[1], shellAnswers[0], states[0], terminal.master}) {
            close(fd);
        }
        setpgid(program, program);
        signal(SIGTTOU, SIG_IGN);
        StandInShell(terminal.slave, program, shellCommands[0], shellAnswers[1], states[1]);
    }
    if (shellPid < 0) return;
    close(states[1]);
    states[1] = -1;
    pollfd started{states[0], POLLIN, 0};
    if (poll(&started, 1, static_cast<int>(std::chrono::milliseconds(bound).count())) != 1 ||
        read(states[0], &pid, sizeof pid) != sizeof pid) {
        pid = -1;
    }
}

TerminalRun::~TerminalRun() {
    // The shell kills the program, if it is still there, once its command pipe closes.
    if (shellCommands[1] >= 0) close(shellCommands[1]);
    shellCommands[1] = -1;
    if (shellPid > 0) waitpid(shellPid, nullptr, 0);
    for (int* pair : {shellCommands, shellAnswers, states}) {
        for (int i = 0; i < 2; ++i) {
            if (pair[i] >= 0) close(pair[i]);
        }
    }
}

bool TerminalRun::WaitForOutput(const std::string& text) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (output.find(text) == std::string::npos) {
        if (!ReadUntil(deadline)) return false;
    }
    return true;
}

bool TerminalRun::WaitForExit() {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    const int stopsBefore = stops;
    while (!exited) {
        if (stops > stopsBefore) {
            ADD_FAILURE() << "the program was stopped";
            return false;
        }
        if (!ReadUntil(deadline)) return false;
    }
    return true;
}

bool TerminalRun::WaitForStop() {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!stopped) {
        if (exited || !ReadUntil(deadline)) return false;
    }
    return true;
}

std::string TerminalRun::OutputAfter(const std::string& text) {
    const std::string marker = "<end of run>";
    (void)!write(terminal.slave, marker.data(), marker.size());
    EXPECT_TRUE(WaitForOutput(marker));
    const std::size_t start = output.find(text);
    if (start == std::string::npos) return output;
    const std::size_t from = start + text.size();
    return output.substr(from, output.find(marker, from) - from);
}

void TerminalRun::Send(const std::string& bytes) {
    ASSERT_EQ(write(terminal.master, bytes.data(), bytes.size()),
              static_cast<ssize_t>(bytes.size()));
}

bool TerminalRun::GiveTerminalToProgram(bool program) {
    const char command = program ? 'f' : 'b';
    if (write(shellCommands[1], &command, 1) != 1) return false;
    pollfd answer{shellAnswers[0], POLLIN, 0};
    char done = 0;
    return poll(&answer, 1, static_cast<int>(std::chrono::milliseconds(bound).count())) == 1 &&
           read(shellAnswers[0], &done, 1) == 1;
}

bool TerminalRun::WaitForStops(int count) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (stops < count) {
        if (exited || !ReadUntil(deadline)) return false;
    }
    return true;
}

bool TerminalRun::ReadUntil(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd fds[2] = {{terminal.master, POLLIN, 0}, {states[0], POLLIN, 0}};
    const int ready = poll(fds, 2, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) return true;
    if (ready < 0) return false;
    if (fds[0].revents & POLLIN) {
        char buffer[4096];
        const ssize_t n = read(terminal.master, buffer, sizeof buffer);
        if (n > 0) output.append(buffer, static_cast<std::size_t>(n));
    }
    if (fds[1].revents & POLLIN) {
        int state = 0;
        if (read(states[0], &state, sizeof state) == sizeof state) {
            if (WIFSTOPPED(state)) {
                stopped = true;
                ++stops;
            } else if (WIFCONTINUED(state)) {
                stopped = false;
            } else {
                exited = true;
                status = state;
            }
        }
    }
    return true;
}

}  // namespace korrin::test
