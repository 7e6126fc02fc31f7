// The replay tool: a recorded session through one selector, and lines it cannot read.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <sstream>

#include "replay/replay.h"
#include "selector_fixture.h"

using namespace selector_test;

namespace {

std::string hex(const std::vector<BYTE>& bytes)
{
    std::string s;
    char b[3];
    for (BYTE v : bytes) {
        std::snprintf(b, sizeof b, "%02x", v);
        s += b;
    }
    return s;
}

}  // namespace

TEST(Replay, RecordedSessionGivesTheSelectorsRecords)
{
    reset_context();
    constexpr double C = 299702547.0;
    const double xy[5][2] = {{0, 0}, {20, 0}, {0, 10}, {20, 10}, {10, 5}};
    std::ostringstream in;
    in << "# five anchors, A0 the master\nconfig toa_ignore_time 60000\nconfig min_mulitiple 3\n";
    for (int i = 0; i < 5; ++i) {
        in << "anchor " << i << " b00" << i << " " << xy[i][0] << " " << xy[i][1] << " 0 0\n";
    }
    for (int i = 1; i < 5; ++i) {
        in << "sync " << i << " 0 0 " << 1e-3 * i << " 1 0 " << 1e-3 * i << "\n";
    }
    for (int b = 1; b <= 8; ++b) {
        in << "at " << 100 * b << "\n";
        for (int i = 0; i < 5; ++i) {
            const double d = std::hypot(xy[i][0] - 7, xy[i][1] - 9);
            const double toa = 3.0 + 0.1 * b + d / C + (i > 0 ? 1e-3 * i : 0.0);
            in << "msg " << hex(toa_msg(0x32, static_cast<WORD16>(i), static_cast<BYTE>(b), 0x5A5A, ticks_of(toa), 800 << 6))
               << "\n";
        }
    }
    std::vector<BYTE> ext(30, 0);
    ext[2] = 2;
    ext[5] = 77;
    in << "msg " << hex(toa_msg(0x33, 3, 9, 0x5A5A, ticks_of(4.0), 800 << 6, ext)) << "\n";
    in << "at 900\n";

    std::istringstream input(in.str());
    std::ostringstream out;
    std::string error;
    ASSERT_TRUE(replay::run(input, out, error)) << error;
    std::istringstream lines(out.str());
    std::string line;
    std::vector<std::string> all;
    while (std::getline(lines, line)) {
        all.push_back(line);
    }
    ASSERT_EQ(all.size(), 2u) << out.str();
    // The inertial record goes out on intake at 800 ms; the eighth blink (heard at 800 ms)
    // is solved at the tick 20 ms later.
    unsigned long long t = 0, tag = 0, anchor = 0;
    unsigned mode = 0;
    int x = 0, y = 0, z = 0;
    ASSERT_EQ(std::sscanf(all[1].c_str(), "loc %llu mode=%u tag=%llx anchor=%llx x=%d y=%d z=%d", &t, &mode, &tag,
                          &anchor, &x, &y, &z),
              7)
        << all[1];
    EXPECT_EQ(t, 820u);
    EXPECT_EQ(mode, 4u);
    EXPECT_EQ(tag, 0x5A5Au);
    EXPECT_EQ(anchor, 0xB000u);
    EXPECT_NEAR(x, 7000, 10);
    EXPECT_NEAR(y, 9000, 10);
    EXPECT_EQ(z, 0);
    EXPECT_EQ(all[0], "ext 800 tag=5a5a anchor=b003 power=77 temperature=0 heart_rate=0 warn=0");
}

TEST(Replay, LinesItCannotRead)
{
    struct Row { const char* text; const char* error; };
    const Row rows[] = {
        {"hello", "line 1: unknown line"},
        {"# fine\n\nmsg 0a0", "line 3: msg wants an even number of hex digits"},
        {"msg zz", "line 1: msg wants an even number of hex digits"},
        {"at 50\nat 40", "line 2: at wants a time in ms, not before the current one"},
        {"anchor 10000 1 0 0 0 0", "line 1: anchor wants <id below 10000> <hex hardware id> <x> <y> <z> <mode>"},
        {"sync 1 16 0 0 1 0 0", "line 1: sync wants <slave> <slot below 16> <master> <x0> <x1> <prevTxTime> <prevRxTime>"},
        {"config nothing 3", "line 1: config wants a known name and a number"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.text);
        reset_context();
        std::istringstream in(r.text);
        std::ostringstream out;
        std::string error;
        EXPECT_FALSE(replay::run(in, out, error));
        EXPECT_EQ(error, r.error);
    }
    // A message too short for its report is refused by the selector, not by the tool.
    std::istringstream in("msg 0100120032");
    std::ostringstream out;
    std::string error;
    EXPECT_TRUE(replay::run(in, out, error));
    EXPECT_EQ(out.str(), "");
}
