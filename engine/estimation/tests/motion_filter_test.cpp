// Tag motion filters: the constant-acceleration Kalman filter and the two windowed
// averages.
#include "Average.h"
#include "KalmanFilter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

TEST(engine_estimation_kalman_filter, StartMatrices)
{
    const KalmanFilter k;
    EXPECT_FALSE(k.init);
    EXPECT_EQ(k.R(0, 0), 0.075 * 0.075);
    EXPECT_EQ(k.H(0, 0), 1.0);
    EXPECT_EQ(k.H(0, 1), 0.0);
    EXPECT_EQ(k.H(0, 2), 0.0);
    EXPECT_DOUBLE_EQ(k.A(0, 1), 0.1);
    EXPECT_DOUBLE_EQ(k.A(0, 2), 0.005);
    EXPECT_DOUBLE_EQ(k.A(1, 2), 0.1);
    EXPECT_EQ(k.A(1, 0), 0.0);
    EXPECT_EQ(k.A(2, 2), 1.0);
    // Q = 0.04 * N(0.1): dt^4/4 = 2.5e-5, dt^3/2 = 5e-4, dt^2/2 = 5e-3, dt^2 = 1e-2.
    EXPECT_DOUBLE_EQ(k.Q(0, 0), 0.04 * 2.5e-5);
    EXPECT_DOUBLE_EQ(k.Q(0, 1), 0.04 * 5e-4);
    EXPECT_DOUBLE_EQ(k.Q(2, 0), 0.04 * 5e-3);
    EXPECT_DOUBLE_EQ(k.Q(1, 1), 0.04 * 1e-2);
    EXPECT_DOUBLE_EQ(k.Q(1, 2), 0.04 * 0.1);
    EXPECT_DOUBLE_EQ(k.Q(2, 2), 0.04);
    EXPECT_TRUE(arma::approx_equal(k.P, k.Q, "absdiff", 0.0));
    EXPECT_EQ(arma::accu(arma::abs(k.x)), 0.0);
}

TEST(engine_estimation_kalman_filter, FirstCallTakesLocationThenStaysOnIt)
{
    KalmanFilter k;
    const arma::mat q0 = k.Q;
    EXPECT_EQ(k.process(123.0, 4.25), 4.25);
    EXPECT_TRUE(k.init);
    EXPECT_TRUE(arma::approx_equal(k.P, q0, "absdiff", 0.0));
    EXPECT_EQ(k.process(0.1, 4.25), 4.25);
}

TEST(engine_estimation_kalman_filter, SecondStepMatchesHandComputation)
{
    KalmanFilter k;
    k.process(0.1, 1.0);
    const double out = k.process(0.2, 2.0);

    // Scalar form of the step with dt = 0.2 from x = (1, 0, 0) and P = Q(0.1).
    const double s2 = 0.04;
    auto n = [](double dt, int i, int j) {
        const double v[3][3] = {{std::pow(dt, 4) / 4, std::pow(dt, 3) / 2, dt * dt / 2},
                                {std::pow(dt, 3) / 2, dt * dt, dt},
                                {dt * dt / 2, dt, 1.0}};
        return v[i][j];
    };
    const double dt = 0.2;
    const double a[3][3] = {{1, dt, dt * dt / 2}, {0, 1, dt}, {0, 0, 1}};
    double pp00 = 0.0;  // (A P A')(0,0) + Q(0,0)
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            pp00 += a[0][i] * s2 * n(0.1, i, j) * a[0][j];
        }
    }
    pp00 += s2 * n(dt, 0, 0);
    const double gain0 = pp00 / (pp00 + 0.075 * 0.075);
    EXPECT_NEAR(out, 1.0 + gain0 * (2.0 - 1.0), 1e-12);
    EXPECT_GT(out, 1.0);
    EXPECT_LT(out, 2.0);
}

TEST(engine_estimation_kalman_filter, TracksAConstantSpeedAndSmoothsNoise)
{
    KalmanFilter k;
    std::mt19937_64 rng(3);
    std::normal_distribution<double> noise(0.0, 0.075);
    double raw_sq = 0.0, filtered_sq = 0.0;
    int counted = 0;
    for (int i = 0; i < 400; ++i) {
        const double t = i * 0.1;
        const double truth = 1.5 * t;
        const double meas = truth + noise(rng);
        const double out = k.process(0.1, meas);
        if (i >= 100) {
            raw_sq += (meas - truth) * (meas - truth);
            filtered_sq += (out - truth) * (out - truth);
            ++counted;
        }
    }
    const double raw_rms = std::sqrt(raw_sq / counted);
    const double filtered_rms = std::sqrt(filtered_sq / counted);
    EXPECT_LT(filtered_rms, 0.8 * raw_rms);
    EXPECT_NEAR(k.x(1), 1.5, 0.3);
}

TEST(engine_estimation_kalman_filter, NonFiniteInputLeavesStateAlone)
{
    KalmanFilter k;
    EXPECT_TRUE(std::isnan(k.process(0.1, NAN)));
    EXPECT_FALSE(k.init);
    k.process(0.1, 2.0);
    EXPECT_EQ(k.process(0.1, INFINITY), 2.0);
    EXPECT_EQ(k.process(NAN, 3.0), 2.0);
    EXPECT_EQ(k.process(0.1, 2.0), 2.0);
}

TEST(engine_estimation_motion_filter, FeedsEachAxisThroughItsOwnFilter)
{
    KalmanFilter k[3];
    arma::rowvec out;
    Motion_Filter(k, 0.1, arma::rowvec{1.0, 2.0, 3.0}, out);
    ASSERT_EQ(out.n_elem, 3u);
    EXPECT_EQ(out(0), 1.0);
    EXPECT_EQ(out(1), 2.0);
    EXPECT_EQ(out(2), 3.0);
    EXPECT_EQ(k[0].x(0), 1.0);
    EXPECT_EQ(k[1].x(0), 2.0);
    EXPECT_EQ(k[2].x(0), 3.0);

    // One dt for all three axes: each filter's transition carries it.
    Motion_Filter(k, 0.25, arma::rowvec{1.0, 2.0, 3.0}, out);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(k[i].A(0, 1), 0.25);
    }

    // Too short an input changes nothing.
    const arma::rowvec before = out;
    Motion_Filter(k, 0.1, arma::rowvec{9.0, 9.0}, out);
    EXPECT_TRUE(arma::approx_equal(out, before, "absdiff", 0.0));
    EXPECT_EQ(k[0].A(0, 1), 0.25);
}

TEST(engine_estimation_average, MovingAverageCountsEmptySlotsAsZero)
{
    Average a(9);
    for (int i = 1; i <= 9; ++i) {
        EXPECT_DOUBLE_EQ(a.process_ma(9.0), static_cast<double>(i));
    }
    for (int i = 0; i < 20; ++i) {
        EXPECT_DOUBLE_EQ(a.process_ma(9.0), 9.0);
    }
    EXPECT_EQ(a.filterCount, 29);
}

TEST(engine_estimation_average, TrimmedMeanDropsOneLargestAndOneSmallest)
{
    Average a(9);
    // Sample 1 with eight zeros: 1 is the maximum, a zero the minimum.
    EXPECT_DOUBLE_EQ(a.process_me(1.0), 0.0);
    // 1, 2 and seven zeros: (3 - 2 - 0) / 7.
    EXPECT_DOUBLE_EQ(a.process_me(2.0), 1.0 / 7.0);
    double out = 0.0;
    for (int s = 3; s <= 9; ++s) {
        out = a.process_me(s);
    }
    EXPECT_DOUBLE_EQ(out, (45.0 - 9.0 - 1.0) / 7.0);
    // Ties: three equal maxima, only one is dropped.
    Average t(3);
    t.process_me(4.0);
    t.process_me(4.0);
    EXPECT_DOUBLE_EQ(t.process_me(4.0), 4.0);
    EXPECT_EQ(t.sum, 0.0);  // the trimmed mean does not use the running sum
}

TEST(engine_estimation_average, ConfigureRefusesLengthsOutsideTheRing)
{
    Average a(9);
    a.process_ma(3.0);
    EXPECT_FALSE(a.Configure(0));
    EXPECT_FALSE(a.Configure(-5));
    EXPECT_FALSE(a.Configure(1025));
    EXPECT_FALSE(a.Configure(2, Average::kMinTrimmedLength));
    EXPECT_EQ(a.filterLength, 9);
    EXPECT_EQ(a.filterCount, 1);
    EXPECT_DOUBLE_EQ(a.process_ma(3.0), 6.0 / 9.0);

    EXPECT_TRUE(a.Configure(1024));
    EXPECT_TRUE(a.Configure(1));
    EXPECT_DOUBLE_EQ(a.process_ma(7.0), 7.0);
    EXPECT_TRUE(a.Configure(3, Average::kMinTrimmedLength));
}

TEST(engine_estimation_average, ConfigureShorterWindowRecomputesSumAndWrapsWritePosition)
{
    Average a(9);
    for (int s = 1; s <= 7; ++s) {
        a.process_ma(s);
    }
    ASSERT_EQ(a.inPtr, 7);
    ASSERT_TRUE(a.Configure(4));
    EXPECT_EQ(a.filterCount, 0);
    EXPECT_EQ(a.inPtr, 3);
    EXPECT_DOUBLE_EQ(a.sum, 1.0 + 2.0 + 3.0 + 4.0);
    // Overwrites slot 3 (the sample 4): (1 + 2 + 3 + 10) / 4.
    EXPECT_DOUBLE_EQ(a.process_ma(10.0), 4.0);
    EXPECT_EQ(a.inPtr, 0);
    // No bias from the old window: four equal samples give that sample.
    for (int i = 0; i < 3; ++i) {
        a.process_ma(5.0);
    }
    EXPECT_DOUBLE_EQ(a.process_ma(5.0), 5.0);
}

TEST(engine_estimation_average, ConfigureLongerWindowKeepsTheRing)
{
    Average a(3);
    for (int s = 1; s <= 3; ++s) {
        a.process_ma(s);
    }
    ASSERT_TRUE(a.Configure(5));
    EXPECT_DOUBLE_EQ(a.sum, 6.0);
    EXPECT_EQ(a.inPtr, 0);
    EXPECT_DOUBLE_EQ(a.process_ma(4.0), (4.0 + 2.0 + 3.0) / 5.0);
}

TEST(engine_estimation_average, ShortWindowTrimmedMeanNeverDividesByZero)
{
    Average a(9);
    ASSERT_TRUE(a.Configure(2));
    a.process_me(2.0);
    EXPECT_DOUBLE_EQ(a.process_me(4.0), 3.0);
    Average b(1);
    EXPECT_DOUBLE_EQ(b.process_me(6.0), 6.0);
}

TEST(engine_estimation_average, ConstructorBringsLengthIntoRange)
{
    EXPECT_EQ(Average(0).filterLength, 1);
    EXPECT_EQ(Average(5000).filterLength, 1024);
    EXPECT_EQ(Average().filterLength, 9);
    const Average a(9);
    EXPECT_EQ(a.sum, 0.0);
    EXPECT_EQ(a.inPtr, 0);
    EXPECT_EQ(a.buffer[1023], 0.0);
}

TEST(engine_estimation_motion_averages, FilterEachAxis)
{
    Average ma[3] = {Average(2), Average(2), Average(2)};
    Average me[3] = {Average(3), Average(3), Average(3)};
    arma::rowvec out;
    Motion_Filter_MA(ma, arma::rowvec{2.0, 4.0, 6.0}, out);
    ASSERT_EQ(out.n_elem, 3u);
    EXPECT_DOUBLE_EQ(out(0), 1.0);
    EXPECT_DOUBLE_EQ(out(1), 2.0);
    EXPECT_DOUBLE_EQ(out(2), 3.0);

    const arma::rowvec samples[] = {{1.0, 10.0, 7.0}, {2.0, 20.0, 8.0}, {3.0, 30.0, 9.0}};
    for (const arma::rowvec& s : samples) {
        Motion_Filter_ME(me, s, out);
    }
    EXPECT_DOUBLE_EQ(out(0), 2.0);
    EXPECT_DOUBLE_EQ(out(1), 20.0);
    EXPECT_DOUBLE_EQ(out(2), 8.0);

    arma::rowvec kept{5.0, 5.0, 5.0};
    Motion_Filter_MA(ma, arma::rowvec{1.0}, kept);
    EXPECT_DOUBLE_EQ(kept(0), 5.0);
    EXPECT_EQ(ma[0].filterCount, 1);
}
