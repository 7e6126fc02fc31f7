// Crossings of two and three ranging circles in the horizontal plane. Expected points are
// worked out by hand: each lies at its radius from both centres.
#include <cmath>

#include "selector_fixture.h"
#include "zub_two_circle.h"

using namespace selector_test;

namespace {

circle at(double x, double y, double r) { return circle{point{x, y, 0}, r}; }

Tag tag_last_at(double x, double y)
{
    Tag t(0x1);
    t.last_push_pos.x = x;
    t.last_push_pos.y = y;
    return t;
}

}  // namespace

TEST(TwoCircles, CrossingPoints)
{
    struct Row {
        const char* what;
        circle a, b;
        double last_x, last_y;
        bool ok;
        double x, y;
        const char* text;  // error line, or null
    };
    const Row rows[] = {
        {"level centres, upper point", at(0, 0, 5), at(8, 0, 5), 4.2, 2.9, true, 4, 3, nullptr},
        {"level centres, lower point", at(0, 0, 5), at(8, 0, 5), 4.2, -2.9, true, 4, -3, nullptr},
        {"apart: radii made to touch", at(0, 0, 2), at(10, 0, 3), 0, 0, true, 4, 0, nullptr},
        {"apart in y and x, upper", at(0, 0, 5), at(7, 1, 5), 3, 4.1, true, 3, 4, nullptr},
        {"apart in y and x, lower", at(0, 0, 5), at(7, 1, 5), 4, -2.9, true, 4, -3, nullptr},
        {"level in x, left", at(0, 0, 5), at(0, 8, 5), -3.1, 4, true, -3, 4, nullptr},
        {"level in x, right", at(0, 0, 5), at(0, 8, 5), 3.1, 4, true, 3, 4, nullptr},
        {"identical", at(1, 1, 2), at(1, 1, 2), 0, 0, false, 0, 0, "compute_intersection_points double_equals error"},
        {"concentric", at(1, 1, 1), at(1, 1, 2), 0, 0, false, 0, 0, "compute_intersection_points 同心圆"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        LogCapture log;
        const Tag t = tag_last_at(row.last_x, row.last_y);
        arma::rowvec result(3);
        result.fill(-7.0);
        ASSERT_EQ(row.ok, compute_intersection_points(&t, row.a, row.b, result));
        if (row.ok) {
            EXPECT_NEAR(row.x, result(0), 1e-9);
            EXPECT_NEAR(row.y, result(1), 1e-9);
            EXPECT_EQ(0.0, result(2));
        }
        if (row.text != nullptr) {
            EXPECT_EQ(1u, log.count(row.text));
        }
    }
}

TEST(TwoCircles, PointLiesOnBothCirclesWhenCentresDifferInY)
{
    struct Row {
        circle a, b;
        double last_x, last_y;
    };
    for (const Row& row : {Row{at(0, 0, 5), at(6, 8, 7), 0, 0}, Row{at(0, 0, 5), at(6, 8, 7), 10, 0},
                           Row{at(-2, 3, 4), at(1, -1, 3.5), 0, 0}, Row{at(-2, 3, 4), at(1, -1, 3.5), -5, -5}}) {
        const Tag t = tag_last_at(row.last_x, row.last_y);
        arma::rowvec result(3, arma::fill::zeros);
        ASSERT_TRUE(compute_intersection_points(&t, row.a, row.b, result));
        EXPECT_NEAR(row.a.r, std::hypot(result(0) - row.a.center.x, result(1) - row.a.center.y), 1e-9);
        EXPECT_NEAR(row.b.r, std::hypot(result(0) - row.b.center.x, result(1) - row.b.center.y), 1e-9);
    }
}

TEST(TwoCircles, PlacementOnALine)
{
    struct Row {
        const char* what;
        circle a, b;
        bool ok;
        double x, y;
    };
    const Row rows[] = {
        {"neither inside, second to the right", at(0, 0, 3), at(10, 0, 8), true, 3, 0},
        {"neither inside, second to the left", at(10, 0, 3), at(0, 0, 8), true, 8, 0},
        {"first inside the second's range", at(0, 0, 3), at(5, 0, 7), true, -3, 0},
        {"second inside the first's range", at(0, 0, 7), at(5, 2, 3), true, 8, 2},
        {"identical", at(0, 0, 3), at(0, 0, 3), false, 0, 0},
        {"concentric", at(0, 0, 3), at(0, 0, 4), false, 0, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        arma::rowvec result(3, arma::fill::zeros);
        ASSERT_EQ(row.ok, points_to_tow_anchor_distance_straight_line(nullptr, row.a, row.b, result));
        EXPECT_NEAR(row.x, result(0), 1e-12);
        EXPECT_NEAR(row.y, result(1), 1e-12);
    }
}

TEST(TwoCircles, ThreeCirclesAverageTheirCrossings)
{
    // Circles round (4, 3): a and b cross at (4, +-3), a and c at (4, 3) and (0, 5), b and c
    // at (4, 3) and (8, 5).
    const circle a = at(0, 0, 5), b = at(8, 0, 5), c = at(4, 8, 5);
    struct Row {
        const char* what;
        circle a, b, c;
        double last_x, last_y;
        bool ok;
        double x, y;
    };
    const Row rows[] = {
        {"all three at the tag", a, b, c, 4, 3, true, 4, 3},
        {"nearest points to (0, 5)", a, b, c, 0, 5, true, 8 / 3.0, 11 / 3.0},
        {"two identical pairs: only a-c and b-c", a, a, c, 4, 3, true, 4, 3},
        {"all identical", a, a, a, 4, 3, false, 0, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const Tag t = tag_last_at(row.last_x, row.last_y);
        arma::rowvec result(3, arma::fill::zeros);
        ASSERT_EQ(row.ok, single_channel_calculation(&t, row.a, row.b, row.c, result));
        EXPECT_NEAR(row.x, result(0), 1e-9);
        EXPECT_NEAR(row.y, result(1), 1e-9);
    }
}

TEST(TwoCircles, RadiusAdjustmentsAndChoices)
{
    circle a = at(0, 0, 2), b = at(10, 0, 3);
    no_crossover_point_deal_with(10, a, b);
    EXPECT_DOUBLE_EQ(4.0, a.r);
    EXPECT_DOUBLE_EQ(6.0, b.r);
    circle c = at(0, 0, 6), d = at(8, 0, 4);
    circle_Length_beyond_distance(8, c, d);  // overlap 2, shared 6 : 4
    EXPECT_DOUBLE_EQ(1.2, c.r);
    EXPECT_DOUBLE_EQ(0.8, d.r);
    const circle p = at(3, 0, 1), q = at(-1, 5, 2), r = at(-1, 9, 3);
    EXPECT_EQ(5.0, select_recent_anchor_circle(p, q, r).center.y);
    EXPECT_EQ(0.0, select_farthest_anchor_circle(p, q, r).center.y);
    EXPECT_TRUE(double_equals(1.0, 1.0 + 0.9e-9));
    EXPECT_FALSE(double_equals(1.0, 1.0 + 1.1e-9));
}
