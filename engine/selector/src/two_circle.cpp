// Crossings of ranging circles in the horizontal plane.
#include <cmath>

#include "zub_print.h"
#include "zub_two_circle.h"

namespace {

struct Candidate {
    double x;
    double y;
};

void write_xy(arma::rowvec& result, double x, double y)
{
    if (result.n_elem < 3) {
        result.resize(3);
    }
    result(0) = x;
    result(1) = y;
    result(2) = 0.0;
}

bool same_centre(const circle& a, const circle& b)
{
    return a.center.x == b.center.x && a.center.y == b.center.y && a.center.z == b.center.z;
}

bool meet(double d, const circle& a, const circle& b)
{
    return !(d > a.r + b.r || d < std::fabs(a.r - b.r));
}

// Rounding can push a touching point's cosine a hair beyond 1; that is still the point.
double sine_of(double u)
{
    const double s2 = 1.0 - u * u;
    return s2 < 0.0 && s2 > -1e-9 ? 0.0 : std::sqrt(s2);
}

// The circle-1 point at cosine u. With the centres apart in y the sine's sign is the one
// that puts the point on the second circle, a*u + b*s = c; with the centres level the
// side is chosen by the squared centre distance against r2^2.
Candidate point_at(const circle& c1, const circle& c2, double u, double a, double b, double c, double dist_sqr)
{
    const double s = sine_of(u);
    double sign = 1.0;
    if (!double_equals(c1.center.y, c2.center.y)) {
        sign = (c - a * u) / b < 0.0 ? -1.0 : 1.0;
    } else if (!double_equals(dist_sqr, c2.r * c2.r)) {
        sign = -1.0;
    }
    return Candidate{c1.center.x + c1.r * u, c1.center.y + sign * c1.r * s};
}

bool is_number(const Candidate& p)
{
    return !std::isnan(p.x) && !std::isnan(p.y);
}

}  // namespace

bool double_equals(double a, double b)
{
    static const double kEpsilon = 1e-9;
    return std::fabs(a - b) < kEpsilon;
}

double center_distance_sqr(const point& p, const point& q)
{
    return (p.z - q.z) * (p.z - q.z) + (p.x - q.x) * (p.x - q.x) + (p.y - q.y) * (p.y - q.y);
}

double center_distance(const point& p, const point& q)
{
    return std::sqrt(center_distance_sqr(p, q));
}

double calculation_pos_last_pos_distance(const pos_t& a, const pos_t& b)
{
    return std::sqrt((a.z - b.z) * (a.z - b.z) + (a.y - b.y) * (a.y - b.y) + (a.x - b.x) * (a.x - b.x));
}

void no_crossover_point_deal_with(double d, circle& c1, circle& c2)
{
    const double r1 = c1.r;
    const double r2 = c2.r;
    c1.r = d * r1 / (r1 + r2);
    c2.r = d * r2 / (r1 + r2);
}

void circle_Length_beyond_distance(double d, circle& c1, circle& c2)
{
    const double r1 = c1.r;
    const double r2 = c2.r;
    c1.r = (r1 + r2 - d) * r1 / (r1 + r2);
    c2.r = (r1 + r2 - d) * r2 / (r1 + r2);
}

circle select_recent_anchor_circle(const circle& a, const circle& b, const circle& c)
{
    const circle* best = &a;
    if (b.center.x < best->center.x) {
        best = &b;
    }
    if (c.center.x < best->center.x) {
        best = &c;
    }
    return *best;
}

circle select_farthest_anchor_circle(const circle& a, const circle& b, const circle& c)
{
    const circle* best = &a;
    if (b.center.x > best->center.x) {
        best = &b;
    }
    if (c.center.x > best->center.x) {
        best = &c;
    }
    return *best;
}

bool compute_intersection_points(const Tag* tag, circle c1, circle c2, arma::rowvec& result)
{
    if (double_equals(c1.center.x, c2.center.x) && double_equals(c1.center.y, c2.center.y) &&
        double_equals(c1.r, c2.r)) {
        ZUB_PRINT(ZUB_PRINT_ERROR, "compute_intersection_points double_equals error");
        return false;
    }
    const double d = center_distance(c1.center, c2.center);
    if (!meet(d, c1, c2)) {
        if (same_centre(c1, c2)) {
            ZUB_PRINT(ZUB_PRINT_ERROR, "compute_intersection_points 同心圆");
            return false;
        }
        no_crossover_point_deal_with(d, c1, c2);
    }
    const double r1 = c1.r;
    const double dist_sqr = center_distance_sqr(c1.center, c2.center);
    const double a = (c1.center.x - c2.center.x) * 2 * r1;
    const double b = (c1.center.y - c2.center.y) * 2 * r1;
    const double c = c2.r * c2.r - r1 * r1 - dist_sqr;
    const double P = a * a + b * b;
    const double Q = -2 * a * c;
    if (P == 0.0) {
        return false;  // centres one above the other: no direction in the plane
    }
    if (double_equals(d, r1 + c2.r) || double_equals(d, std::fabs(r1 - c2.r))) {
        const Candidate p = point_at(c1, c2, -Q / P / 2, a, b, c, dist_sqr);
        if (!is_number(p)) {
            return false;
        }
        write_xy(result, p.x, p.y);
        return true;
    }
    double D = Q * Q - 4 * P * (c * c - b * b);
    if (D < 0.0 && D > -1e-12 * Q * Q) {
        D = 0.0;  // level centres: a double root that rounding left a hair below zero
    }
    const double root = std::sqrt(D);
    Candidate p1 = point_at(c1, c2, (root - Q) / P / 2, a, b, c, dist_sqr);
    Candidate p2 = point_at(c1, c2, (-root - Q) / P / 2, a, b, c, dist_sqr);
    if (!is_number(p1) || !is_number(p2)) {
        return false;
    }
    // Centres level in y give one cosine twice: the second point is the mirror image.
    if (double_equals(c1.center.y, c2.center.y) && double_equals(p1.y, p2.y) && double_equals(p1.x, p2.x)) {
        if (p1.y > 0) {
            p2.y = -p2.y;
        } else {
            p1.y = -p1.y;
        }
    }
    const pos_t last = tag->last_push_pos;
    const double d1 = calculation_pos_last_pos_distance(pos_t{p1.x, p1.y, 0, 0, 0, {}}, last);
    const double d2 = calculation_pos_last_pos_distance(pos_t{p2.x, p2.y, 0, 0, 0, {}}, last);
    const Candidate& chosen = d2 < d1 ? p2 : p1;
    write_xy(result, chosen.x, chosen.y);
    return true;
}

bool points_to_tow_anchor_distance_straight_line(const Tag*, circle c1, circle c2, arma::rowvec& result)
{
    if (double_equals(c1.center.x, c2.center.x) && double_equals(c1.center.y, c2.center.y) &&
        double_equals(c1.r, c2.r)) {
        ZUB_PRINT(ZUB_PRINT_ERROR, "points_to_tow_anchor_distance_straight_line double_equals error");
        return false;
    }
    if (same_centre(c1, c2)) {
        ZUB_PRINT(ZUB_PRINT_ERROR, "points_to_tow_anchor_distance_straight_line 同心圆");
        return false;
    }
    const double d = center_distance(c1.center, c2.center);
    if (!meet(d, c1, c2)) {
        no_crossover_point_deal_with(d, c1, c2);
    }
    const double x1 = c1.center.x, y1 = c1.center.y, r1 = c1.r;
    const double x2 = c2.center.x, y2 = c2.center.y, r2 = c2.r;
    const bool second_left = x2 <= x1;
    if (d < 0.98 * r1 || d < 0.98 * r2) {
        if (r1 <= r2) {
            write_xy(result, second_left ? x1 + r1 : x1 - r1, y1);
        } else {
            write_xy(result, second_left ? x2 - r2 : x2 + r2, y2);
        }
    } else if (second_left) {
        write_xy(result, x2 + r2, y2);
    } else {
        write_xy(result, x1 + r1, y1);
    }
    return true;
}

bool single_channel_calculation(const Tag* tag, circle a, circle b, circle c, arma::rowvec& result)
{
    arma::rowvec p[3] = {arma::rowvec(3, arma::fill::zeros), arma::rowvec(3, arma::fill::zeros),
                         arma::rowvec(3, arma::fill::zeros)};
    const bool ok[3] = {compute_intersection_points(tag, a, b, p[0]), compute_intersection_points(tag, a, c, p[1]),
                        compute_intersection_points(tag, b, c, p[2])};
    arma::rowvec sum(3, arma::fill::zeros);
    unsigned n = 0;
    for (unsigned i = 0; i < 3; ++i) {
        if (ok[i]) {
            sum += p[i].head(3);
            ++n;
        }
    }
    if (n < 2) {
        return false;
    }
    if (result.n_elem < 3) {
        result.resize(3);
    }
    result.head(3) = sum / static_cast<double>(n);
    return true;
}
