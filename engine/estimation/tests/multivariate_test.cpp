// Least-squares range fits: exact answers, the degenerate layouts the corridor and
// symmetric cases produce, and inputs that cannot give a position.
#include "Multivariate.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

namespace {

arma::rowvec ranges_to(const arma::mat& anchors, const arma::vec& tag, const arma::uvec& cols)
{
    arma::rowvec r(anchors.n_rows);
    for (arma::uword i = 0; i < anchors.n_rows; ++i) {
        double sq = 0.0;
        for (arma::uword j = 0; j < cols.n_elem; ++j) {
            const double d = anchors(i, cols(j)) - tag(j);
            sq += d * d;
        }
        r(i) = std::sqrt(sq);
    }
    return r;
}

const arma::mat kFloorSquare = {{0, 0, 0}, {10, 0, 0}, {0, 10, 0}, {10, 10, 0}};

}  // namespace

TEST(engine_estimation_multivariate_2d, ExactRangesInTheXyPlane)
{
    const arma::vec p =
        Multivariate2D(kFloorSquare, ranges_to(kFloorSquare, {3.0, 4.0}, {0, 1}), true);
    ASSERT_EQ(p.n_elem, 2u);
    EXPECT_NEAR(p(0), 3.0, 1e-6);
    EXPECT_NEAR(p(1), 4.0, 1e-6);
}

TEST(engine_estimation_multivariate_2d, XzPlaneReadsTheThirdColumn)
{
    // Column 1 holds values that must not be used.
    const arma::mat anchors = {{0, 77, 0}, {10, -5, 0}, {0, 123, 10}, {10, 9, 10}};
    const arma::vec p = Multivariate2D(anchors, ranges_to(anchors, {3.0, 4.0}, {0, 2}), false);
    ASSERT_EQ(p.n_elem, 2u);
    EXPECT_NEAR(p(0), 3.0, 1e-6);
    EXPECT_NEAR(p(1), 4.0, 1e-6);
}

TEST(engine_estimation_multivariate_2d, TagAtTheCentreOfASquare)
{
    // f is exactly zero and the radicand D(1,1) = H(1,1) + mean r^2 - trace Cov
    // = -50 + 50 - 50 is negative: clamped, so the centroid comes out instead of NaN.
    arma::rowvec r(4);
    r.fill(std::sqrt(50.0));
    const arma::vec p = Multivariate2D(kFloorSquare, r, true);
    ASSERT_EQ(p.n_elem, 2u);
    EXPECT_NEAR(p(0), 5.0, 1e-9);
    EXPECT_NEAR(p(1), 5.0, 1e-9);
}

TEST(engine_estimation_multivariate_2d, ZeroRightHandSideTakesTheSecondAxisRoot)
{
    // Equal ranges of 12 m: f = 0 and D(1,1) = H(1,1) + mean r^2 - trace Cov
    // = -50 + 144 - 50 = 44, so the result is (c0, c1 - sqrt(44)).
    arma::rowvec r(4);
    r.fill(12.0);
    const arma::vec p = Multivariate2D(kFloorSquare, r, true);
    ASSERT_EQ(p.n_elem, 2u);
    EXPECT_DOUBLE_EQ(p(0), 5.0);
    EXPECT_NEAR(p(1), 5.0 - std::sqrt(44.0), 1e-12);
}

TEST(engine_estimation_multivariate_2d, CorridorWithNoSpreadAlongTheFirstAxis)
{
    // All anchors at x = 4 on an x-z fit: H(0,0) = H(0,1) = 0, and the offset across
    // the line comes from D(0,0). Tag at x = 2, z = 3.
    const arma::mat anchors = {{4, 7, 0}, {4, -3, 5}, {4, 1, 10}};
    const arma::vec p = Multivariate2D(anchors, ranges_to(anchors, {2.0, 3.0}, {0, 2}), false);
    ASSERT_EQ(p.n_elem, 2u);
    EXPECT_NEAR(p(0), 2.0, 1e-9);
    EXPECT_NEAR(p(1), 3.0, 1e-9);
}

TEST(engine_estimation_multivariate_2d, CorridorWithNoSpreadAlongTheSecondAxis)
{
    // Anchors on the line y = 1 (x-y fit): the offset across it is sqrt(D(1,1) - q0^2).
    const arma::mat anchors = {{0, 1, 0}, {6, 1, 0}, {15, 1, 0}};
    const arma::vec p = Multivariate2D(anchors, ranges_to(anchors, {5.0, -1.5}, {0, 1}), true);
    ASSERT_EQ(p.n_elem, 2u);
    EXPECT_NEAR(p(0), 5.0, 1e-9);
    EXPECT_NEAR(p(1), -1.5, 1e-9);

    // Ranges too short to reach the tag's line: the radicand is negative and clamped,
    // the tag is put on the line.
    const arma::vec on_line =
        Multivariate2D(anchors, arma::rowvec{0.1, 0.1, 0.1}, true);
    ASSERT_EQ(on_line.n_elem, 2u);
    EXPECT_TRUE(on_line.is_finite());
    EXPECT_DOUBLE_EQ(on_line(1), 1.0);
}

TEST(engine_estimation_multivariate_2d, SmallCrossTermReplacesTheSecondOffset)
{
    // Anchors (-5,-0.1), (5,0.1), (0,0.3), (0,-0.3): centroid (0,0), Cov = [[12.5, 0.25],
    // [0.25, 0.05]], so H = -2 Cov = [[-25, -0.5], [-0.5, -0.1]]. |H01| = 0.5 < 1,
    // |H01| <= |H00| and |H11| < |H01|: q1 = sign(q1) sqrt(25), then q1 += sqrt(0.5)
    // because H01 < 0. Tag (1, 2): the solve gives q = c - tag = (-1, -2), so
    // q1 = -5 + sqrt(0.5) and the result is (1, 5 - sqrt(0.5)).
    const arma::mat anchors = {{-5, -0.1, 0}, {5, 0.1, 0}, {0, 0.3, 0}, {0, -0.3, 0}};
    const arma::vec p = Multivariate2D(anchors, ranges_to(anchors, {1.0, 2.0}, {0, 1}), true);
    ASSERT_EQ(p.n_elem, 2u);
    EXPECT_NEAR(p(0), 1.0, 1e-9);
    EXPECT_NEAR(p(1), 5.0 - std::sqrt(0.5), 1e-9);
}

TEST(engine_estimation_multivariate_2d, SmallCrossTermReplacesTheFirstOffset)
{
    // The same layout with the axes exchanged: H = [[-0.1, -0.5], [-0.5, -25]], and
    // |H01| > |H00|: q0 = sign(q0) sqrt(25) + sqrt(0.5). Tag (2, 1): q0 = -2 before,
    // -5 + sqrt(0.5) after; result (5 - sqrt(0.5), 1).
    const arma::mat anchors = {{-0.1, -5, 0}, {0.1, 5, 0}, {0.3, 0, 0}, {-0.3, 0, 0}};
    const arma::vec p = Multivariate2D(anchors, ranges_to(anchors, {2.0, 1.0}, {0, 1}), true);
    ASSERT_EQ(p.n_elem, 2u);
    EXPECT_NEAR(p(0), 5.0 - std::sqrt(0.5), 1e-9);
    EXPECT_NEAR(p(1), 1.0, 1e-9);
}

TEST(engine_estimation_multivariate_2d, SingularFitsStayQuiet)
{
    // The corridor fits hand solve() an exactly singular H; its fallback must not write
    // a warning per fix.
    static_assert(ARMA_WARN_LEVEL == 1);
    const arma::mat corridor = {{4, 7, 0}, {4, -3, 5}, {4, 1, 10}};
    const arma::mat line = {{0, 1, 0}, {6, 1, 0}, {15, 1, 0}};
    testing::internal::CaptureStderr();
    const arma::vec a =
        Multivariate2D(corridor, ranges_to(corridor, {2.0, 3.0}, {0, 2}), false);
    const arma::vec b = Multivariate2D(line, ranges_to(line, {5.0, -1.5}, {0, 1}), true);
    const arma::vec c = Multivariate3D(arma::mat{{0, 0, 3}, {10, 0, 3}, {0, 10, 3}, {7, 3, 3}},
                                       arma::rowvec{4, 9, 9, 5});
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "");
    EXPECT_EQ(a.n_elem, 2u);
    EXPECT_EQ(b.n_elem, 2u);
    EXPECT_EQ(c.n_elem, 3u);
}

TEST(engine_estimation_multivariate_2d, UnusableInputGivesEmpty)
{
    EXPECT_TRUE(Multivariate2D(arma::mat{{1, 2, 3}}, arma::rowvec{1.0}, true).is_empty());
    EXPECT_TRUE(Multivariate2D(arma::mat(), arma::rowvec(), true).is_empty());
    EXPECT_TRUE(Multivariate2D(kFloorSquare, arma::rowvec{1, 2, 3}, true).is_empty());
    EXPECT_TRUE(Multivariate2D(arma::mat{{0, 0}, {10, 0}, {0, 10}}, arma::rowvec{5, 5, 5}, false)
                    .is_empty());
    EXPECT_TRUE(Multivariate2D(kFloorSquare, arma::rowvec{1, NAN, 3, 4}, true).is_empty());
    arma::mat inf_anchor = kFloorSquare;
    inf_anchor(2, 1) = INFINITY;
    EXPECT_TRUE(Multivariate2D(inf_anchor, arma::rowvec{1, 2, 3, 4}, true).is_empty());
    // Two anchors are enough for the call itself.
    EXPECT_EQ(Multivariate2D(arma::mat{{0, 0, 0}, {10, 0, 0}}, arma::rowvec{5, 5}, true).n_elem,
              2u);
}

TEST(engine_estimation_multivariate_3d, ExactRangesToFourAnchors)
{
    const arma::mat anchors = {{0, 0, 3}, {10, 0, 2.5}, {0, 10, 0.5}, {10, 10, 4}};
    const arma::vec tag{6.0, 2.5, 1.25};
    const arma::vec p = Multivariate3D(anchors, ranges_to(anchors, tag, {0, 1, 2}));
    ASSERT_EQ(p.n_elem, 3u);
    EXPECT_NEAR(p(0), 6.0, 1e-6);
    EXPECT_NEAR(p(1), 2.5, 1e-6);
    EXPECT_NEAR(p(2), 1.25, 1e-6);
}

TEST(engine_estimation_multivariate_3d, CeilingSquareWithTagBelowTheCentre)
{
    // f is exactly zero: q = (0, 0, sqrt(D(2,2))) = (0, 0, 2) and the result is c - q.
    const arma::mat anchors = {{0, 0, 3}, {10, 0, 3}, {0, 10, 3}, {10, 10, 3}};
    const arma::vec p = Multivariate3D(anchors, ranges_to(anchors, {5.0, 5.0, 1.0}, {0, 1, 2}));
    ASSERT_EQ(p.n_elem, 3u);
    EXPECT_NEAR(p(0), 5.0, 1e-12);
    EXPECT_NEAR(p(1), 5.0, 1e-12);
    EXPECT_NEAR(p(2), 1.0, 1e-12);
}

TEST(engine_estimation_multivariate_3d, UnusableInputGivesEmpty)
{
    const arma::mat three = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    EXPECT_TRUE(Multivariate3D(three, arma::rowvec{1, 1, 1}).is_empty());
    const arma::mat four = {{0, 0, 3}, {10, 0, 2.5}, {0, 10, 0.5}, {10, 10, 4}};
    EXPECT_TRUE(Multivariate3D(four, arma::rowvec{1, 2, 3}).is_empty());
    EXPECT_TRUE(Multivariate3D(four.cols(0, 1), arma::rowvec{1, 2, 3, 4}).is_empty());
    EXPECT_TRUE(Multivariate3D(four, arma::rowvec{1, 2, INFINITY, 4}).is_empty());
}

TEST(engine_estimation_multivariate, RandomSitesExact)
{
    std::mt19937_64 rng(23);
    std::uniform_real_distribution<double> ux(0.0, 30.0), uy(0.0, 20.0), uz(0.5, 5.0);
    for (int trial = 0; trial < 50; ++trial) {
        arma::mat anchors(6, 3);
        for (arma::uword i = 0; i < 6; ++i) {
            anchors(i, 0) = ux(rng);
            anchors(i, 1) = uy(rng);
            anchors(i, 2) = uz(rng);
        }
        const arma::vec tag{ux(rng), uy(rng), uz(rng)};
        const arma::vec p3 = Multivariate3D(anchors, ranges_to(anchors, tag, {0, 1, 2}));
        ASSERT_EQ(p3.n_elem, 3u);
        EXPECT_LT(arma::norm(p3 - tag), 1e-6);
        const arma::vec p2 =
            Multivariate2D(anchors, ranges_to(anchors, tag.head(2), {0, 1}), true);
        ASSERT_EQ(p2.n_elem, 2u);
        EXPECT_LT(arma::norm(p2 - tag.head(2)), 1e-6);
    }
}
