// zub_circle_geometry.h - ranging circles of anchors mounted along axis-parallel lines:
// which circles share a line, the fit in the vertical plane through that line, and the
// crossing of a line along x with one along y.
//
// Pure computation on the caller's data (the fits are Multivariate2D over the x-z plane);
// the only side effect is the error print of a fit that gives nothing. Any thread; the
// ranging round calls it on its selector's thread.
#pragma once

#include <armadillo>
#include <initializer_list>

struct point {
    double x;  // metres
    double y;
    double z;
};

// A ranging circle: the anchor's position and the range to the tag.
struct circle {
    point center;
    double r;  // metres
};

// Circles closer than this along an axis share a line parallel to the other axis.
constexpr double ZUB_LINE_TOLERANCE = 1.0;  // m

// |yi - yj| < 1.0 (strictly): the two centres lie on a line parallel to x.
bool circles_aligned_y(const circle& a, const circle& b);
// |xi - xj| < 1.0 (strictly): the two centres lie on a line parallel to y.
bool circles_aligned_x(const circle& a, const circle& b);

// The line matrices of the given circles (indexes into c): the x-line form has rows
// (x, y, z) of the centres, the y-line form rows (y, x, z); radii in the same order.
arma::mat x_line_matrix(const circle* c, std::initializer_list<unsigned> which);
arma::mat y_line_matrix(const circle* c, std::initializer_list<unsigned> which);
arma::rowvec line_radii(const circle* c, std::initializer_list<unsigned> which);

// Circles on a line parallel to x: fits (x, z) over M's first and third columns and
// writes (x, y_line, z). False (result untouched, error printed) when the fit gives none.
bool multivariate2D_x_parallel(const arma::mat& M, const arma::rowvec& radii, double y_line,
                               arma::rowvec& result);
// Circles on a line parallel to y, M in the y-line form: writes (x_line, y, z).
bool multivariate2D_y_parallel(const arma::mat& M, const arma::rowvec& radii, double x_line,
                               arma::rowvec& result);

// Two, three or four circles in the order of the tag's range records: the first
// alignment pattern that matches picks the circles and the line; false when none does
// (result untouched) or when the fit fails. result has at least 3 elements.
bool multivariate_2_position(const circle c[2], arma::rowvec& result);
bool multivariate_3_position(const circle c[3], arma::rowvec& result);
bool multivariate_4_position(const circle c[4], arma::rowvec& result);

// Two lines crossing: `line` is the pair aligned in y, `cross` the other pair. With the
// cross pair aligned in x both line fits run and are averaged (or the one that solved is
// taken); otherwise the line estimate alone.
bool multivariate_crisscross(const circle line[2], const circle cross[2], arma::rowvec& result);
