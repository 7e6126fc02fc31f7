// The daemon's start-up lines, identity and exit statuses.
#include <signal.h>

#include "sandbox/udp_probe.h"
#include "startup_fixture.h"

namespace startup_test {
namespace {

class SystemStartupProcess : public StartupSystemTest {};

TEST_F(SystemStartupProcess, StartedCommandExits255AndTheDaemonLogsItsStartInOrder) {
    WriteOmpCfg();
    Daemon d = StartVorlen();
    EXPECT_EQ(d.starter_status(), 255);
    ASSERT_GT(d.pid(), 0);
    ASSERT_TRUE(wait_for_text(kZubLog, "Timer signal not detect at ACE_TMAIN,line=1295!\n", 10s));
    std::string missing;
    EXPECT_TRUE(in_order(read_file(kZubLog),
                         {std::to_string(d.pid()) + " ---------  begin to power on --------\n", "Power On Time:",
                          "the qes _thisBureauID is 1\n", "load nav or qes omp cfg ok \n", "ZUB begin to power on!\n",
                          "DogClient:Init with local port ",
                          "succeed to tvWatchdog check timerVerify configuration module=11, unit=65535\n",
                          "Line1001\n", "CNCtrlTask construct opened\n",
                          "----------------telnet service opened -------------------\r\n",
                          "Timer signal not detect at ACE_TMAIN,line=1295!\n"},
                         &missing))
        << "missing or out of order: " << missing;
    EXPECT_TRUE(d.running());
    ASSERT_TRUE(d.signal(SIGTERM));
    EXPECT_EQ(d.wait_exit(10s), 0);
    // The last lines are there: the logs are flushed on the way out.
    EXPECT_TRUE(in_order(read_file(kZubLog),
                         {"Program exit with exception, g_nExitCode=0, line=1310!\n", "begin ~DogClientGuard\n",
                          "end ~DogClientGuard\n"},
                         &missing))
        << missing;
}

TEST_F(SystemStartupProcess, TwoSectionsAreLoggedAsNavAndQes) {
    WriteOmpCfg("[NAV]\nbureau=3\n[EndNAV]\n[QES]\nbureau=1\nupmnum=2\n[EndQES]\n");
    Daemon d = StartVorlen();
    ASSERT_TRUE(wait_for_text(kZubLog, "ZUB begin to power on!\n", 10s));
    std::string missing;
    EXPECT_TRUE(in_order(read_file(kZubLog),
                         {"the nav _thisBureauID is 3\n", "the qes _thisBureauID is 1\n",
                          "load nav and qes omp cfg ok \n", "ZUB begin to power on!\n"},
                         &missing))
        << missing;
    // Signals are handled once start-up has registered them (its last line).
    ASSERT_TRUE(wait_for_text(kZubLog, "Timer signal not detect at ACE_TMAIN,line=1295!\n", 10s));
    ASSERT_TRUE(d.signal(SIGINT));
    EXPECT_EQ(d.wait_exit(10s), 0);
    EXPECT_NE(read_file(kZubLog).find("g_nExitCode=0, line=1310!\n"), std::string::npos);
}

TEST_F(SystemStartupProcess, ExitsTwoAfterSigabrt) {
    WriteOmpCfg();
    Daemon d = StartVorlen();
    ASSERT_TRUE(wait_for_text(kZubLog, "Timer signal not detect at ACE_TMAIN,line=1295!\n", 10s));
    ASSERT_TRUE(d.signal(SIGABRT));
    EXPECT_EQ(d.wait_exit(10s), 2);
    EXPECT_NE(read_file(kZubLog).find("Program exit with exception, g_nExitCode=2, line=1310!\n"), std::string::npos);
}

TEST_F(SystemStartupProcess, ExitsZeroWhenNoSectionIsFound) {
    WriteOmpCfg("# no section\nbureau=1\n");
    Daemon d = StartVorlen();
    EXPECT_EQ(d.starter_status(), 255);
    EXPECT_EQ(d.wait_exit(10s), 0);
    const std::string log = read_file(kZubLog);
    EXPECT_NE(log.find("load omp cfg fail \n"), std::string::npos);
    EXPECT_EQ(log.find("ZUB begin to power on!"), std::string::npos);
}

TEST_F(SystemStartupProcess, ExitsZeroWithoutAConfigurationFile) {
    Daemon d = StartVorlen();
    EXPECT_EQ(d.wait_exit(10s), 0);
    EXPECT_NE(read_file(kZubLog).find("load omp cfg fail \n"), std::string::npos);
}

TEST_F(SystemStartupProcess, OneArgumentLogsTheUsageLineAndExitsZero) {
    WriteOmpCfg();
    Daemon d = StartVorlen({"smp"});
    EXPECT_EQ(d.starter_status(), 255);
    EXPECT_EQ(d.wait_exit(10s), 0);
    const std::string log = read_file(kZubLog);
    EXPECT_NE(log.find("Argument error.USAGE:vorlen OR vorlen smp 1\n"), std::string::npos);
    EXPECT_EQ(log.find("CNCtrlTask construct opened"), std::string::npos);
}

TEST_F(SystemStartupProcess, ExitsOneWhenTheIntraBoardPortIsTaken) {
    WriteOmpCfg();
    UdpProbe holder(20110);
    ASSERT_TRUE(holder.ok());
    Daemon d = StartVorlen();
    EXPECT_EQ(d.wait_exit(10s), 1);
    EXPECT_NE(read_file(kZubLog).find("can't open socket with port[20110], Reason:Another process for this "
                                      "module[11]/unit[65535] is running\n"),
              std::string::npos);
}

TEST_F(SystemStartupProcess, TwoArgumentsGiveModuleZeroOnPort20000) {
    WriteOmpCfg();
    UdpProbe omp(20010);
    ASSERT_TRUE(omp.ok());
    Daemon d = StartVorlen({"a", "b"});
    ASSERT_TRUE(wait_for_text(kZubLog, "Verify configuration module=0, unit=0\n", 10s));
    EXPECT_EQ(read_file(kZubLog).find("ZUB begin to power on!"), std::string::npos);
    // Its registration leaves from the intra-board port 20000 and names module 0, unit 0, bureau 0.
    auto reg = omp.receive(5s);
    ASSERT_TRUE(reg);
    EXPECT_EQ(reg->from_port, 20000);
    EXPECT_EQ(reg->bytes, header(1, 0, 1, 0xFFFF, 1, 1, 0, 0, 1));
    UdpProbe taken(20000);
    EXPECT_FALSE(taken.ok());
    // The registration leaves before the signal handlers are in place (they come last).
    ASSERT_TRUE(wait_for_text(kZubLog, "Timer signal not detect at ACE_TMAIN,line=1295!\n", 10s));
    ASSERT_TRUE(d.signal(SIGTERM));
    EXPECT_EQ(d.wait_exit(10s), 0);
}

}  // namespace
}  // namespace startup_test
