#include <gtest/gtest.h>

#include "support/NginxServer.h"
#include "support/Process.h"
#include "support/ScriptedServer.h"

namespace korrin::test {
namespace {

TEST(Spine, BodyOfA200AnswerReachesStandardOutputByteForByte) {
    const std::string body("line\nwindows\r\nnul\0end", 22);
    ScriptedServer server(ScriptedServer::Reply(HttpReply(200, body)));
    const ProcessResult run = RunKorrinBinary({server.Url("/file.bin")});
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.standardOutput, body);
    EXPECT_EQ(run.standardError, "");
}

TEST(Spine, NginxServesAStaticFile) {
    NginxServer nginx({});
    WriteFile(nginx.Root() + "/hello.txt", "hello from nginx\n");
    const ProcessResult run = RunKorrinBinary({nginx.Url("/hello.txt")});
    EXPECT_EQ(run.exitStatus, 0) << nginx.ErrorLog();
    EXPECT_EQ(run.standardOutput, "hello from nginx\n");
}

}  // namespace
}  // namespace korrin::test
