// The watchdog record byte for byte, the exit codes of signals and the argument identity rule.
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <string>
#include <vector>

#include "CNPlatform.h"
#include "startup/dog_client.h"
#include "startup/monitor_handler.h"
#include "startup/program_main.h"

namespace {

std::vector<uint8_t> Bytes(const CWatchMessage& m) {
    const auto* p = reinterpret_cast<const uint8_t*>(&m);
    return std::vector<uint8_t>(p, p + sizeof m);
}

TEST(PlatformStartupWatchdog, RecordLayoutIsByteForByte) {
    CWatchMessage m;
    std::memset(&m, 0xAB, sizeof m);
    DogClient::Fill(&m, e_status, 2, "OK");
    std::vector<uint8_t> want(172, 0);
    want[0] = 'z';
    want[1] = 'u';
    want[2] = 'b';
    want[32] = 200;  // 200 little-endian
    want[36] = 2;
    want[40] = 'O';
    want[41] = 'K';
    EXPECT_EQ(Bytes(m), want);
}

TEST(PlatformStartupWatchdog, TextIsCutTo128Characters) {
    CWatchMessage m;
    std::string text(200, 'x');
    DogClient::Fill(&m, e_fatalError, 0x01020304, text.c_str());
    std::vector<uint8_t> b = Bytes(m);
    EXPECT_EQ(b[32], 0xF4);  // 500 = 0x01F4
    EXPECT_EQ(b[33], 0x01);
    EXPECT_EQ(b[36], 0x04);
    EXPECT_EQ(b[39], 0x01);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(&b[40])), std::string(128, 'x'));
    for (size_t i = 168; i < 172; ++i) EXPECT_EQ(b[i], 0) << i;
}

TEST(PlatformStartupSignals, HandledSignalsEndTheLoopWithTheirCodes) {
    CNMonitor_Handler h;
    const std::pair<int, int> cases[] = {{SIGINT, 0}, {SIGTERM, 0}, {SIGABRT, 2}, {SIGSEGV, 3}, {SIGILL, 4}};
    for (auto [sig, code] : cases) {
        g_nCanExit = 0;
        g_nExitCode = 99;
        h.handle_signal(sig, nullptr, nullptr);
        EXPECT_EQ(g_nCanExit.load(), 1) << sig;
        EXPECT_EQ(g_nExitCode.load(), code) << sig;
    }
    g_nCanExit = 0;
    h.handle_signal(SIGHUP, nullptr, nullptr);
    EXPECT_EQ(g_nCanExit.load(), 0);
    g_nExitCode = 0;
}

TEST(PlatformStartupIdentity, TwoOrMoreArgumentsGiveModuleZero) {
    CN_PlatformProfile p = CN_EngineProfile(nullptr);
    p.dwModuleType = 0;
    CN_ApplyArgumentIdentity(1, &p);
    EXPECT_EQ(p.wModule, 11);
    EXPECT_EQ(p.wUnit, 0xFFFF);
    EXPECT_EQ(p.wBureau, 1);
    EXPECT_EQ(p.dwModuleType, 1u);
    CN_ApplyArgumentIdentity(3, &p);
    EXPECT_EQ(p.wModule, 0);
    EXPECT_EQ(p.wUnit, 0);
    EXPECT_EQ(p.wBureau, 0);
    EXPECT_EQ(p.dwModuleType, 0u);
    EXPECT_EQ(CN_IntraBoardPort(p.wModule, p.wUnit), 20000);
}

}  // namespace
