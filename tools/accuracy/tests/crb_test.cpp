// Cramér–Rao bounds on hand-worked geometries, and against the bound computed from the
// full information matrix of position and emission time.
#include "accuracy/crb.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

void expect_matrix(const arma::mat& got, const arma::mat& want, double tol)
{
    ASSERT_EQ(got.n_rows, want.n_rows);
    ASSERT_EQ(got.n_cols, want.n_cols);
    for (arma::uword i = 0; i < want.n_rows; ++i) {
        for (arma::uword j = 0; j < want.n_cols; ++j) {
            EXPECT_NEAR(got(i, j), want(i, j), tol) << "element " << i << "," << j;
        }
    }
}

}  // namespace

TEST(accuracy_crb, ThreeAnchorsRoundTheTagIn2D)
{
    // Tag at the origin, anchors at (1,0), (0,1), (-1,0): directions anchor -> tag
    // (-1,0), (0,-1), (1,0). Ranges: information sum u u' = diag(2, 1), bound
    // diag(1/2, 1). Arrival times: the mean direction (0, -1/3) is removed first,
    // sum (u - m)(u - m)' = diag(2, 1/9 + 4/9 + 1/9) = diag(2, 2/3), bound diag(1/2, 3/2).
    const arma::mat anchors = {{1, 0, 7}, {0, 1, 7}, {-1, 0, 7}};
    const arma::vec tag{0.0, 0.0};
    expect_matrix(accuracy::crb_ranges(anchors, tag, 1.0), arma::mat{{0.5, 0}, {0, 1.0}}, 1e-12);
    expect_matrix(accuracy::crb_tdoa(anchors, tag, 1.0), arma::mat{{0.5, 0}, {0, 1.5}}, 1e-12);
    EXPECT_NEAR(accuracy::crb_rms(accuracy::crb_tdoa(anchors, tag, 1.0)), std::sqrt(2.0), 1e-12);
    // The bound scales with the noise variance: 3 cm gives 9e-4 times the above.
    expect_matrix(accuracy::crb_tdoa(anchors, tag, 0.03),
                  arma::mat{{0.5 * 9e-4, 0}, {0, 1.5 * 9e-4}}, 1e-15);
}

TEST(accuracy_crb, SixAnchorsOnTheAxesIn3D)
{
    // Anchors 2 m from the tag along +-x, +-y, +-z: sum u u' = 2 I and the directions
    // cancel, so both bounds are sigma^2 / 2 I; sigma 0.1 m gives 0.005 I.
    const arma::vec tag{1.0, 1.0, 1.0};
    const arma::mat anchors = {{3, 1, 1}, {-1, 1, 1}, {1, 3, 1}, {1, -1, 1}, {1, 1, 3}, {1, 1, -1}};
    const arma::mat want = 0.005 * arma::eye(3, 3);
    expect_matrix(accuracy::crb_ranges(anchors, tag, 0.1), want, 1e-15);
    expect_matrix(accuracy::crb_tdoa(anchors, tag, 0.1), want, 1e-15);
    EXPECT_NEAR(accuracy::crb_rms(want), std::sqrt(0.015), 1e-15);
}

TEST(accuracy_crb, ArrivalBoundEqualsTheFullInformationWithEmissionTime)
{
    // Independent route: invert the (d+1) x (d+1) information of (position, c * tau)
    // with rows [u', 1] and take the position block.
    std::mt19937_64 rng(9);
    std::uniform_real_distribution<double> u(0.0, 25.0);
    for (int trial = 0; trial < 20; ++trial) {
        for (const int d : {2, 3}) {
            arma::mat anchors(7, 3);
            for (double& e : anchors) {
                e = u(rng);
            }
            arma::vec tag(d);
            for (double& e : tag) {
                e = u(rng);
            }
            arma::mat g(anchors.n_rows, d + 1);
            for (arma::uword i = 0; i < anchors.n_rows; ++i) {
                const arma::vec diff = tag - anchors.row(i).cols(0, d - 1).t();
                g.row(i).cols(0, d - 1) = (diff / arma::norm(diff)).t();
                g(i, d) = 1.0;
            }
            const double sigma = 0.03;
            const arma::mat full = arma::inv(g.t() * g / (sigma * sigma));
            expect_matrix(accuracy::crb_tdoa(anchors, tag, sigma),
                          full.submat(0, 0, d - 1, d - 1), 1e-9 * arma::abs(full).max());
        }
    }
}

TEST(accuracy_crb, SingularInformationGivesNoBound)
{
    const arma::mat two = {{0, 0, 0}, {10, 0, 0}};
    // Two anchors: the arrival-time difference fixes one direction only.
    EXPECT_TRUE(accuracy::crb_tdoa(two, arma::vec{3.0, 4.0}, 0.03).is_empty());
    // Two ranges fix a tag off their line (up to the mirror image).
    EXPECT_EQ(accuracy::crb_ranges(two, arma::vec{3.0, 4.0}, 0.03).n_rows, 2u);
    // A tag on the anchors' line: every direction is along it.
    EXPECT_TRUE(accuracy::crb_ranges(two, arma::vec{15.0, 0.0}, 0.03).is_empty());
    // On an anchor, or with unusable input.
    const arma::mat square = {{0, 0, 0}, {10, 0, 0}, {0, 10, 0}, {10, 10, 0}};
    EXPECT_TRUE(accuracy::crb_tdoa(square, arma::vec{10.0, 0.0}, 0.03).is_empty());
    EXPECT_TRUE(accuracy::crb_tdoa(square, arma::vec{3.0, 4.0}, 0.0).is_empty());
    EXPECT_TRUE(accuracy::crb_tdoa(square, arma::vec{3.0, 4.0, 1.0, 1.0}, 0.03).is_empty());
    EXPECT_TRUE(accuracy::crb_ranges(square.cols(0, 1), arma::vec{3.0, 4.0, 1.0}, 0.03).is_empty());
    EXPECT_TRUE(std::isnan(accuracy::crb_rms(arma::mat())));
}
