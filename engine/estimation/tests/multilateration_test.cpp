// Closed-form multilateration: exact geometry, invariances and every way the
// geometry or the times can fail to give a position.
#include "MultiLateration.h"
#include "tag_geometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

using tag_geometry::arrival_times;
using tag_geometry::kC;

const arma::mat kSquare = {{0, 0, 0}, {10, 0, 0}, {0, 10, 0}, {10, 10, 0}};

void expect_position(const arma::rowvec& got, double x, double y, double z, double tol)
{
    ASSERT_EQ(got.n_elem, 3u);
    EXPECT_NEAR(got(0), x, tol);
    EXPECT_NEAR(got(1), y, tol);
    EXPECT_NEAR(got(2), z, tol);
}

}  // namespace

TEST(engine_estimation_multilateration, SquareIn2D)
{
    MultiLateration ml;
    ASSERT_EQ(ml.setAnchors(kSquare, 0), 1);
    EXPECT_EQ(ml.numAnchors, 4);
    EXPECT_EQ(ml.S.n_rows, 3u);
    EXPECT_EQ(ml.S.n_cols, 2u);
    EXPECT_NEAR(ml.R(2, 0), std::sqrt(200.0), 1e-12);
    const arma::rowvec tag{3.0, 4.0, 0.0};
    expect_position(ml.multilaterate(arrival_times(kSquare, tag, 2), kSquare, 0), 3, 4, 0,
                    1e-6);
    // Solving again for the same geometry works the same.
    expect_position(ml.multilaterate(arrival_times(kSquare, tag, 2), kSquare, 0), 3, 4, 0,
                    1e-6);
}

TEST(engine_estimation_multilateration, FiveAnchorsIn3D)
{
    const arma::mat anchors = {{0, 0, 0}, {10, 0, 3}, {0, 10, 2.5}, {10, 10, 0.5}, {5, 5, 6}};
    MultiLateration ml;
    ASSERT_EQ(ml.setAnchors(anchors, 1), 1);
    const arma::rowvec tag{2.0, 7.0, 1.2};
    expect_position(ml.multilaterate(arrival_times(anchors, tag, 3), anchors, 1), 2, 7, 1.2,
                    1e-6);
}

TEST(engine_estimation_multilateration, CentreOfSquareUsesThePlainProjection)
{
    MultiLateration ml;
    ASSERT_EQ(ml.setAnchors(kSquare, 0), 1);
    const arma::rowvec t = arrival_times(kSquare, arma::rowvec{5.0, 5.0, 0.0}, 2, 1.5);
    const arma::rowvec p = ml.multilaterate(t, kSquare, 0);
    expect_position(p, 5, 5, 0, 1e-12);
}

TEST(engine_estimation_multilateration, CommonOffsetAndAnchorOrderDoNotMatter)
{
    const arma::mat anchors = {{0, 0, 2}, {30, 0, 2}, {30, 20, 2}, {0, 20, 2}, {15, 0, 2}};
    const arma::rowvec tag{12.5, 6.25, 0.0};
    MultiLateration ml;
    ASSERT_EQ(ml.setAnchors(anchors, 0), 1);
    const arma::rowvec t = arrival_times(anchors, tag, 2);
    const arma::rowvec base = ml.multilaterate(t, anchors, 0);
    const arma::rowvec shifted = ml.multilaterate(t + 3.75, anchors, 0);
    expect_position(shifted, base(0), base(1), 0.0, 1e-6);

    arma::mat swapped = anchors;
    swapped.swap_rows(1, 3);
    arma::rowvec ts = t;
    ts.swap_cols(1, 3);
    ASSERT_EQ(ml.setAnchors(swapped, 0), 1);
    expect_position(ml.multilaterate(ts, swapped, 0), base(0), base(1), 0.0, 1e-9);
    expect_position(base, 12.5, 6.25, 0.0, 1e-6);
}

TEST(engine_estimation_multilateration, DegenerateGeometryIsRefused)
{
    MultiLateration ml;
    EXPECT_EQ(ml.setAnchors(arma::mat{{0, 0, 0}, {5, 0, 0}, {10, 0, 0}, {20, 0, 0}}, 0), 0);
    EXPECT_EQ(ml.setAnchors(arma::mat{{1, 1, 1}}, 0), 0);
    EXPECT_EQ(ml.setAnchors(arma::mat(), 0), 0);
    EXPECT_EQ(ml.setAnchors(arma::mat{{3, 3, 0}, {3, 3, 0}, {3, 3, 0}}, 0), 0);
    // Coplanar in 3D.
    EXPECT_EQ(ml.setAnchors(kSquare, 1), 0);
    // Not quite collinear: a 1 nm kink in 20 m is no geometry to solve on.
    EXPECT_EQ(ml.setAnchors(arma::mat{{0, 0, 0}, {10, 1e-9, 0}, {20, 0, 0}, {5, 0, 0}}, 0), 0);
    // Non-finite coordinates.
    EXPECT_EQ(ml.setAnchors(arma::mat{{0, 0, 0}, {10, NAN, 0}, {0, 10, 0}, {10, 10, 0}}, 0), 0);
    EXPECT_EQ(ml.setAnchors(arma::mat{{0, 0, 0}, {INFINITY, 0, 0}, {0, 10, 0}}, 0), 0);
    // Too few columns for the dimension.
    EXPECT_EQ(ml.setAnchors(arma::mat{{0, 0}, {10, 0}, {0, 10}, {10, 10}}, 1), 0);
    EXPECT_EQ(ml.setAnchors(arma::mat(3, 1, arma::fill::ones), 0), 0);
    // A modest but real spread is still accepted.
    EXPECT_EQ(ml.setAnchors(arma::mat{{0, 0, 0}, {10, 0.01, 0}, {20, 0, 0}, {5, 0, 0}}, 0), 1);
}

TEST(engine_estimation_multilateration, TooFewAnchorsGiveNoPositionAndNoException)
{
    MultiLateration ml;
    const arma::mat three = {{0, 0, 0}, {10, 0, 0}, {0, 10, 0}};
    ASSERT_EQ(ml.setAnchors(three, 0), 1);
    const arma::rowvec t = arrival_times(three, arma::rowvec{3, 4, 0}, 2);
    arma::rowvec p;
    EXPECT_NO_THROW(p = ml.multilaterate(t, three, 0));
    EXPECT_TRUE(p.is_empty());

    const arma::mat four3d = {{0, 0, 0}, {10, 0, 0}, {0, 10, 0}, {0, 0, 10}};
    ASSERT_EQ(ml.setAnchors(four3d, 1), 1);
    EXPECT_TRUE(
        ml.multilaterate(arrival_times(four3d, arma::rowvec{1, 2, 3}, 3), four3d, 1).is_empty());
}

TEST(engine_estimation_multilateration, UnusableTimesGiveNoPosition)
{
    MultiLateration ml;
    ASSERT_EQ(ml.setAnchors(kSquare, 0), 1);
    const arma::rowvec t = arrival_times(kSquare, arma::rowvec{3, 4, 0}, 2);
    EXPECT_TRUE(ml.multilaterate(t.cols(0, 2), kSquare, 0).is_empty());
    EXPECT_TRUE(ml.multilaterate(arma::rowvec(), kSquare, 0).is_empty());
    arma::rowvec bad = t;
    bad(2) = NAN;
    EXPECT_TRUE(ml.multilaterate(bad, kSquare, 0).is_empty());
    bad(2) = INFINITY;
    EXPECT_TRUE(ml.multilaterate(bad, kSquare, 0).is_empty());
    // A longer row: the extra element is not an anchor and is ignored.
    arma::rowvec longer(5);
    longer.cols(0, 3) = t;
    longer(4) = 99.0;
    expect_position(ml.multilaterate(longer, kSquare, 0), 3, 4, 0, 1e-6);
    // Dimension other than the geometry's.
    EXPECT_TRUE(ml.multilaterate(t, kSquare, 1).is_empty());
}

TEST(engine_estimation_multilateration, SolveAfterRefusedGeometryGivesNoPosition)
{
    MultiLateration ml;
    const arma::mat line = {{0, 0, 0}, {5, 0, 0}, {10, 0, 0}, {20, 0, 0}};
    ASSERT_EQ(ml.setAnchors(line, 0), 0);
    EXPECT_TRUE(ml.multilaterate(arma::rowvec{0, 1e-8, 2e-8, 3e-8}, line, 0).is_empty());
    MultiLateration fresh;
    EXPECT_TRUE(fresh.multilaterate(arma::rowvec{0, 0, 0, 0}, kSquare, 0).is_empty());

    // A good geometry, then a refused one of the same size: the old distances to the
    // reference must not be solved against the new anchors.
    ASSERT_EQ(ml.setAnchors(kSquare, 0), 1);
    const arma::mat kinked = {{0, 0, 0}, {10, 1e-9, 0}, {20, 0, 0}, {5, 0, 0}};
    ASSERT_EQ(ml.setAnchors(kinked, 0), 0);
    EXPECT_TRUE(
        ml.multilaterate(arrival_times(kinked, arma::rowvec{3, 4, 0}, 2), kinked, 0).is_empty());
}

TEST(engine_estimation_multilateration, SingularInnerSystemGivesNoPosition)
{
    // Range differences that lie in the column space of S: with ddoa = S (1, 0)' =
    // (10, 0, 10) the projection removes the whole x direction and S'PWPS is singular,
    // although the geometry itself is sound.
    MultiLateration ml;
    ASSERT_EQ(ml.setAnchors(kSquare, 0), 1);
    const arma::rowvec t{0.0, 10.0 / kC, 0.0, 10.0 / kC};
    arma::rowvec p;
    EXPECT_NO_THROW(p = ml.multilaterate(t, kSquare, 0));
    EXPECT_TRUE(p.is_empty());
    // The same solver still solves a sound blink afterwards.
    expect_position(ml.multilaterate(arrival_times(kSquare, arma::rowvec{3, 4, 0}, 2), kSquare, 0),
                    3, 4, 0, 1e-6);
}

TEST(engine_estimation_multilateration, ManyAnchorsExact)
{
    std::mt19937_64 rng(17);
    std::uniform_real_distribution<double> ux(0.0, 60.0), uy(0.0, 40.0), uz(1.0, 6.0);
    for (const int n : {8, 22}) {
        arma::mat anchors(n, 3);
        for (int i = 0; i < n; ++i) {
            anchors(i, 0) = ux(rng);
            anchors(i, 1) = uy(rng);
            anchors(i, 2) = uz(rng);
        }
        for (const int dims : {2, 3}) {
            MultiLateration ml;
            ASSERT_EQ(ml.setAnchors(anchors, dims == 3), 1);
            for (int k = 0; k < 20; ++k) {
                const arma::rowvec tag{ux(rng), uy(rng), dims == 3 ? uz(rng) : 0.0};
                const arma::rowvec p =
                    ml.multilaterate(arrival_times(anchors, tag, dims), anchors, dims == 3);
                expect_position(p, tag(0), tag(1), tag(2), 1e-6);
            }
        }
    }
}
