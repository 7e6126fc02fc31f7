// The accuracy tool's Monte Carlo: summary statistics, exact solves without noise, and
// the default site's figures against the bound.
#include "accuracy/trial.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>

namespace {

accuracy::Site hall(int anchors, int dims)
{
    accuracy::Site s;
    s.anchors = accuracy::wall_anchors(30, 20, anchors, dims, 2.5, 5.0);
    s.dims = dims;
    s.plane_z = 2.5;
    s.x_max = 30;
    s.y_max = 20;
    s.tag_z_min = 0.3;
    s.tag_z_max = 2.0;
    return s;
}

}  // namespace

TEST(accuracy_trial, SummaryUsesNearestRankPercentiles)
{
    std::vector<double> v(100);
    std::iota(v.begin(), v.end(), 1.0);
    std::swap(v[3], v[90]);
    const accuracy::ErrorSummary s = accuracy::summarise(v);
    EXPECT_EQ(s.count, 100u);
    EXPECT_EQ(s.median, 50.0);
    EXPECT_EQ(s.p95, 95.0);
    // sum k^2 for k = 1..100 is 338350.
    EXPECT_DOUBLE_EQ(s.rms, std::sqrt(3383.5));
    EXPECT_TRUE(std::isnan(accuracy::summarise({}).median));
}

TEST(accuracy_trial, NoNoiseMeansNoError)
{
    accuracy::TrialConfig c;
    c.tags = 200;
    c.arrival_sigma_s = 0.0;
    c.range_sigma_m = 0.0;
    for (const int dims : {2, 3}) {
        const auto reports = accuracy::run_trials(hall(8, dims), c);
        ASSERT_EQ(reports.size(), 2u);
        for (const accuracy::SolverReport& r : reports) {
            SCOPED_TRACE(r.solver);
            EXPECT_EQ(r.failed, 0u);
            EXPECT_EQ(r.errors.count, 200u);
            EXPECT_LT(r.errors.p95, 1e-6);
            EXPECT_EQ(r.bound.count, 0u);  // no noise, no bound
        }
    }
}

TEST(accuracy_trial, DefaultSiteIsCloseToTheBound)
{
    accuracy::TrialConfig c;
    c.range_sigma_m = c.arrival_sigma_s * 299702547.0;
    const auto reports = accuracy::run_trials(hall(8, 2), c);
    ASSERT_EQ(reports.size(), 2u);
    const accuracy::SolverReport& closed = reports[0];
    EXPECT_EQ(closed.solver, "MultiLateration 2D");
    EXPECT_EQ(closed.failed, 0u);
    EXPECT_LE(closed.errors.median, 0.04);
    EXPECT_LE(closed.errors.p95, 0.13);
    for (const accuracy::SolverReport& r : reports) {
        SCOPED_TRACE(r.solver);
        EXPECT_EQ(r.bound.count, 4000u);
        // No unbiased solver beats the bound beyond the sampling spread of 4000 tags,
        // and these closed forms stay within a small factor of it.
        EXPECT_GT(r.errors.rms / r.bound.rms, 0.95);
        EXPECT_LT(r.errors.rms / r.bound.rms, 3.0);
        EXPECT_GT(r.errors.median / r.bound.median, 0.9);
    }
}
