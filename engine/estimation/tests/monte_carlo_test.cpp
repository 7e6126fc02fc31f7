// Seeded Monte Carlo on an 8-anchor 30 x 20 m site: every solver exact on ideal
// timestamps, and the closed form's error spread under 0.1 ns arrival noise.
#include "MultiLateration.h"
#include "Multivariate.h"
#include "tag_geometry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace {

using tag_geometry::distance;
using tag_geometry::kC;
constexpr double kHeight = 2.5;  // anchors and tags in one plane for the 2D model

arma::mat site_anchors()
{
    // Corners and edge midpoints of a 30 x 20 m hall.
    return {{0, 0, kHeight},   {15, 0, kHeight},  {30, 0, kHeight}, {30, 10, kHeight},
            {30, 20, kHeight}, {15, 20, kHeight}, {0, 20, kHeight}, {0, 10, kHeight}};
}

// Puts the anchor that hears the blink first in row 0, as the reference.
void reference_first(arma::mat& anchors, arma::rowvec& times)
{
    const arma::uword first = times.index_min();
    anchors.swap_rows(0, first);
    times.swap_cols(0, first);
}

double percentile(std::vector<double> v, double q)
{
    std::sort(v.begin(), v.end());
    const size_t idx = static_cast<size_t>(std::ceil(q * static_cast<double>(v.size()))) - 1;
    return v[std::min(idx, v.size() - 1)];
}

}  // namespace

TEST(engine_estimation_monte_carlo, IdealTimestampsAreExactForEverySolver)
{
    std::mt19937_64 rng(101);
    std::uniform_real_distribution<double> ux(0.5, 29.5), uy(0.5, 19.5), uz(0.3, 2.0);
    const arma::mat site = site_anchors();
    arma::mat site3d = site;
    for (arma::uword i = 0; i < site3d.n_rows; i += 2) {
        site3d(i, 2) = 5.0;  // alternate heights so the anchors span space
    }
    MultiLateration ml;
    for (int n = 0; n < 500; ++n) {
        const arma::rowvec tag2{ux(rng), uy(rng), kHeight};
        const arma::rowvec tag3{tag2(0), tag2(1), uz(rng)};

        arma::mat anchors = site;
        arma::rowvec times(anchors.n_rows);
        for (arma::uword i = 0; i < anchors.n_rows; ++i) {
            times(i) = distance(anchors, i, tag2, 2) / kC;
        }
        reference_first(anchors, times);
        ASSERT_EQ(ml.setAnchors(anchors, 0), 1);
        arma::rowvec p = ml.multilaterate(times, anchors, 0);
        ASSERT_EQ(p.n_elem, 3u);
        EXPECT_LT(std::hypot(p(0) - tag2(0), p(1) - tag2(1)), 1e-6);

        anchors = site3d;
        for (arma::uword i = 0; i < anchors.n_rows; ++i) {
            times(i) = distance(anchors, i, tag3, 3) / kC;
        }
        reference_first(anchors, times);
        ASSERT_EQ(ml.setAnchors(anchors, 1), 1);
        p = ml.multilaterate(times, anchors, 1);
        ASSERT_EQ(p.n_elem, 3u);
        EXPECT_LT(arma::norm(p - tag3), 1e-6);

        arma::rowvec ranges(site.n_rows);
        for (arma::uword i = 0; i < site.n_rows; ++i) {
            ranges(i) = distance(site, i, tag2, 2);
        }
        const arma::vec q2 = Multivariate2D(site, ranges, true);
        ASSERT_EQ(q2.n_elem, 2u);
        EXPECT_LT(std::hypot(q2(0) - tag2(0), q2(1) - tag2(1)), 1e-6);

        for (arma::uword i = 0; i < site3d.n_rows; ++i) {
            ranges(i) = distance(site3d, i, tag3, 3);
        }
        const arma::vec q3 = Multivariate3D(site3d, ranges);
        ASSERT_EQ(q3.n_elem, 3u);
        EXPECT_LT(arma::norm(q3 - tag3.t()), 1e-6);
    }
}

TEST(engine_estimation_monte_carlo, ClosedFormErrorSpreadAt100ps)
{
    std::mt19937_64 rng(2024);
    std::uniform_real_distribution<double> ux(0.0, 30.0), uy(0.0, 20.0);
    std::normal_distribution<double> noise(0.0, 0.1e-9);
    const arma::mat site = site_anchors();
    MultiLateration ml;
    std::vector<double> errors;
    errors.reserve(4000);
    for (int n = 0; n < 4000; ++n) {
        const arma::rowvec tag{ux(rng), uy(rng), kHeight};
        arma::mat anchors = site;
        arma::rowvec times(anchors.n_rows);
        for (arma::uword i = 0; i < anchors.n_rows; ++i) {
            times(i) = 0.25 + distance(anchors, i, tag, 2) / kC + noise(rng);
        }
        reference_first(anchors, times);
        ASSERT_EQ(ml.setAnchors(anchors, 0), 1);
        const arma::rowvec p = ml.multilaterate(times, anchors, 0);
        ASSERT_EQ(p.n_elem, 3u);
        errors.push_back(std::hypot(p(0) - tag(0), p(1) - tag(1)));
    }
    const double median = percentile(errors, 0.5);
    const double p95 = percentile(errors, 0.95);
    RecordProperty("median_m", std::to_string(median));
    RecordProperty("p95_m", std::to_string(p95));
    EXPECT_LE(median, 0.04);
    EXPECT_LE(p95, 0.13);
    // The noise is real: a solver that ignored the times could not be this close, and
    // one that returned the truth would be suspicious.
    EXPECT_GT(median, 0.005);
}
