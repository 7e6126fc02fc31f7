// Clock-sync filter against simulated anchor clocks: rates of +-20 ppm, 0.1 ns
// reception noise, calibration packets every 0.1 s, clocks wrapping every 17.2 s.
#include "CS_Kalman.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

constexpr double kP = CS_Kalman::kPeriod;

struct SimClock {
    double offset;  // reading at true time 0, s
    double ppm;
    double read(double t) const { return std::fmod(offset + t * (1.0 + ppm * 1e-6), kP); }
    int wraps_until(double t) const
    {
        return static_cast<int>((offset + t * (1.0 + ppm * 1e-6)) / kP);
    }
};

struct SimResult {
    double worst_after_warmup;  // s
    int master_wraps;
    int slave_wraps;
    int outliers_after_warmup;
};

// Runs `updates` calibration rounds and measures, after each round from `warmup` on,
// the mapping error of blinks heard between this round and the next.
SimResult simulate(SimClock master, SimClock slave, unsigned seed, int updates, int warmup)
{
    constexpr double kInterval = 0.1;
    constexpr double kFlight = 4.0e-8;  // 12 m between the anchors
    std::mt19937_64 rng(seed);
    std::normal_distribution<double> noise(0.0, 0.1e-9);

    CS_Kalman k;
    SimResult res{0.0, 0, 0, 0};
    for (int i = 0; i < updates; ++i) {
        const double t = i * kInterval;
        const double tx = master.read(t);
        const double rx = slave.read(t + kFlight) + noise(rng);
        k.updateFilter(rx, tx + kFlight);
        if (i < warmup) {
            continue;
        }
        res.outliers_after_warmup += k.outlier;
        for (int j = 1; j <= 4; ++j) {
            const double tb = t + kInterval * j / 5.0;
            // The master-time result carries the flight time added to the pairs.
            const double err = std::remainder(k.syncTOA(slave.read(tb)) - master.read(tb), kP);
            res.worst_after_warmup = std::max(res.worst_after_warmup, std::fabs(err));
        }
    }
    const double end = updates * kInterval;
    res.master_wraps = master.wraps_until(end);
    res.slave_wraps = slave.wraps_until(end);
    return res;
}

}  // namespace

TEST(engine_estimation_clock_sim, ConvergesWithin100UpdatesAcrossTheWrap)
{
    struct Case {
        SimClock master, slave;
    };
    const Case cases[] = {
        {{15.0, +20.0}, {3.0, -20.0}},
        {{2.0, -20.0}, {16.9, +20.0}},
        {{17.1, +20.0}, {17.2, +20.0}},
        {{8.0, 0.0}, {0.1, -20.0}},
    };
    unsigned seed = 11;
    for (const Case& c : cases) {
        for (int rep = 0; rep < 3; ++rep, ++seed) {
            SCOPED_TRACE(testing::Message() << "master ppm " << c.master.ppm << ", slave ppm "
                                            << c.slave.ppm << ", seed " << seed);
            const SimResult r = simulate(c.master, c.slave, seed, 400, 100);
            EXPECT_LT(r.worst_after_warmup, 0.3e-9);
            EXPECT_EQ(r.outliers_after_warmup, 0);
            EXPECT_GE(r.master_wraps, 2);
            EXPECT_GE(r.slave_wraps, 2);
        }
    }
}

TEST(engine_estimation_clock_sim, KeepsTrackingThroughAnOutlierBurst)
{
    // A slave that momentarily reports receptions 3 us late: once settled, the gate
    // rejects exactly those and the mapping stays accurate.
    const SimClock master{10.0, +20.0};
    const SimClock slave{4.0, -20.0};
    std::mt19937_64 rng(5);
    std::normal_distribution<double> noise(0.0, 0.1e-9);
    CS_Kalman k;
    double worst = 0.0;
    int rejected = 0;
    for (int i = 0; i < 300; ++i) {
        const double t = i * 0.1;
        double rx = slave.read(t) + noise(rng);
        if (i >= 150 && i < 155) {
            rx = std::fmod(rx + 3e-6, kP);
        }
        k.updateFilter(rx, master.read(t));
        if (i >= 100) {
            rejected += k.outlier;
            const double tb = t + 0.05;
            worst = std::max(worst, std::fabs(std::remainder(
                                        k.syncTOA(slave.read(tb)) - master.read(tb), kP)));
        }
    }
    EXPECT_EQ(rejected, 5);
    EXPECT_LT(worst, 0.3e-9);
}
