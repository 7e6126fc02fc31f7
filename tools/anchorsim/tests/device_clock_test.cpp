// The device clock: 63,897,600,000 ticks per second of its own time, which starts at an
// offset, runs fast or slow by its rate and drifts; the counter wraps at 2^40.
#include <gtest/gtest.h>

#include <cmath>

#include "anchorsim/device_clock.h"

using anchorsim::DeviceClock;

TEST(anchorsim_DeviceClock, TicksAtATrueTime)
{
    constexpr double kPeriod = 17.207401025641026;  // 2^40 ticks
    struct Row {
        const char* what;
        DeviceClock clock;
        double t;
        uint64_t ticks;  // worked out by hand; within one tick of the rounding
    };
    const Row rows[] = {
        {"one second", DeviceClock(0, 0, 0), 1.0, 63897600000ull},
        {"half-second offset", DeviceClock(0.5, 0, 0), 0.0, 31948800000ull},
        // 63897600000 x 1.00002 = 63898877952
        {"20 ppm fast", DeviceClock(0, 20, 0), 1.0, 63898877952ull},
        {"20 ppm slow", DeviceClock(0, -20, 0), 1.0, 63896322048ull},
        // past the period: 1 s beyond 2^40 ticks reads as 1 s
        {"wrap", DeviceClock(kPeriod + 1.0, 0, 0), 0.0, 63897600000ull},
        {"wrap while running", DeviceClock(kPeriod - 0.5, 0, 0), 1.0, 31948800000ull},
        // 100 s + 0.5 x 0.01e-6 x 100^2 s = 100.00005 s -> 6389763194880 ticks, less 5 x 2^40
        {"drift 0.01 ppm/s after 100 s", DeviceClock(0, 0, 0.01), 100.0, 892205056000ull},
        // 19 ppm drifting 1 ppm/s reaches 20 ppm at 1 s: 19 + 0.5 + 2 x 20 = 59.5 ppm s of
        // error after 3 s -> 3.0000595 s = 191696601907.2 ticks
        {"drift stops at 20 ppm", DeviceClock(0, 19, 1.0), 3.0, 191696601907ull},
        {"drift stops at -20 ppm", DeviceClock(0, -19, -1.0), 3.0, 191688998092ull},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        const uint64_t got = r.clock.ticks(r.t);
        EXPECT_LE(got, (uint64_t{1} << 40) - 1);
        EXPECT_LE(std::llabs(static_cast<long long>(got) - static_cast<long long>(r.ticks)), 1) << got;
    }
}

TEST(anchorsim_DeviceClock, RateIsKeptWithinTwentyPpm)
{
    struct Row { double asked; double kept; };
    for (const Row& r : {Row{35, 20}, Row{-21, -20}, Row{12.5, 12.5}}) {
        EXPECT_EQ(DeviceClock(0, r.asked, 0).rate_ppm(), r.kept) << r.asked;
    }
}
