// Clock-sync filter: the update and mapping rules on hand-worked pairs.
#include "CS_Kalman.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

constexpr double kP = CS_Kalman::kPeriod;
constexpr double kFlight = 3.3e-8;

// Feeds n pairs of a slave running at exactly the master's rate, 0.1 s apart.
void feed_perfect_pairs(CS_Kalman& k, int n, double& master, double offset)
{
    for (int i = 0; i < n; ++i) {
        master += 0.1;
        k.updateFilter(std::fmod(master + offset, kP), std::fmod(master, kP));
    }
}

struct Snapshot {
    double prevTxTime, x0, x1, p0, p1, p2, p3;
};

Snapshot snap(const CS_Kalman& k)
{
    return {k.prevTxTime, k.x0, k.x1, k.p0, k.p1, k.p2, k.p3};
}

void expect_same(const Snapshot& a, const Snapshot& b)
{
    EXPECT_EQ(a.prevTxTime, b.prevTxTime);
    EXPECT_EQ(a.x0, b.x0);
    EXPECT_EQ(a.x1, b.x1);
    EXPECT_EQ(a.p0, b.p0);
    EXPECT_EQ(a.p1, b.p1);
    EXPECT_EQ(a.p2, b.p2);
    EXPECT_EQ(a.p3, b.p3);
}

}  // namespace

TEST(engine_estimation_cs_kalman, StartValues)
{
    CS_Kalman k;
    EXPECT_EQ(k.id, 0);
    EXPECT_EQ(k.measNoiseVar, 3e-20);
    EXPECT_EQ(k.processNoiseVar, 5e-20);
    EXPECT_FALSE(k.init);
    EXPECT_EQ(k.x0, 0.0);
    EXPECT_EQ(k.x1, 1.0);
    EXPECT_EQ(k.counter, 0);
    EXPECT_EQ(k.outlier_counter, 0);
    EXPECT_EQ(k.p0 + k.p1 + k.p2 + k.p3, 0.0);
    EXPECT_EQ(k.outlier, 0);
}

TEST(engine_estimation_cs_kalman, FirstPairSetsStateAndLeavesCovarianceZero)
{
    CS_Kalman k;
    k.outlier = 7;  // the first pair must not touch it
    k.updateFilter(5.0, 3.0 + kFlight);
    EXPECT_TRUE(k.init);
    EXPECT_EQ(k.x0, 5.0);
    EXPECT_EQ(k.x1, 1.0);
    EXPECT_EQ(k.prevTxTime, 3.0 + kFlight);
    EXPECT_EQ(k.prevRxTime, 5.0);
    EXPECT_EQ(k.counter, 1);
    EXPECT_EQ(k.p0, 0.0);
    EXPECT_EQ(k.p1, 0.0);
    EXPECT_EQ(k.p2, 0.0);
    EXPECT_EQ(k.p3, 0.0);
    EXPECT_EQ(k.outlier, 7);
}

TEST(engine_estimation_cs_kalman, SecondPairFollowsTheKalmanEquations)
{
    CS_Kalman k;
    k.updateFilter(5.0, 3.0);
    // Master step 1 s; the slave reading comes 2 us later than predicted.
    const double e = 2e-6;
    k.updateFilter(6.0 + e, 4.0);

    const double q = 5e-20, r = 3e-20, dt = 1.0;
    const double p0 = 0.5 * dt * dt * q;
    const double p1 = q * 0.7071067811865476 * dt;
    const double p3 = q;
    const double s = p0 + r;
    const double k0 = p0 / s, k1 = p1 / s;
    EXPECT_DOUBLE_EQ(k.dt, 1.0);
    EXPECT_NEAR(k.measuredError, e, 1e-15);
    EXPECT_EQ(k.outlier, 0);
    EXPECT_NEAR(k.x0, 6.0 + e * k0, 1e-14);
    EXPECT_NEAR(k.x1, 1.0 + e * k1, 1e-14);
    EXPECT_NEAR(k.p0, p0 - p0 * k0, 1e-35);
    EXPECT_NEAR(k.p1, p1 - p1 * k0, 1e-35);
    EXPECT_NEAR(k.p2, p1 - p0 * k1, 1e-35);
    EXPECT_NEAR(k.p3, p3 - p1 * k1, 1e-35);
    EXPECT_DOUBLE_EQ(k.prevTxTime, 4.0);
}

TEST(engine_estimation_cs_kalman, WrappedMasterTimeGivesPositiveStep)
{
    CS_Kalman k;
    k.updateFilter(17.0, 17.0);
    k.updateFilter(0.3, 0.3);  // both clocks wrapped
    EXPECT_NEAR(k.dt, 0.3 - 17.0 + kP, 1e-12);
    EXPECT_GT(k.dt, 0.0);
    EXPECT_NEAR(k.measuredError, 0.0, 1e-12);
    EXPECT_NEAR(k.x0, 0.3, 1e-12);
}

TEST(engine_estimation_cs_kalman, InnovationAcrossWrapIsSmall)
{
    // The prediction lands 2 us before the wrap; the slave's reading, 10 us later than
    // predicted, has already wrapped. The innovation is +10 us, not about -P.
    CS_Kalman k;
    k.updateFilter(17.0, 17.0);
    const double rx = 8e-6;
    k.updateFilter(rx, kP - 2e-6);
    ASSERT_NEAR(k.dt, kP - 2e-6 - 17.0, 1e-12);
    EXPECT_NEAR(k.measuredError, 1e-5, 1e-12);
    EXPECT_GT(k.x1, 1.0);
    EXPECT_LT(k.x1 - 1.0, 1e-4);  // a -P innovation would push the rate far off
    EXPECT_GE(k.x0, 0.0);
    EXPECT_LT(k.x0, kP);
}

TEST(engine_estimation_cs_kalman, GateOpenDuringWarmUpThenRejectsAndRestores)
{
    CS_Kalman k;
    double master = 1.0;
    feed_perfect_pairs(k, 29, master, 2.0);
    ASSERT_EQ(k.counter, 29);

    // Call 30: still in warm-up, a 1 ms jump is taken.
    master += 0.1;
    k.updateFilter(std::fmod(master + 2.0 + 1e-3, kP), master);
    EXPECT_EQ(k.outlier, 0);
    EXPECT_NEAR(k.measuredError, 1e-3, 1e-9);

    // Call 31 on a filter fed 30 clean pairs: the gate is now open and the same jump
    // is rejected.
    CS_Kalman b;
    master = 1.0;
    feed_perfect_pairs(b, 30, master, 2.0);
    master += 0.1;
    b.updateFilter(std::fmod(master + 2.0 + 1e-3, kP), master);
    EXPECT_EQ(b.counter, 31);
    EXPECT_EQ(b.outlier, 1);

    // Re-settle, then a jump on a call beyond 30 is rejected.
    CS_Kalman g;
    master = 1.0;
    feed_perfect_pairs(g, 35, master, 2.0);
    const Snapshot before = snap(g);
    const int counter_before = g.counter;
    master += 0.1;
    const double bad_rx = std::fmod(master + 2.0 + 1e-3, kP);
    g.updateFilter(bad_rx, master);
    EXPECT_EQ(g.outlier, 1);
    EXPECT_EQ(g.measuredError, 0.0);
    EXPECT_EQ(g.outlier_counter, 1);
    EXPECT_EQ(g.counter, counter_before + 1);
    EXPECT_EQ(g.prevRxTime, bad_rx);
    expect_same(before, snap(g));

    // The next good pair spans both intervals and is accepted.
    master += 0.1;
    g.updateFilter(std::fmod(master + 2.0, kP), master);
    EXPECT_EQ(g.outlier, 0);
    EXPECT_NEAR(g.dt, 0.2, 1e-9);
    EXPECT_EQ(g.outlier_counter, 0);
}

TEST(engine_estimation_cs_kalman, TenRejectionsReopenTheWarmUp)
{
    CS_Kalman k;
    double master = 1.0;
    feed_perfect_pairs(k, 40, master, 2.0);
    for (int i = 0; i < 9; ++i) {
        master += 0.1;
        k.updateFilter(std::fmod(master + 2.5, kP), master);
        ASSERT_EQ(k.outlier, 1);
    }
    EXPECT_EQ(k.outlier_counter, 9);
    master += 0.1;
    k.updateFilter(std::fmod(master + 2.5, kP), master);
    EXPECT_EQ(k.outlier, 1);
    EXPECT_EQ(k.outlier_counter, 0);
    EXPECT_EQ(k.counter, 0);

    // Warm-up again: the same jump is now taken.
    master += 0.1;
    k.updateFilter(std::fmod(master + 2.5, kP), master);
    EXPECT_EQ(k.outlier, 0);
    EXPECT_NEAR(k.measuredError, 0.5, 1e-6);
    EXPECT_EQ(k.counter, 1);
}

TEST(engine_estimation_cs_kalman, CounterSaturatesAtFifty)
{
    CS_Kalman k;
    double master = 0.5;
    feed_perfect_pairs(k, 200, master, 0.0);
    EXPECT_EQ(k.counter, 50);
}

TEST(engine_estimation_cs_kalman, NonFinitePairIsIgnored)
{
    CS_Kalman k;
    k.updateFilter(5.0, 3.0);
    const Snapshot before = snap(k);
    k.updateFilter(NAN, 3.1);
    k.updateFilter(5.1, INFINITY);
    expect_same(before, snap(k));
    EXPECT_EQ(k.counter, 1);
    EXPECT_EQ(k.prevRxTime, 5.0);
}

TEST(engine_estimation_cs_kalman, SyncToaOfUnfedFilterIsTheTimeWrapped)
{
    const CS_Kalman k;
    EXPECT_DOUBLE_EQ(k.syncTOA(3.25), 3.25);
    EXPECT_NEAR(k.syncTOA(kP + 1.0), 1.0, 1e-12);
    EXPECT_NEAR(k.syncTOA(-1.0), kP - 1.0, 1e-12);
}

TEST(engine_estimation_cs_kalman, SyncToaRelatesBlinkToLastReception)
{
    CS_Kalman k;
    k.init = true;
    k.x1 = 1.0 + 1e-5;

    // Blink far after the last reception: a reading from before the wrap. d -= P,
    // then the wrap of the result lifts it: m = x0' + (blink - P - x0)/x1 + P.
    k.x0 = 0.2;
    k.prevRxTime = 0.2;
    k.prevTxTime = 0.1;
    double blink = 17.1;
    double expected = std::fmod((blink - kP - k.x0) / k.x1 + k.prevTxTime + kP, kP);
    EXPECT_NEAR(k.syncTOA(blink), expected, 1e-12);
    EXPECT_NEAR(k.syncTOA(blink), 17.1 - kP + 0.1 - 0.2 + kP - (17.1 - kP - 0.2) * 1e-5,
                1e-9);

    // Blink far before the last reception: a reading from after the wrap; d += P.
    k.x0 = 17.1;
    k.prevRxTime = 17.1;
    k.prevTxTime = 16.0;
    blink = 0.05;
    expected = std::fmod((blink + kP - k.x0) / k.x1 + k.prevTxTime, kP);
    EXPECT_NEAR(k.syncTOA(blink), expected, 1e-12);

    // A blink just before x0 with prevTxTime near zero comes out negative and is
    // lifted by P.
    k.x0 = 5.0;
    k.prevRxTime = 5.0;
    k.prevTxTime = 0.01;
    blink = 4.9;
    EXPECT_NEAR(k.syncTOA(blink), (blink - 5.0) / k.x1 + 0.01 + kP, 1e-12);
}

TEST(engine_estimation_cs_kalman, SyncToaFixesBlinkAndStateOnOppositeSidesOfTheWrap)
{
    // x0 lies before the wrap, the last (rejected) reception and the blink after it.
    // The last-reception rule sees nothing to correct; d would be about -P and the
    // 20 ppm rate would put the result 344 us off.
    CS_Kalman k;
    k.init = true;
    k.x1 = 1.0 + 20e-6;
    k.x0 = 17.15;
    k.prevTxTime = 12.0;
    k.prevRxTime = 0.05;
    const double blink = 0.06;
    const double true_d = blink + kP - k.x0;  // 0.1174 s of slave time after x0
    const double expected = k.prevTxTime + true_d / k.x1;
    EXPECT_NEAR(k.syncTOA(blink), expected, 1e-12);
}

TEST(engine_estimation_cs_kalman, SyncToaDoesNotChangeTheFilter)
{
    CS_Kalman k;
    double master = 0.5;
    feed_perfect_pairs(k, 5, master, 1.0);
    const Snapshot before = snap(k);
    const double rx = k.prevRxTime;
    (void)k.syncTOA(3.0);
    k.log(1.0, 2.0, 3);
    expect_same(before, snap(k));
    EXPECT_EQ(k.prevRxTime, rx);
}

TEST(engine_estimation_cs_kalman, ResultStaysInsideThePeriod)
{
    CS_Kalman k;
    k.init = true;
    // d/x1 + prevTxTime = -1e-17: lifting it by P rounds to P itself.
    const double t = k.syncTOA(-1e-17);
    EXPECT_GE(t, 0.0);
    EXPECT_LT(t, kP);
}
