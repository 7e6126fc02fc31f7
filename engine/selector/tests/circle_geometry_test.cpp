// Circle geometry of corridor anchors: which circles share a line, the plane fit along it
// and the crossing of two lines. The ranges are made in the vertical plane of the line
// they belong to, so each fit has an exact answer worked out from the tag's position.
#include <cmath>
#include <string>

#include "selector_fixture.h"
#include "zub_circle_geometry.h"

using namespace selector_test;

namespace {

constexpr double kNone = -7.0;  // what an untouched result holds

// Range from a centre to a tag in the x-z plane (lines along x) or the y-z plane.
double in_xz(double cx, double cz, double tx, double tz) { return std::hypot(cx - tx, cz - tz); }

circle at(double x, double y, double z, double r) { return circle{point{x, y, z}, r}; }

struct Row {
    const char* what;
    unsigned n;
    circle c[4];
    bool ok;
    double x, y, z;  // expected result (kNone: untouched)
};

bool solve(const Row& row, arma::rowvec& result)
{
    switch (row.n) {
    case 2:
        return multivariate_2_position(row.c, result);
    case 3:
        return multivariate_3_position(row.c, result);
    default:
        return multivariate_4_position(row.c, result);
    }
}

}  // namespace

TEST(CircleGeometry, AlignmentIsStrictlyWithinOneMetre)
{
    struct Case {
        double dx, dy;
        bool in_x, in_y;
    };
    for (const Case& k : {Case{0.0, 0.4, true, true}, Case{0.999, 1.0, true, false}, Case{1.0, 0.999, false, true},
                          Case{-1.0, -1.0, false, false}, Case{-0.5, 5.0, true, false}}) {
        SCOPED_TRACE(std::to_string(k.dx) + " " + std::to_string(k.dy));
        const circle a = at(3, 4, 3, 1), b = at(3 + k.dx, 4 + k.dy, 3, 1);
        EXPECT_EQ(k.in_x, circles_aligned_x(a, b));
        EXPECT_EQ(k.in_y, circles_aligned_y(a, b));
    }
}

TEST(CircleGeometry, PatternsPickTheLineAndItsCoordinate)
{
    const Row rows[] = {
        // Two circles.
        {"level in y, line at y1", 2, {at(0, 5.0, 3, in_xz(0, 3, 4, 1)), at(10, 5.4, 3, in_xz(10, 3, 4, 1))}, true,
         4, 5.0, 1},
        {"level in both: the x-line wins", 2,
         {at(0, 0, 3, in_xz(0, 3, 3, 1)), at(0.5, 0.7, 3, in_xz(0.5, 3, 3, 1))}, true, 3, 0, 1},
        {"level in x, line at x1", 2, {at(2, 0, 3, in_xz(0, 3, 4, 1)), at(2.4, 10, 3, in_xz(10, 3, 4, 1))}, true, 2,
         4, 1},
        {"a metre apart both ways", 2, {at(0, 0, 3, 5), at(1, 1, 3, 5)}, false, kNone, kNone, kNone},
        // Three circles.
        {"all level in y, at y1", 3,
         {at(0, 2, 3, in_xz(0, 3, 6, 1)), at(10, 2.5, 3, in_xz(10, 3, 6, 1)), at(20, 2.9, 3, in_xz(20, 3, 6, 1))},
         true, 6, 2, 1},
        {"first and third level in y, second ignored", 3,
         {at(0, 3, 3, in_xz(0, 3, 8, 1)), at(10, 8, 3, 100.0), at(20, 3.5, 3, in_xz(20, 3, 8, 1))}, true, 8, 3, 1},
        {"second and third level in x, at x2", 3,
         {at(0, 30, 3, 100.0), at(7, 0, 3, in_xz(0, 3, 5, 1)), at(7.5, 12, 3, in_xz(12, 3, 5, 1))}, true, 7, 5, 1},
        {"scattered", 3, {at(0, 0, 3, 5), at(10, 10, 3, 5), at(20, 20, 3, 5)}, false, kNone, kNone, kNone},
        // Four circles.
        {"all level in y, at y3", 4,
         {at(0, 0, 3, in_xz(0, 3, 9, 1)), at(10, 0.2, 3, in_xz(10, 3, 9, 1)), at(20, 0.4, 3, in_xz(20, 3, 9, 1)),
          at(30, 0.6, 3, in_xz(30, 3, 9, 1))},
         true, 9, 0.4, 1},
        {"first three level in x, at x2", 4,
         {at(4, 0, 3, in_xz(0, 3, 7, 1)), at(4.3, 10, 3, in_xz(10, 3, 7, 1)), at(4.6, 20, 3, in_xz(20, 3, 7, 1)),
          at(30, 30, 3, 100.0)},
         true, 4.3, 7, 1},
        {"crossing, both fits: their mean", 4,
         {at(0, 0, 4, 5), at(8, 0, 4, 5), at(20, 5, 4, 5), at(20, 13, 4, 5)}, true, (4 + 20) / 2.0, (0 + 9) / 2.0, 1},
        {"crossing, cross pair apart in x: the line alone", 4,
         {at(0, 0, 4, 5), at(8, 0, 4, 5), at(20, 5, 4, 5), at(30, 15, 4, 5)}, true, 4, 0, 1},
        {"crossing, line fit gives nothing: the cross line", 4,
         {at(0, 0, 4, NAN), at(8, 0, 4, NAN), at(20, 5, 4, 5), at(20, 13, 4, 5)}, true, 20, 9, 1},
        {"scattered", 4, {at(0, 0, 3, 5), at(10, 10, 3, 5), at(20, 20, 3, 5), at(30, 30, 3, 5)}, false, kNone, kNone,
         kNone},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        arma::rowvec result(3);
        result.fill(kNone);
        ASSERT_EQ(row.ok, solve(row, result));
        EXPECT_NEAR(row.x, result(0), 1e-6);
        EXPECT_NEAR(row.y, result(1), 1e-6);
        EXPECT_NEAR(row.z, result(2), 1e-6);
    }
}

TEST(CircleGeometry, LineCoordinateIsTakenExactly)
{
    // The coordinate across the line is the named centre's own, not a fitted value.
    const circle c[2] = {at(0, 5.0, 3, in_xz(0, 3, 4, 1)), at(10, 5.4, 3, in_xz(10, 3, 4, 1))};
    arma::rowvec result(3, arma::fill::zeros);
    ASSERT_TRUE(multivariate_2_position(c, result));
    EXPECT_EQ(5.0, result(1));
}

TEST(CircleGeometry, FailedFitPrintsAndLeavesResult)
{
    struct Case {
        const char* what;
        bool y_line;
    };
    for (const Case& k : {Case{"x-line", false}, Case{"y-line", true}}) {
        SCOPED_TRACE(k.what);
        LogCapture log;
        arma::rowvec result(3);
        result.fill(kNone);
        const arma::mat one_row = {{0, 0, 3}};
        const bool ok = k.y_line ? multivariate2D_y_parallel(one_row, arma::rowvec{5.0}, 2.0, result)
                                 : multivariate2D_x_parallel(one_row, arma::rowvec{5.0}, 2.0, result);
        EXPECT_FALSE(ok);
        EXPECT_EQ(1u, log.count("trilateration_tof_2d->Multivariate3D tag at: unknown"));
        EXPECT_EQ(kNone, result(0));
    }
}
