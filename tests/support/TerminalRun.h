#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace korrin::test {

// A pseudo-terminal pair; the test keeps the slave open to look at its settings and its input
// queue after the program has gone.
class PseudoTerminal {
  public:
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    // Sets the window size that the program reads with TIOCGWINSZ.
    bool SetColumns(int columns);

    int master = -1;
    int slave = -1;
};

struct TerminalRunOptions {
    std::vector<int> ignoredSignals;  // the program starts with these ignored, as under nohup
    std::vector<int> blockedSignals;  // the program starts with these blocked in its mask
    std::string standardInputPath;    // a file for standard input (/dev/null); empty: the terminal
    std::string standardOutputPath;   // a file for standard output; empty: the terminal
    bool background = false;          // started as a background job of the terminal
};

// korrin running in a session of its own whose controlling terminal is the pseudo-terminal, with
// standard input, standard output and standard error on it (unless standard input or output is a
// file). A stand-in for the shell leads the session and has korrin
// as its child in a process group of its own, the terminal's foreground group unless korrin is
// started as a background job; it moves the terminal between the two groups on request, as job
// control does.
class TerminalRun {
  public:
    TerminalRun(PseudoTerminal& theTerminal, const std::vector<std::string>& arguments,
                const TerminalRunOptions& options = {});
    ~TerminalRun();
    TerminalRun(const TerminalRun&) = delete;
    TerminalRun& operator=(const TerminalRun&) = delete;

    // Reads what the program writes until text has appeared; false when the bound passes first.
    bool WaitForOutput(const std::string& text);
    // Reads what the program writes until it ends; false, with a failure, when it is stopped
    // first, and false when the bound passes first.
    bool WaitForExit();
    // Reads what the program writes until it is stopped; false when it ends or the bound passes
    // first.
    bool WaitForStop();
    // Reads what the program writes until it has been stopped count times in all; false when it
    // ends or the bound passes first.
    bool WaitForStops(int count);
    // After the end: everything that reached the terminal's screen after the first appearance of
    // text (echoes included). A marker written to the slave goes out behind every earlier byte.
    std::string OutputAfter(const std::string& text);
    // Everything read from the terminal so far.
    const std::string& Output() const { return output; }

    // Types bytes at the terminal.
    void Send(const std::string& bytes);
    // Gives the terminal to the program's process group (true), or to the stand-in shell's
    // (false), as fg and bg do; returns once done.
    bool GiveTerminalToProgram(bool program);

    pid_t Pid() const { return pid; }
    int Status() const { return status; }
    bool Started() const { return pid > 0; }
    bool Stopped() const { return stopped; }

  private:
    // One round of reading the master and the program's changes of state; false at the deadline.
    bool ReadUntil(std::chrono::steady_clock::time_point deadline);

    PseudoTerminal& terminal;
    int shellCommands[2] = {-1, -1};  // to the stand-in shell: 'f' or 'b'
    int shellAnswers[2] = {-1, -1};   // from it: one byte per command done
    int states[2] = {-1, -1};  // from the shell: the program's pid, then its changes of state
    pid_t shellPid = -1;
    pid_t pid = -1;
    bool exited = false;
    bool stopped = false;
    int stops = 0;  // stops seen so far
    int status = 0;
    std::string output;
};

}  // namespace korrin::test
