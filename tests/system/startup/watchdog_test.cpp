// The watchdog heartbeat as the outside watchdog process receives it.
#include <signal.h>

#include "sandbox/udp_probe.h"
#include "startup_fixture.h"

namespace startup_test {
namespace {

class SystemStartupWatchdog : public StartupSystemTest {};

// The 172-byte record: "zub" in 30 bytes, 2 zero bytes, code, running number, 129-byte text, 3 zero bytes.
std::vector<uint8_t> watch_record(uint32_t code, uint32_t id, const std::string& text) {
    std::vector<uint8_t> out(172, 0);
    std::memcpy(out.data(), "zub", 3);
    std::memcpy(out.data() + 32, &code, 4);
    std::memcpy(out.data() + 36, &id, 4);
    std::memcpy(out.data() + 40, text.data(), text.size());
    return out;
}

TEST_F(SystemStartupWatchdog, FirstDatagramAtStartThenOneEvery10s) {
    WriteOmpCfg();
    UdpProbe watchdog(10005);
    ASSERT_TRUE(watchdog.ok());
    Daemon d = StartVorlen();
    auto first = watchdog.receive(10s);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->bytes, watch_record(200, 1, "application module start"));

    auto second = watchdog.receive(12s);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->bytes, watch_record(200, 2, "OK"));
    auto third = watchdog.receive(12s);
    ASSERT_TRUE(third);
    EXPECT_EQ(third->bytes, watch_record(200, 3, "OK"));
    const auto gap1 = std::chrono::duration_cast<std::chrono::milliseconds>(second->at - first->at);
    const auto gap2 = std::chrono::duration_cast<std::chrono::milliseconds>(third->at - second->at);
    EXPECT_NEAR(gap1.count(), 10000, 1000);
    EXPECT_NEAR(gap2.count(), 10000, 1000);
    ASSERT_TRUE(d.signal(SIGTERM));
    EXPECT_EQ(d.wait_exit(10s), 0);
}

}  // namespace
}  // namespace startup_test
