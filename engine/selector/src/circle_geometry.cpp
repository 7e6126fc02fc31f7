// Circle geometry of corridor anchors: the alignment patterns of two to four circles as
// tables, the line fits and the crossing of two lines.
#include <cmath>

#include "Multivariate.h"
#include "zub_circle_geometry.h"
#include "zub_print.h"

namespace {

constexpr const char* kFitFailed = "trilateration_tof_2d->Multivariate3D tag at: unknown";

enum class Axis : unsigned char { Y, X };  // Y: aligned in y (a line along x)

// One alignment test of a pattern: circles i and j (from 0) aligned along `axis` or not.
struct Alignment {
    Axis axis;
    unsigned char i, j;
    bool aligned;
};

enum class Action : unsigned char { XLine, YLine, Crossing };

// One row of a pattern table: when every test holds, the action runs on the listed
// circles; a line runs at the y (x-line) or x (y-line) of circle `at`; a crossing takes
// circles[0..1] as the line pair and circles[2..3] as the cross pair.
struct Pattern {
    Alignment tests[3];
    Action action;
    unsigned char circles[4];
    unsigned char count;
    unsigned char at;
};

bool holds(const circle* c, const Alignment& t)
{
    const bool aligned = t.axis == Axis::Y ? circles_aligned_y(c[t.i], c[t.j]) : circles_aligned_x(c[t.i], c[t.j]);
    return aligned == t.aligned;
}

constexpr Alignment Y(unsigned char i, unsigned char j) { return {Axis::Y, static_cast<unsigned char>(i - 1), static_cast<unsigned char>(j - 1), true}; }
constexpr Alignment X(unsigned char i, unsigned char j) { return {Axis::X, static_cast<unsigned char>(i - 1), static_cast<unsigned char>(j - 1), true}; }
constexpr Alignment notY(unsigned char i, unsigned char j) { return {Axis::Y, static_cast<unsigned char>(i - 1), static_cast<unsigned char>(j - 1), false}; }
constexpr Alignment notX(unsigned char i, unsigned char j) { return {Axis::X, static_cast<unsigned char>(i - 1), static_cast<unsigned char>(j - 1), false}; }
// A test that always holds, to fill rows with fewer tests.
constexpr Alignment any() { return {Axis::Y, 0, 0, true}; }

// Circle numbers below count from 1, as the patterns are usually written.
constexpr Pattern xline(Alignment a, Alignment b, Alignment c, unsigned char at, unsigned char c1, unsigned char c2,
                        unsigned char c3 = 0, unsigned char c4 = 0)
{
    const unsigned char n = static_cast<unsigned char>(2 + (c3 != 0) + (c4 != 0));
    return {{a, b, c},
            Action::XLine,
            {static_cast<unsigned char>(c1 - 1), static_cast<unsigned char>(c2 - 1),
             static_cast<unsigned char>(c3 != 0 ? c3 - 1 : 0), static_cast<unsigned char>(c4 != 0 ? c4 - 1 : 0)},
            n,
            static_cast<unsigned char>(at - 1)};
}

constexpr Pattern yline(Alignment a, Alignment b, Alignment c, unsigned char at, unsigned char c1, unsigned char c2,
                        unsigned char c3 = 0, unsigned char c4 = 0)
{
    Pattern p = xline(a, b, c, at, c1, c2, c3, c4);
    p.action = Action::YLine;
    return p;
}

constexpr Pattern crossing(Alignment a, Alignment b, Alignment c, unsigned char l1, unsigned char l2,
                           unsigned char k1, unsigned char k2)
{
    return {{a, b, c},
            Action::Crossing,
            {static_cast<unsigned char>(l1 - 1), static_cast<unsigned char>(l2 - 1), static_cast<unsigned char>(k1 - 1),
             static_cast<unsigned char>(k2 - 1)},
            4,
            0};
}

const Pattern kTwoCircles[] = {
    xline(Y(1, 2), any(), any(), 1, 1, 2),
    yline(X(1, 2), any(), any(), 1, 1, 2),
};

const Pattern kThreeCircles[] = {
    xline(Y(1, 2), Y(2, 3), Y(1, 3), 1, 1, 2, 3),
    yline(X(1, 2), X(2, 3), X(1, 3), 1, 1, 2, 3),
    xline(Y(1, 2), notY(1, 3), notY(2, 3), 1, 1, 2),
    yline(X(1, 2), notX(1, 3), notX(2, 3), 1, 1, 2),
    xline(Y(1, 3), notY(1, 2), notY(2, 3), 1, 1, 3),
    yline(X(1, 3), notX(1, 2), notX(2, 3), 1, 1, 3),
    xline(Y(2, 3), notY(1, 2), notY(1, 3), 2, 2, 3),
    yline(X(2, 3), notX(1, 2), notX(1, 3), 2, 2, 3),
};

const Pattern kFourCircles[] = {
    xline(Y(1, 2), Y(1, 3), Y(1, 4), 3, 1, 2, 3, 4),
    yline(X(1, 2), X(1, 3), X(1, 4), 3, 1, 2, 3, 4),
    xline(Y(1, 2), Y(1, 3), notY(1, 4), 2, 1, 2, 3),
    yline(X(1, 2), X(1, 3), notX(1, 4), 2, 1, 2, 3),
    xline(Y(1, 2), notY(1, 3), Y(1, 4), 2, 1, 2, 4),
    yline(X(1, 2), notX(1, 3), X(1, 4), 2, 1, 2, 4),
    xline(notY(1, 2), Y(1, 3), Y(1, 4), 3, 1, 3, 4),
    yline(notX(1, 2), X(1, 3), X(1, 4), 3, 1, 3, 4),
    xline(notY(1, 2), Y(2, 3), Y(2, 4), 3, 2, 3, 4),
    yline(notX(1, 2), X(2, 3), X(2, 4), 3, 2, 3, 4),
    crossing(Y(1, 2), notY(1, 3), notY(1, 4), 1, 2, 3, 4),
    crossing(Y(1, 3), notY(1, 2), notY(1, 4), 1, 3, 2, 4),
    crossing(Y(1, 4), notY(1, 2), notY(1, 3), 1, 4, 2, 3),
    crossing(Y(2, 3), notY(1, 2), notY(2, 4), 2, 3, 1, 4),
    crossing(Y(2, 4), notY(1, 2), notY(2, 3), 2, 4, 1, 3),
    crossing(Y(3, 4), notY(1, 3), notY(2, 3), 3, 4, 1, 2),
};

arma::mat line_matrix(const circle* c, const unsigned char* which, unsigned n, bool y_first)
{
    arma::mat m(n, 3);
    for (unsigned i = 0; i < n; ++i) {
        const point& p = c[which[i]].center;
        m(i, 0) = y_first ? p.y : p.x;
        m(i, 1) = y_first ? p.x : p.y;
        m(i, 2) = p.z;
    }
    return m;
}

arma::rowvec radii_of(const circle* c, const unsigned char* which, unsigned n)
{
    arma::rowvec r(n);
    for (unsigned i = 0; i < n; ++i) {
        r(i) = c[which[i]].r;
    }
    return r;
}

bool run_line(const circle* c, const unsigned char* which, unsigned n, Action action, const circle& at,
              arma::rowvec& result)
{
    if (action == Action::XLine) {
        return multivariate2D_x_parallel(line_matrix(c, which, n, false), radii_of(c, which, n), at.center.y, result);
    }
    return multivariate2D_y_parallel(line_matrix(c, which, n, true), radii_of(c, which, n), at.center.x, result);
}

template <size_t N>
bool solve_by_patterns(const Pattern (&table)[N], const circle* c, arma::rowvec& result)
{
    for (const Pattern& row : table) {
        if (!holds(c, row.tests[0]) || !holds(c, row.tests[1]) || !holds(c, row.tests[2])) {
            continue;
        }
        if (row.action == Action::Crossing) {
            const circle line[2] = {c[row.circles[0]], c[row.circles[1]]};
            const circle cross[2] = {c[row.circles[2]], c[row.circles[3]]};
            return multivariate_crisscross(line, cross, result);
        }
        return run_line(c, row.circles, row.count, row.action, c[row.at], result);
    }
    return false;
}

arma::mat matrix_of(const circle* c, std::initializer_list<unsigned> which, bool y_first)
{
    unsigned char idx[4] = {};
    unsigned n = 0;
    for (unsigned k : which) {
        if (n < 4) {
            idx[n++] = static_cast<unsigned char>(k);
        }
    }
    return line_matrix(c, idx, n, y_first);
}

bool fit_line(const arma::mat& M, const arma::rowvec& radii, arma::vec& s)
{
    s = Multivariate2D(M, radii, false);
    if (s.n_elem < 2) {
        ZUB_PRINT(ZUB_PRINT_ERROR, "%s", kFitFailed);
        return false;
    }
    return true;
}

void ensure_three(arma::rowvec& v)
{
    if (v.n_elem < 3) {
        v.resize(3);
    }
}

}  // namespace

bool circles_aligned_y(const circle& a, const circle& b)
{
    return std::fabs(a.center.y - b.center.y) < ZUB_LINE_TOLERANCE;
}

bool circles_aligned_x(const circle& a, const circle& b)
{
    return std::fabs(a.center.x - b.center.x) < ZUB_LINE_TOLERANCE;
}

arma::mat x_line_matrix(const circle* c, std::initializer_list<unsigned> which)
{
    return matrix_of(c, which, false);
}

arma::mat y_line_matrix(const circle* c, std::initializer_list<unsigned> which)
{
    return matrix_of(c, which, true);
}

arma::rowvec line_radii(const circle* c, std::initializer_list<unsigned> which)
{
    arma::rowvec r(which.size());
    unsigned i = 0;
    for (unsigned k : which) {
        r(i++) = c[k].r;
    }
    return r;
}

bool multivariate2D_x_parallel(const arma::mat& M, const arma::rowvec& radii, double y_line, arma::rowvec& result)
{
    arma::vec s;
    if (!fit_line(M, radii, s)) {
        return false;
    }
    ensure_three(result);
    result(0) = s(0);
    result(1) = y_line;
    result(2) = s(1);
    return true;
}

bool multivariate2D_y_parallel(const arma::mat& M, const arma::rowvec& radii, double x_line, arma::rowvec& result)
{
    arma::vec s;
    if (!fit_line(M, radii, s)) {
        return false;
    }
    ensure_three(result);
    result(0) = x_line;
    result(1) = s(0);
    result(2) = s(1);
    return true;
}

bool multivariate_2_position(const circle c[2], arma::rowvec& result)
{
    return solve_by_patterns(kTwoCircles, c, result);
}

bool multivariate_3_position(const circle c[3], arma::rowvec& result)
{
    return solve_by_patterns(kThreeCircles, c, result);
}

bool multivariate_4_position(const circle c[4], arma::rowvec& result)
{
    return solve_by_patterns(kFourCircles, c, result);
}

bool multivariate_crisscross(const circle line[2], const circle cross[2], arma::rowvec& result)
{
    const unsigned char pair[2] = {0, 1};
    arma::rowvec p(3, arma::fill::zeros);
    const bool p_ok = run_line(line, pair, 2, Action::XLine, line[1], p);
    if (!circles_aligned_x(cross[0], cross[1])) {
        ensure_three(result);
        result.head(3) = p.head(3);
        return p_ok;
    }
    arma::rowvec q(3, arma::fill::zeros);
    const bool q_ok = run_line(cross, pair, 2, Action::YLine, cross[1], q);
    ensure_three(result);
    if (p_ok && q_ok) {
        result(0) = (p(0) + q(0)) / 2;
        result(1) = (p(1) + q(1)) / 2;
        result(2) = (p(2) + q(2)) / 2;
        return true;
    }
    result.head(3) = q_ok ? q.head(3) : p.head(3);
    return q_ok || p_ok;
}
