// The sandbox itself: what later system tests rely on.
#include <sys/prctl.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "sandbox/daemon.h"
#include "sandbox/files.h"
#include "sandbox/harness.h"
#include "sandbox/udp_probe.h"

namespace {

using namespace vorlen::sandbox;

class SystemStartupSandbox : public SandboxTest {};

TEST_F(SystemStartupSandbox, GivesAnEmptyPrivateQvxAndLoopback) {
    EXPECT_TRUE(std::filesystem::is_directory("/qvx"));
    EXPECT_TRUE(std::filesystem::is_empty("/qvx"));
    // A fixed port is free here even when another case holds it in its own sandbox.
    UdpProbe a(10005);
    ASSERT_TRUE(a.ok());
    UdpProbe b(0);
    ASSERT_TRUE(b.send_to(10005, {1, 2, 3}));
    auto got = a.receive(1s);
    ASSERT_TRUE(got);
    EXPECT_EQ(got->bytes, (std::vector<uint8_t>{1, 2, 3}));
    int reaper = 0;
    ASSERT_EQ(prctl(PR_GET_CHILD_SUBREAPER, &reaper), 0);
    EXPECT_EQ(reaper, 1);
}

TEST_F(SystemStartupSandbox, ReportsTheExitCodeOfItsCommandAndCopiesATree) {
    ASSERT_TRUE(write_file("/qvx/tree/omp/omp.cfg", "[QES]\nupmnum=3\n[EndQES]\n"));
    // A nested sandbox sees its own, fresh /qvx with the copied tree.
    auto code = run_command({VORLEN_SANDBOX_BIN, "--qvx", "/qvx/tree", "--", "/bin/sh", "-c",
                             "grep -q upmnum=3 /qvx/omp/omp.cfg && test ! -e /qvx/tree && exit 7"},
                            10s);
    ASSERT_TRUE(code);
    EXPECT_EQ(*code, 7);
    code = run_command({VORLEN_SANDBOX_BIN, "--", "/bin/sh", "-c", "kill -TERM $$"}, 10s);
    ASSERT_TRUE(code);
    EXPECT_EQ(*code, 128 + 15);
    code = run_command({VORLEN_SANDBOX_BIN, "--", "/nonexistent/program"}, 10s);
    ASSERT_TRUE(code);
    EXPECT_EQ(*code, 127);
}

TEST_F(SystemStartupSandbox, DaemonStatusIsReadAfterTheDoubleFork) {
    // A shell stand-in for a daemon: the started command and the middle child exit 255, the
    // grandchild lives on and ends with 3.
    auto d = Daemon::start("/bin/sh", {"-c", "( ( sleep 0.3; exit 3 ) & exit 255 ) & exit 255"});
    EXPECT_EQ(d.starter_status(), 255);
    ASSERT_GT(d.pid(), 0);
    auto code = d.wait_exit(5s);
    ASSERT_TRUE(code);
    EXPECT_EQ(*code, 3);
}

TEST_F(SystemStartupSandbox, KillsWhatIsLeftWhenTheCommandEnds) {
    // The inner command leaves a process behind that would write a marker after 2 s; the
    // sandbox kills it when the command ends, so the marker never appears.
    ASSERT_TRUE(write_file("/qvx/shared/.keep", ""));
    std::string marker = "/tmp/vorlen-sandbox-leftover-" + std::to_string(getpid());
    std::filesystem::remove(marker);
    auto code = run_command({VORLEN_SANDBOX_BIN, "--", "/bin/sh", "-c",
                             "( sleep 1; touch " + marker + " ) & exit 0"},
                            10s);
    ASSERT_TRUE(code);
    EXPECT_EQ(*code, 0);
    std::this_thread::sleep_for(1500ms);
    EXPECT_FALSE(std::filesystem::exists(marker));
    std::filesystem::remove(marker);
}

// Without CAP_SYS_ADMIN the namespaces are refused: the tool says so and exits 77, and a harness
// executable turns that into skipped cases instead of failures.
TEST_F(SystemStartupSandbox, RefusedNamespacesGiveCode77AndSkippedCases) {
    auto code = run_command({"/usr/bin/setpriv", "--bounding-set", "-sys_admin", VORLEN_SANDBOX_BIN, "--", "/bin/true"},
                            10s);
    ASSERT_TRUE(code);
    EXPECT_EQ(*code, 77);
    std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    code = run_command({"/usr/bin/env", "-u", "VORLEN_SANDBOX", "/bin/sh", "-c",
                        "exec /usr/bin/setpriv --bounding-set -sys_admin " + self +
                            " --gtest_filter=SystemStartupSandbox.GivesAnEmptyPrivateQvxAndLoopback >/qvx/out 2>&1"},
                       20s);
    ASSERT_TRUE(code);
    EXPECT_EQ(*code, 0);
    const std::string out = read_file("/qvx/out");
    EXPECT_NE(out.find("[  SKIPPED ] SystemStartupSandbox.GivesAnEmptyPrivateQvxAndLoopback"), std::string::npos) << out;
    EXPECT_NE(out.find("sandbox: the system refused new network/mount/IPC/PID namespaces"), std::string::npos) << out;
}

}  // namespace
