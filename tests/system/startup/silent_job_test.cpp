// The one slow case: a flagged job that never acknowledges ends the walk after 36 s.
#include <signal.h>

#include "startup_fixture.h"

namespace startup_test {
namespace {

class SystemStartupSlow : public StartupSystemTest {};

TEST_F(SystemStartupSlow, SilentFlaggedJobGivesPowerOnFailureAfter36s) {
    WriteOmpCfg();
    Daemon omp = StartOmp();
    ASSERT_TRUE(wait_for_text(kOmpLog, "Power on success line=", 10s));
    Daemon engine = Daemon::start(install_program(SILENT_JOB_BIN, "/qvx/zub"));
    ASSERT_TRUE(wait_for_text(kZubLog, "send power on to JOB[SILENT_CONTROL].\n", 15s));
    const auto sent = std::chrono::steady_clock::now();
    ASSERT_TRUE(wait_for_text(kZubLog, "Power on failure for JOB Index=", 45s));
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - sent);
    EXPECT_NEAR(waited.count(), 36000, 2000);
    const std::string log = read_file(kZubLog);
    // The job number of the silent row: 0x4000 << 16 | 1.
    EXPECT_NE(log.find(" SCS starting EV_CN_SCS_TIMER_ID1 at state=2, MsgId=2001 line="), std::string::npos);
    EXPECT_NE(log.find("Power on failure for JOB Index=1073741825\n"), std::string::npos);
    EXPECT_EQ(log.find("row behind the silent job powered on"), std::string::npos);
    EXPECT_EQ(log.find("Power on success"), std::string::npos);
    ASSERT_TRUE(engine.signal(SIGTERM));
    EXPECT_EQ(engine.wait_exit(10s), 0);
    ASSERT_TRUE(omp.signal(SIGTERM));
    EXPECT_EQ(omp.wait_exit(10s), 0);
}

}  // namespace
}  // namespace startup_test
