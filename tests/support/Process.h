#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace korrin::test {

struct ProcessOptions {
    std::string standardInput;             // written to the child's standard input, then closed
    std::string workingDirectory;          // empty: the test's own
    std::chrono::seconds timeout{60};      // the child is killed after this long
    bool closeStandardOutput = false;      // the child's standard output is a pipe closed at once
    std::vector<std::string> environment;  // NAME=value entries added to the child's environment
    // The child runs in a network namespace of its own with no interface up, so that nothing it
    // sends leaves the machine and a name lookup fails at once (see NetworkIsolationAvailable).
    bool isolatedNetwork = false;
    std::vector<int> closedDescriptors;  // closed in the child before it starts (as with >&-)
};

struct ProcessResult {
    int exitStatus = -1;  // the exit status, or -1 when the child was killed by a signal
    int signal = 0;       // the signal that ended the child, or 0
    bool timedOut = false;
    // The child's peak resident memory in KiB (getrusage's ru_maxrss). It includes the forked copy
    // of the test process before the program was started, a few MiB.
    long peakResidentKiB = 0;
    std::string standardOutput;
    std::string standardError;
};

// Runs a program in a new session, so that it has no controlling terminal, with the proxy
// variables and SSL_CERT_FILE and SSL_CERT_DIR removed from its environment. Waits for it to end,
// within the timeout.
ProcessResult RunProcess(const std::vector<std::string>& arguments,
                         const ProcessOptions& options = {});

// Whether this machine lets a child have a network namespace of its own: as root, or through a
// user namespace of its own where those are allowed.
bool NetworkIsolationAvailable();

// The path of the korrin under test: the one that the variable KORRIN_BINARY names when it is set
// and not empty (an installed /usr/bin/korrin, for the package's tests), else the one this build
// made. Every test that starts the program takes its path from here.
const std::string& KorrinBinary();

// Runs korrin with the given arguments (argument 0 is KorrinBinary()).
ProcessResult RunKorrinBinary(const std::vector<std::string>& arguments,
                              const ProcessOptions& options = {});

// A fresh folder for one test's files, removed with everything in it when the object goes.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return path; }
    std::string File(const std::string& name) const { return path + "/" + name; }

  private:
    std::string path;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);
bool FileExists(const std::string& path);

// The threads of this process, as the system lists them; -1 when they cannot be listed.
int ThreadCount();

}  // namespace korrin::test
