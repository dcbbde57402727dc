// Without --sim the tool talks to the driver service of the Windows
// directory, like every other client: several runs share one chain.
#include <gtest/gtest.h>

#ifdef KESTREL_PORTD_PROGRAM

#include <signal.h>

#include "posix/portd_process.h"
#include "posix/temp_dir.h"
#include "tools/chain_files.h"
#include "tools/tool_run.h"

namespace kestrel_tool_test {
namespace {

using kestrel_test::TempDir;

TEST(KestrelWithService, RunsShareTheChainTheServiceServes) {
    TempDir scratch;
    TempDir windir;
    std::string config = WriteChain(windir / "chain.conf", kStoppedChain);
    kestrel_test::PortdProcess service({"--windir", windir.path(), "--config", config}, windir / "portd.log");
    ASSERT_TRUE(service.WaitServing(windir / "dev/TarnDev")) << service.Log();

    // Nothing acquires at first; one run starts input 2, the next sees it.
    std::vector<std::string> ask{"raw", "9", "1", "SHOW_ACTI"};
    ToolRun before = RunTool(ask, {windir.path(), "", {}}, scratch.path());
    ASSERT_EQ(before.exitCode, 0) << Describe(ask, before) << service.Log();
    EXPECT_NE(before.out.find("response: $C00000"), std::string::npos) << Describe(ask, before);

    std::vector<std::string> start{"raw", "9", "2", "START"};
    ToolRun started = RunTool(start, {windir.path(), "", {}}, scratch.path());
    ASSERT_EQ(started.exitCode, 0) << Describe(start, started);

    ToolRun after = RunTool(ask, {windir.path(), "", {}}, scratch.path());
    ASSERT_EQ(after.exitCode, 0) << Describe(ask, after);
    EXPECT_NE(after.out.find("response: $C00002"), std::string::npos) << Describe(ask, after);

    // --windir says where, instead of WINDIR.
    std::vector<std::string> list{"--windir", windir.path(), "list"};
    ToolRun listed = RunTool(list, {"", "", {}}, scratch.path());
    ASSERT_EQ(listed.exitCode, 0) << Describe(list, listed);
    EXPECT_NE(listed.out.find("active       yes"), std::string::npos) << Describe(list, listed);
    // The service served every run and ends cleanly.
    EXPECT_EQ(service.Stop(SIGTERM), 0) << service.Log();
}

}  // namespace
}  // namespace kestrel_tool_test

#endif  // KESTREL_PORTD_PROGRAM
