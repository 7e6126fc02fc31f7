// The clock-sync job against simulated anchor clocks: reports built from a master's and a
// slave's clock (offsets, rates of +-20 ppm, rates drifting apart by up to 0.001 ppm/s, 0.1 ns
// reception noise, flight time from the positions, CCPs every 100 ms, both clocks wrapping) fed
// through the job; the slot the selectors read must map slave times to master times within
// 0.3 ns once 100 updates are in.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "clocksync_test_support.h"

namespace {

constexpr double kP = 17.207401025641026;
constexpr double kC = 299702547.0;

struct SimClock {
    double offset;     // reading at true time 0, s
    double ppm;        // rate error at true time 0
    double drift_ppm;  // change of the rate error per second
    double unwrapped(double t) const { return offset + t + 1e-6 * (ppm * t + 0.5 * drift_ppm * t * t); }
    double read(double t) const { return std::fmod(unwrapped(t), kP); }
};

struct Case {
    SimClock master, slave;
    double slave_pos[3];  // master at the origin
};

struct Outcome {
    double worst = 0.0;  // s, over the blinks after the 100th update
    int updates = 0;
    int master_wraps = 0;
    int slave_wraps = 0;
    int waited = 0;  // receptions that arrived before their transmit report
};

Outcome run(const Case& c, unsigned seed)
{
    constexpr int kCcps = 400;
    constexpr double kInterval = 0.1;
    cst::FakePorts fake;
    ClockSyncJob job(fake.ports());
    Anchor* master = cst::prepare_anchor(80, 0xC080);
    Anchor* slave = cst::prepare_anchor(81, 0xC081, c.slave_pos[0], c.slave_pos[1], c.slave_pos[2]);
    cst::follow(slave, master);
    const double flight = std::sqrt(c.slave_pos[0] * c.slave_pos[0] + c.slave_pos[1] * c.slave_pos[1] +
                                    c.slave_pos[2] * c.slave_pos[2]) / kC;
    std::mt19937_64 rng(seed);
    std::normal_distribution<double> noise(0.0, 0.1e-9);
    std::bernoulli_distribution late_tx(0.3);

    auto feed = [&](WORD16 id, const std::vector<BYTE>& payload) {
        const std::vector<BYTE> body = cst::frame_body(id, payload);
        job.ccp_rcv(cst::as_sock_data(body));
    };
    Outcome out;
    WORD64 last_update = 0;
    for (int i = 0; i < kCcps; ++i) {
        fake.now = 1000 + 100 * static_cast<WORD64>(i);
        const double t = 1.0 + i * kInterval;
        const BYTE seq = static_cast<BYTE>(i);
        const auto tx = cst::tx_payload(seq, cst::ticks_of(c.master.read(t)));
        const auto rx = cst::rx_payload(seq, master->hardware_id,
                                        cst::ticks_of(c.slave.read(t + flight) + noise(rng)), 800);
        if (late_tx(rng)) {
            out.waited += master->validCCPSeqNum[seq] != seq ? 1 : 0;
            feed(slave->id, rx);
            feed(master->id, tx);
        } else {
            feed(master->id, tx);
            feed(slave->id, rx);
        }
        const ClockSync pair = slave->cs_snapshot(0);
        if (pair.last_update_time != last_update) {
            last_update = pair.last_update_time;
            ++out.updates;
        }
        if (out.updates < 100) {
            continue;
        }
        for (int j = 1; j <= 4; ++j) {
            const double tb = t + kInterval * j / 5.0;
            const double err = std::remainder(pair.cs_kalman.syncTOA(c.slave.read(tb)) - c.master.read(tb), kP);
            out.worst = std::max(out.worst, std::fabs(err));
        }
    }
    const double end = 1.0 + kCcps * kInterval;
    out.master_wraps = static_cast<int>(c.master.unwrapped(end) / kP) - static_cast<int>(c.master.unwrapped(1.0) / kP);
    out.slave_wraps = static_cast<int>(c.slave.unwrapped(end) / kP) - static_cast<int>(c.slave.unwrapped(1.0) / kP);
    return out;
}

}  // namespace

TEST(engine_clocksync_Accuracy, PairMapsSlaveToMasterTimeWithinAThirdOfANanosecond)
{
    const Case cases[] = {
        {{15.0, +20.0, 0.0005}, {3.0, -20.0, -0.0005}, {12.0, 5.0, 2.5}},
        {{2.0, -20.0, -0.0003}, {16.9, +20.0, 0.0005}, {0.0, 30.0, 0.0}},
        {{17.1, +20.0, 0.0}, {17.2, +20.0, 0.0005}, {40.0, 40.0, 3.0}},
        {{8.0, 0.0, 0.0005}, {0.1, -20.0, 0.0}, {1.0, 1.0, 0.0}},
    };
    unsigned seed = 21;
    for (const Case& c : cases) {
        for (int rep = 0; rep < 2; ++rep, ++seed) {
            SCOPED_TRACE(testing::Message() << "master " << c.master.ppm << " ppm, slave " << c.slave.ppm
                                            << " ppm, seed " << seed);
            const Outcome o = run(c, seed);
            EXPECT_GE(o.updates, 390);  // every CCP but the first fed the filter
            EXPECT_GT(o.waited, 50);    // the pending path carried a good part of them
            EXPECT_GE(o.master_wraps, 2);
            EXPECT_GE(o.slave_wraps, 2);
            EXPECT_LT(o.worst, 0.3e-9);
            EXPECT_GT(o.worst, 0.0);
        }
    }
}
