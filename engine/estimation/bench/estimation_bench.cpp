// Costs of the estimation units on the engine's per-blink paths: a selector's geometry
// and closed-form solve (8 and 22 anchors, 2D and 3D), the two range fits of a ranging
// round, one clock-sync update and one mapping of an arrival into a master's time base,
// and a tag's motion-filter step.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "CS_Kalman.h"
#include "KalmanFilter.h"
#include "MultiLateration.h"
#include "Multivariate.h"
#include "tag_geometry.h"

namespace {

constexpr double kP = CS_Kalman::kPeriod;

// n anchors spread over a 60 x 40 m hall at two heights, so that 3D geometry is solvable.
arma::mat hall_anchors(int n)
{
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> ux(0.0, 60.0), uy(0.0, 40.0);
    arma::mat a(n, 3);
    for (int i = 0; i < n; ++i) {
        a(i, 0) = ux(rng);
        a(i, 1) = uy(rng);
        a(i, 2) = (i % 2 == 0) ? 2.5 : 6.0;
    }
    return a;
}


// What a selector does for every blink: fix the geometry, then solve once.
void BM_SetAnchorsMultilaterate(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    const int dims = static_cast<int>(state.range(1));
    const arma::mat anchors = hall_anchors(n);
    const arma::rowvec tag{21.0, 13.0, dims == 3 ? 1.2 : 0.0};
    const arma::rowvec t = tag_geometry::arrival_times(anchors, tag, dims, 1.0);
    MultiLateration ml;
    for (auto _ : state) {
        const int ok = ml.setAnchors(anchors, dims == 3);
        arma::rowvec p = ml.multilaterate(t, anchors, dims == 3);
        benchmark::DoNotOptimize(ok);
        benchmark::DoNotOptimize(p.memptr());
    }
    arma::rowvec p = ml.multilaterate(t, anchors, dims == 3);
    if (p.n_elem != 3 || arma::norm(p - tag) > 1e-6) {
        state.SkipWithError("solver gave a wrong position");
    }
}
BENCHMARK(BM_SetAnchorsMultilaterate)
    ->ArgNames({"anchors", "dims"})
    ->Args({8, 2})
    ->Args({22, 2})
    ->Args({8, 3})
    ->Args({22, 3});

// The ranging round hands the fits at most four anchors.
const arma::mat kRangingAnchors = {{0, 0, 2.5}, {12, 0, 3.0}, {0, 9, 2.0}, {12, 9, 3.5}};

void BM_Multivariate2D(benchmark::State& state)
{
    const arma::rowvec tof = tag_geometry::ranges(kRangingAnchors, arma::rowvec{4.0, 7.0, 0.0}, 2);
    for (auto _ : state) {
        arma::vec p = Multivariate2D(kRangingAnchors, tof, true);
        benchmark::DoNotOptimize(p.memptr());
    }
}
BENCHMARK(BM_Multivariate2D);

void BM_Multivariate3D(benchmark::State& state)
{
    const arma::rowvec tof = tag_geometry::ranges(kRangingAnchors, arma::rowvec{4.0, 7.0, 1.1}, 3);
    for (auto _ : state) {
        arma::vec p = Multivariate3D(kRangingAnchors, tof);
        benchmark::DoNotOptimize(p.memptr());
    }
}
BENCHMARK(BM_Multivariate3D);

// Calibration pairs of a +20 ppm master and a -20 ppm slave, 0.1 s apart, 0.1 ns noise,
// across many wraps of the device clock.
struct ClockPairs {
    std::vector<double> rx, tx;
};

ClockPairs clock_pairs(size_t count)
{
    std::mt19937_64 rng(3);
    std::normal_distribution<double> noise(0.0, 0.1e-9);
    ClockPairs pairs;
    pairs.rx.resize(count);
    pairs.tx.resize(count);
    for (size_t i = 0; i < count; ++i) {
        const double t = 0.1 * static_cast<double>(i);
        pairs.tx[i] = std::fmod(5.0 + t * (1.0 + 20e-6), kP);
        pairs.rx[i] = std::fmod(11.0 + t * (1.0 - 20e-6) + noise(rng), kP);
    }
    return pairs;
}

void BM_CSKalmanUpdate(benchmark::State& state)
{
    const ClockPairs pairs = clock_pairs(1u << 16);
    const size_t mask = pairs.rx.size() - 1;
    CS_Kalman k;
    size_t i = 0;
    for (auto _ : state) {
        if (i == 0) {
            k = CS_Kalman();  // the series restarts: so does the filter, once in 65536
        }
        k.updateFilter(pairs.rx[i], pairs.tx[i]);
        benchmark::DoNotOptimize(k.x0);
        i = (i + 1) & mask;
    }
}
BENCHMARK(BM_CSKalmanUpdate);

void BM_CSKalmanSyncTOA(benchmark::State& state)
{
    const ClockPairs pairs = clock_pairs(200);
    CS_Kalman k;
    for (size_t i = 0; i < pairs.rx.size(); ++i) {
        k.updateFilter(pairs.rx[i], pairs.tx[i]);
    }
    // Blinks around the last reception, some on the far side of a wrap.
    std::vector<double> blinks(256);
    for (size_t i = 0; i < blinks.size(); ++i) {
        blinks[i] = std::fmod(k.prevRxTime + 0.001 * static_cast<double>(i), kP);
    }
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(k.syncTOA(blinks[i]));
        i = (i + 1) & 255;
    }
}
BENCHMARK(BM_CSKalmanSyncTOA);

// One tag's three-axis Kalman smoothing step, as the solving path runs it per position.
void BM_MotionFilter(benchmark::State& state)
{
    KalmanFilter k[3];
    arma::rowvec in{1.0, 2.0, 0.5};
    arma::rowvec out(3);
    for (auto _ : state) {
        in(0) += 0.01;
        Motion_Filter(k, 0.1, in, out);
        benchmark::DoNotOptimize(out.memptr());
    }
}
BENCHMARK(BM_MotionFilter);

}  // namespace
