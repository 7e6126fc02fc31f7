// qes_omp as a running program: its identity, log, task set, power-on walk and answers.
#include <signal.h>

#include <cstring>
#include <memory>
#include <thread>

#include "sandbox/daemon.h"
#include "sandbox/files.h"
#include "sandbox/harness.h"
#include "sandbox/loopback_sniffer.h"
#include "sandbox/udp_probe.h"

namespace {

using namespace vorlen::sandbox;

constexpr const char* kOmpLog = "/qvx/omp/log/QES_OMP.log";

class MaintenanceProgram : public SandboxTest {
protected:
    Daemon StartOmp(const std::vector<std::string>& args = {}) {
        return Daemon::start(install_program(QES_OMP_BIN, "/qvx/omp"), args);
    }
    void TearDown() override {
        if (HasFailure()) std::printf("---- %s ----\n%s\n", kOmpLog, read_file(kOmpLog).c_str());
    }
};

// A 44-byte header without data; JIDs in host (little-endian) order.
std::vector<uint8_t> header(uint32_t dest_dev, uint16_t dest_module, uint16_t dest_unit, uint32_t src_dev,
                            uint16_t src_module, uint16_t src_unit, uint32_t msg) {
    std::vector<uint8_t> out(44, 0);
    auto jid = [&](size_t at, uint32_t dev, uint16_t module, uint16_t unit) {
        const uint32_t jno = 1;  // CN_SCS_JOB
        std::memcpy(&out[at], &jno, 4);
        std::memcpy(&out[at + 4], &dev, 4);
        std::memcpy(&out[at + 8], &module, 2);
        std::memcpy(&out[at + 10], &unit, 2);
    };
    jid(0, dest_dev, dest_module, dest_unit);
    jid(16, src_dev, src_module, src_unit);
    std::memcpy(&out[32], &msg, 4);
    return out;
}

TEST_F(MaintenanceProgram, StartsAsModuleOneAndPowersOnItsTableWithoutRegistering) {
    LoopbackSniffer sniffer;
    ASSERT_TRUE(sniffer.ok());
    // No omp.cfg at all: the maintenance program does not read its sections.
    Daemon d = StartOmp();
    EXPECT_EQ(d.starter_status(), 255);
    ASSERT_TRUE(wait_for_text(kOmpLog, "Power on success line=", 10s));
    std::string missing;
    const std::string log = read_file(kOmpLog);
    EXPECT_TRUE(in_order(log,
                         {std::to_string(d.pid()) + " ---------  begin to power on --------\n", "Power On Time:",
                          "OMP begin to power on!\n", "DogClient:Init with local port ",
                          "succeed to tvWatchdog check timerVerify configuration module=1, unit=65535\n",
                          "Line1001\n", "CNCtrlTask set high_water_mark 512M.\n",
                          "----------------telnet service opened -------------------\r\n",
                          "Timer signal not detect at ACE_TMAIN,line=1295!\n"},
                         &missing))
        << "missing or out of order: " << missing;
    // The walk runs on task 1 beside the end of start-up on the main thread.
    EXPECT_TRUE(in_order(log,
                         {"----------------telnet service opened", "SCS starting at state=0, MsgId=0",
                          "send power on to JOB[notexist].\n",
                          "SCS got power on success message from JOB at state=2, MsgId=6003",
                          "send power on to JOB[BackComm].\n", "Power on success line="},
                         &missing))
        << "missing or out of order: " << missing;
    EXPECT_EQ(log.find("omp cfg"), std::string::npos);
    EXPECT_EQ(log.find("ZUB begin"), std::string::npos);
    EXPECT_EQ(log.find("Power on failure"), std::string::npos);
    // Exactly two control tasks.
    size_t tasks = 0;
    for (size_t at = log.find("CNCtrlTask construct opened"); at != std::string::npos;
         at = log.find("CNCtrlTask construct opened", at + 1))
        ++tasks;
    EXPECT_EQ(tasks, 2u);
    UdpProbe taken(20010);
    EXPECT_FALSE(taken.ok());
    // It never registers with anyone: no message 1 leaves its port.
    const auto until = std::chrono::steady_clock::now() + 3500ms;
    while (std::chrono::steady_clock::now() < until) {
        auto pkt = sniffer.next(200ms);
        if (pkt && pkt->src_port == 20010) ADD_FAILURE() << "datagram from 20010 to " << pkt->dst_port;
    }
    ASSERT_TRUE(d.signal(SIGTERM));
    EXPECT_EQ(d.wait_exit(10s), 0);
}

TEST_F(MaintenanceProgram, AnswersARegistrationOfAnyModuleFromTheEnginesPortOnly) {
    Daemon d = StartOmp();
    ASSERT_TRUE(wait_for_text(kOmpLog, "Power on success line=", 10s));
    // The registration names a process of module 5, unit 0, bureau 7, which listens on 20050; the
    // answer goes there whatever port the registration came from, if it is taken at all.
    UdpProbe named(20050);
    ASSERT_TRUE(named.ok());
    const uint32_t peer_dev = (7u << 24) + 1;
    struct Row {
        uint16_t from_port;
        bool answered;
    };
    for (const Row& r : {Row{20050, false}, Row{20111, false}, Row{20110, true}}) {
        SCOPED_TRACE(r.from_port);
        std::unique_ptr<UdpProbe> other;
        UdpProbe* sender = &named;
        if (r.from_port != named.port()) {
            other = std::make_unique<UdpProbe>(r.from_port);
            sender = other.get();
        }
        ASSERT_TRUE(sender->ok());
        ASSERT_TRUE(sender->send_to(20010, header(0, 1, 0xFFFF, peer_dev, 5, 0, 1)));
        auto ack = named.receive(r.answered ? 5s : 1s);
        ASSERT_EQ(ack.has_value(), r.answered);
        if (ack) {
            EXPECT_EQ(ack->from_port, 20010);
            EXPECT_EQ(ack->bytes, header(peer_dev, 5, 0, 1, 1, 0xFFFF, 2));
        }
    }
    const std::string log = read_file(kOmpLog);
    EXPECT_NE(log.find("CNIntraMsgHandler: datagram of 44 bytes from 127.0.0.1:20050 is not from the partner "
                       "program (127.0.0.1:20110), dropped (1 so far)"),
              std::string::npos);
    EXPECT_NE(log.find("from 127.0.0.1:20111 is not from the partner program (127.0.0.1:20110), dropped (2 so far)"),
              std::string::npos);
    ASSERT_TRUE(d.signal(SIGINT));
    EXPECT_EQ(d.wait_exit(10s), 0);
}

TEST_F(MaintenanceProgram, OneArgumentLogsTheUsageLineAndExitsZero) {
    Daemon d = StartOmp({"x"});
    EXPECT_EQ(d.starter_status(), 255);
    EXPECT_EQ(d.wait_exit(10s), 0);
    const std::string log = read_file(kOmpLog);
    EXPECT_NE(log.find("Argument error.USAGE:vorlen OR vorlen smp 1\n"), std::string::npos);
    EXPECT_EQ(log.find("OMP begin to power on!"), std::string::npos);
}

TEST_F(MaintenanceProgram, IgnoresSigpipeAndEndsWithTwoAfterSigabrt) {
    Daemon d = StartOmp();
    ASSERT_TRUE(wait_for_text(kOmpLog, "Timer signal not detect at ACE_TMAIN,line=1295!\n", 10s));
    ASSERT_TRUE(d.signal(SIGPIPE));
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(d.running());
    ASSERT_TRUE(d.signal(SIGABRT));
    EXPECT_EQ(d.wait_exit(10s), 2);
}

TEST_F(MaintenanceProgram, ExitsOneWhenItsPortIsTaken) {
    UdpProbe holder(20010);
    ASSERT_TRUE(holder.ok());
    Daemon d = StartOmp();
    EXPECT_EQ(d.wait_exit(10s), 1);
    EXPECT_NE(read_file(kOmpLog).find("can't open socket with port[20010]"), std::string::npos);
}

}  // namespace
