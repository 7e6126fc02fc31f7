// The power-on registration between the two programs and the walk through the engine's table.
#include <signal.h>

#include "sandbox/loopback_sniffer.h"
#include "sandbox/udp_probe.h"
#include "startup_fixture.h"

namespace startup_test {
namespace {

class SystemStartupPowerOn : public StartupSystemTest {};

constexpr uint32_t kEngineDevId = (1u << 24) + 1;  // bureau 1

TEST_F(SystemStartupPowerOn, WithoutTheMaintenanceProgramRegistersEvery3s) {
    WriteOmpCfg();
    UdpProbe omp(20010);
    ASSERT_TRUE(omp.ok());
    const auto before = std::chrono::steady_clock::now();  // the registration timer starts after this
    Daemon d = StartVorlen();
    auto first = omp.receive(10s);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->from_port, 20110);
    // To the maintenance process's CN_SCS_JOB from a cleared address (device id 0), from the
    // engine's CN_SCS_JOB (module 11, unit 0xFFFF, bureau 1); message 1, no data.
    EXPECT_EQ(first->bytes, header(1, 0, 1, 0xFFFF, 1, kEngineDevId, 11, 0xFFFF, 1));
    auto second = omp.receive(5s);
    ASSERT_TRUE(second);
    // Repeats take the engine's own address moved to module 1, so its device id stays.
    EXPECT_EQ(second->bytes, header(1, kEngineDevId, 1, 0xFFFF, 1, kEngineDevId, 11, 0xFFFF, 1));
    auto third = omp.receive(5s);
    ASSERT_TRUE(third);
    EXPECT_EQ(third->bytes, second->bytes);
    // Never early against the 3-s schedule that starts with the first registration; a late
    // repeat does not move the next one, so two periods from the first leave room for delays
    // while a 4-s period would not fit.
    EXPECT_GE(second->at - before, 3s);
    EXPECT_GE(third->at - before, 6s);
    EXPECT_LT(third->at - first->at, 7500ms);
    ASSERT_TRUE(wait_for_text(kZubLog, "No OMP found line=", 2s, 2));
    const std::string log = read_file(kZubLog);
    EXPECT_NE(log.find("Receive msg EV_CN_SCS_TIMER_ID2 timerout wait for OMP LINE="), std::string::npos);
    EXPECT_EQ(log.find("send power on to JOB["), std::string::npos);
    ASSERT_TRUE(d.signal(SIGTERM));
    EXPECT_EQ(d.wait_exit(10s), 0);
}

TEST_F(SystemStartupPowerOn, WithTheMaintenanceProgramTheWholeTableIsPoweredOn) {
    WriteOmpCfg();
    LoopbackSniffer sniffer;
    ASSERT_TRUE(sniffer.ok());
    Daemon omp = StartOmp();
    ASSERT_TRUE(wait_for_text(kOmpLog, "Power on success line=", 10s));
    Daemon engine = StartVorlen();
    ASSERT_TRUE(wait_for_text(kZubLog, "Power on success line=", 15s));

    std::vector<std::string> walk{"Receive msg EV_CN_SCS_REGISTER_ACK LINE=", "send power on to JOB[notexist].\n",
                                  "SCS got power on success message from JOB at state=2, MsgId=6003",
                                  "send power on to JOB[ZUB_CONTROL].\n",
                                  "SCS got power on success message from JOB at state=2, MsgId=6003",
                                  "send power on to JOB[ZUB_MANAGER1].\n", "send power on to JOB[ZUB_SOCKET].\n",
                                  "send power on to JOB[ZUB_RECON].\n"};
    for (int s = 1; s <= 18; ++s) walk.push_back("send power on to JOB[ZUB_SELECT" + std::to_string(s) + "].\n");
    walk.push_back("Power on success line=");
    std::string missing;
    const std::string log = read_file(kZubLog);
    EXPECT_TRUE(in_order(log, walk, &missing)) << "missing or out of order: " << missing;
    EXPECT_EQ(log.find("Power on failure"), std::string::npos);

    // In the final state the registration goes on every 3 s as a heartbeat, and each one is
    // answered with message 2.
    int registrations = 0, answers = 0;
    const auto until = std::chrono::steady_clock::now() + 7s;
    while (std::chrono::steady_clock::now() < until) {
        auto pkt = sniffer.next(500ms);
        if (!pkt) continue;
        if (pkt->src_port == 20110 && pkt->dst_port == 20010 && msg_id_of(pkt->payload) == 1) ++registrations;
        if (pkt->src_port == 20010 && pkt->dst_port == 20110 && msg_id_of(pkt->payload) == 2) {
            ++answers;
            EXPECT_EQ(pkt->payload, header(1, kEngineDevId, 11, 0xFFFF, 1, 1, 1, 0xFFFF, 2));
        }
    }
    EXPECT_GE(registrations, 2);
    EXPECT_GE(answers, 2);
    EXPECT_LE(registrations - answers, 1);

    ASSERT_TRUE(engine.signal(SIGTERM));
    ASSERT_TRUE(omp.signal(SIGTERM));
    EXPECT_EQ(engine.wait_exit(10s), 0);
    EXPECT_EQ(omp.wait_exit(10s), 0);
}

}  // namespace
}  // namespace startup_test
