// What the user or the caller hands over, made hostile on purpose: credentials with control
// bytes or without a user name, an argument 0 that spells a header line, a URL that spells a
// terminal's control sequence, and a password that others could read in the process list. Each
// runs the real binary against a scripted server on loopback.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "support/ConsoleTexts.h"
#include "support/Loopback.h"
#include "support/Process.h"
#include "support/ScriptedServer.h"
#include "transfer/DownloadFile.h"

namespace korrin::test {
namespace {

const std::string unsendableText =
    "The user name or password holds a control character and cannot be sent as given.";

std::string AuthorizationLine(const std::string& request) {
    const auto at = request.find("\r\nAuthorization:");
    if (at == std::string::npos) return {};
    return request.substr(at + 2, request.find("\r\n", at + 2) - at - 2);
}

// Answers a request without credentials with a challenge, and one with credentials with 200.
ScriptedServer::Script Challenging(const std::string& challenge) {
    const std::string ask = HttpReply(401, "AUTH PAGE", "WWW-Authenticate: " + challenge + "\r\n");
    return [ask](const std::string& request, ScriptedConnection& connection) {
        connection.Send(AuthorizationLine(request).empty() ? ask : HttpReply(200, "secret body"));
    };
}

const std::string basic = "Basic realm=\"korrin\"";
const std::string digest = "Digest realm=\"korrin\", nonce=\"0123456789abcdef\", qop=\"auth\"";

struct CredentialCase {
    const char* name;
    std::string challenge;
    std::vector<std::string> options;  // the options after the URL, -o added
    // The Authorization line of the second request (all of it for Basic, its start for
    // Digest); empty: the challenge goes unanswered (one request), or, with requests 0, the
    // server is never reached.
    std::string authorization;
    std::size_t requests;
    std::string verdict;  // the console's last line
};

void PrintTo(const CredentialCase& c, std::ostream* out) { *out << c.name; }

class CredentialsOnTheWire : public testing::TestWithParam<CredentialCase> {};

TEST_P(CredentialsOnTheWire, OfferedOnlyWhenSendableAndNamed) {
    const CredentialCase& c = GetParam();
    ScriptedServer server(Challenging(c.challenge));
    TempDir folder;
    std::vector<std::string> arguments{server.Url("/private")};
    arguments.insert(arguments.end(), c.options.begin(), c.options.end());
    arguments.insert(arguments.end(), {"-o", folder.File("out")});
    const ProcessResult run = RunKorrinBinary(arguments);

    const std::vector<std::string> requests = server.Requests();
    ASSERT_EQ(requests.size(), c.requests);
    if (!requests.empty()) {
        EXPECT_EQ(AuthorizationLine(requests[0]), "");
    }
    if (requests.size() == 2) {
        // Basic is the whole line; Digest's line goes on with the server's nonce and a hash.
        const std::string line = AuthorizationLine(requests[1]);
        EXPECT_EQ(c.challenge == basic ? line : line.substr(0, c.authorization.size()),
                  c.authorization)
            << requests[1];
    }
    for (const std::string& request : requests) {
        EXPECT_EQ(request.find("X-Injected"), std::string::npos) << request;
    }
    const bool success = c.verdict == retrievedOk;
    EXPECT_EQ(run.exitStatus, success ? 0 : 1);
    const std::string end = c.verdict + (success ? "" : pause);
    EXPECT_TRUE(
        run.standardOutput.size() >= end.size() &&
        run.standardOutput.compare(run.standardOutput.size() - end.size(), end.size(), end) == 0)
        << run.standardOutput;
    EXPECT_EQ(FileExists(folder.File("out")), success);
}

const std::string refused401 = "Error 401 retrieving file: Bad username or password.\n";
const std::string unsendable = "Error retrieving file: " + unsendableText + "\n";

INSTANTIATE_TEST_SUITE_P(
    Table, CredentialsOnTheWire,
    testing::Values(
        CredentialCase{"PasswordAloneBasic", basic, {"-p", "secret"}, "", 1, refused401},
        CredentialCase{"EmptyUserNameBasic", basic, {"-u", "", "-p", "secret"}, "", 1, refused401},
        CredentialCase{
            "EmptyUserNameDigest", digest, {"-u", "", "-p", "secret"}, "", 1, refused401},
        // "alice:" and "alice:secret" in base64.
        CredentialCase{"UserNameAloneBasic",
                       basic,
                       {"-u", "alice"},
                       "Authorization: Basic YWxpY2U6",
                       2,
                       retrievedOk},
        CredentialCase{"BothBasic",
                       basic,
                       {"-u", "alice", "-p", "secret"},
                       "Authorization: Basic YWxpY2U6c2VjcmV0",
                       2,
                       retrievedOk},
        CredentialCase{"UserNameAloneDigest",
                       digest,
                       {"-u", "alice"},
                       "Authorization: Digest username=\"alice\"",
                       2,
                       retrievedOk},
        CredentialCase{"BothDigest",
                       digest,
                       {"-u", "alice", "-p", "secret"},
                       "Authorization: Digest username=\"alice\"",
                       2,
                       retrievedOk},
        CredentialCase{"HeaderLineInUserNameDigest",
                       digest,
                       {"-u", "alice\r\nX-Injected: 1", "-p", "secret"},
                       "",
                       0,
                       unsendable},
        CredentialCase{"HeaderLineInUserNameBasic",
                       basic,
                       {"-u", "alice\r\nX-Injected: 1", "-p", "secret"},
                       "",
                       0,
                       unsendable},
        CredentialCase{
            "LineEndInPasswordBasic", basic, {"-u", "alice", "-p", "sec\nret"}, "", 0, unsendable},
        CredentialCase{"EscapeInPasswordDigest",
                       digest,
                       {"-u", "alice", "-p", "sec\x1bret"},
                       "",
                       0,
                       unsendable},
        CredentialCase{"DelInUserNameBasic",
                       basic,
                       {"-u",
                        "ali\x7f"
                        "ce"},
                       "",
                       0,
                       unsendable}),
    [](const testing::TestParamInfo<CredentialCase>& info) { return info.param.name; });

// The command line cannot carry a NUL byte, but the layer's callers can: it is refused the same.
TEST(CredentialsOnTheWire, NulByteInTheUserNameIsRefusedBeforeAnyRequest) {
    ScriptedServer server(Challenging(digest));
    std::string errorText;
    DownloadJob job = LoopbackJob(server.Port(), "/private", "", errorText);
    job.userName = std::string("ali\0ce", 6);
    job.password = "secret";
    DownloadEnvironment environment;
    environment.console = nullptr;
    EXPECT_EQ(DownloadFile(job, environment), -1);
    EXPECT_EQ(errorText, unsendableText);
    EXPECT_TRUE(server.Requests().empty());
}

// The command line of this process's one child (the korrin being run), as the process list
// shows it; empty when there is none.
std::string ChildCommandLine() {
    const std::string parent = std::to_string(getpid());
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
        const std::string pid = entry.path().filename().string();
        if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
        // The parent's number is the second field after the command name in parentheses.
        const std::string stat = ReadFile("/proc/" + pid + "/stat");
        const auto end = stat.rfind(')');
        if (end == std::string::npos) continue;
        char state = 0;
        int ppid = 0;
        if (std::sscanf(stat.c_str() + end + 1, " %c %d", &state, &ppid) != 2) continue;
        if (std::to_string(ppid) == parent) return ReadFile("/proc/" + pid + "/cmdline");
    }
    return {};
}

// The server holds its first answer until it has read the running download's command line.
TEST(PasswordArgument, GoneFromTheProcessListWhileTheDownloadRuns) {
    const std::string password = "pw-" + std::to_string(getpid()) + "-hidden";
    auto seen = std::make_shared<std::string>();
    ScriptedServer server([seen, inner = Challenging(basic)](const std::string& request,
                                                             ScriptedConnection& connection) {
        if (AuthorizationLine(request).empty()) *seen = ChildCommandLine();
        inner(request, connection);
    });
    TempDir folder;
    const ProcessResult run = RunKorrinBinary(
        {server.Url("/private"), "-u", "alice", "-P", password, "-o", folder.File("out")});

    // The download still used the password, which the server received.
    EXPECT_EQ(run.exitStatus, 0) << run.standardOutput;
    ASSERT_EQ(server.Requests().size(), 2u);
    EXPECT_NE(AuthorizationLine(server.Requests()[1]), "");
    // The command line read is the download's own, and holds everything but the password.
    EXPECT_NE(seen->find(server.Url("/private")), std::string::npos) << *seen;
    EXPECT_NE(seen->find(std::string("-u\0alice\0-P\0", 12)), std::string::npos) << *seen;
    EXPECT_EQ(seen->find(password), std::string::npos) << *seen;
    EXPECT_EQ(seen->find("hidden"), std::string::npos) << *seen;
}

// Run through a link whose name spells a header line and a terminal's control sequence: the agent
// text and the banner carry blanks in their place.
TEST(ArgumentZero, ControlBytesReachNeitherTheWireNorTheConsole) {
    TempDir folder;
    const std::string link = folder.File("k\r\nX-Injected: 1\x1b[2J");
    ASSERT_EQ(symlink(KorrinBinary().c_str(), link.c_str()), 0);
    ScriptedServer server(ScriptedServer::Reply(HttpReply(200, "body")));
    const ProcessResult run = RunProcess({link, server.Url("/file"), "-o", folder.File("out")});

    EXPECT_EQ(run.exitStatus, 0) << run.standardOutput;
    ASSERT_EQ(server.Requests().size(), 1u);
    const std::string request = server.Requests()[0];
    EXPECT_NE(request.find("\r\nUser-Agent: k  X-Injected: 1 [2J 1.4\r\n"), std::string::npos)
        << request;
    EXPECT_EQ(request.find("\r\nX-Injected"), std::string::npos) << request;
    EXPECT_EQ(run.standardOutput.rfind("k  X-Injected: 1 [2J 1.4\n\nDownloading...\n", 0), 0u)
        << run.standardOutput;
}

// The layer itself keeps a caller's agent text from adding header lines, whoever the caller is.
TEST(ArgumentZero, AgentTextOfAnyCallerStaysOneHeaderLine) {
    ScriptedServer server(ScriptedServer::Reply(HttpReply(200, "body")));
    std::string errorText;
    DownloadJob job = LoopbackJob(server.Port(), "/file", "", errorText);
    job.agent = std::string("k\r\nX-Injected: 1\0\x7f 1.4", 22);
    DownloadEnvironment environment;
    environment.console = nullptr;
    TempDir folder;
    job.outputPath = folder.File("out");
    EXPECT_EQ(DownloadFile(job, environment), 200) << errorText;
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_NE(server.Requests()[0].find("\r\nUser-Agent: k  X-Injected: 1   1.4\r\n"),
              std::string::npos)
        << server.Requests()[0];
}

// A URL that does not split is echoed with its control characters blanked and every other byte,
// blanks at its ends included, as given; with and without the console in use.
TEST(BadUrl, EchoedWithoutItsControlCharacters) {
    const std::string url =
        " \x1b]0;owned\x07not\tan \xc2\x9b"
        "31murl\x1b[2J ";
    const std::string shown = "Error: bad URL:   ]0;owned not an  31murl [2J \n";

    const ProcessResult toStdout = RunKorrinBinary({url});
    EXPECT_EQ(toStdout.exitStatus, 1);
    EXPECT_EQ(toStdout.standardOutput, shown);

    TempDir folder;
    const ProcessResult toFile = RunKorrinBinary({url, "-o", folder.File("out")});
    EXPECT_EQ(toFile.exitStatus, 1);
    EXPECT_EQ(toFile.standardOutput, "korrin 1.4\n\n" + shown + "\nPress any key to continue...");
    EXPECT_FALSE(FileExists(folder.File("out")));
}

}  // namespace
}  // namespace korrin::test
