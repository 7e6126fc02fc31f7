// tag_geometry.h - what the estimation tests and benchmarks work their inputs out from: the
// distance of a tag from anchor rows and the arrival times of its blink. Header only, no test
// framework; any thread.
#pragma once

#include <armadillo>
#include <cmath>

namespace tag_geometry {

// The speed of light in air the solvers use.
constexpr double kC = 299702547.0;

// Distance of `tag` from anchor row i over the first `dims` columns.
inline double distance(const arma::mat& anchors, arma::uword i, const arma::rowvec& tag, int dims)
{
    double sq = 0.0;
    for (int c = 0; c < dims; ++c) {
        const double d = anchors(i, c) - tag(c);
        sq += d * d;
    }
    return std::sqrt(sq);
}

// The distances of every anchor row.
inline arma::rowvec ranges(const arma::mat& anchors, const arma::rowvec& tag, int dims)
{
    arma::rowvec r(anchors.n_rows);
    for (arma::uword i = 0; i < anchors.n_rows; ++i) {
        r(i) = distance(anchors, i, tag, dims);
    }
    return r;
}

// Arrival times of a blink sent at t0 at every anchor row (t0 + distance / c).
inline arma::rowvec arrival_times(const arma::mat& anchors, const arma::rowvec& tag, int dims, double t0 = 0.0)
{
    return t0 + ranges(anchors, tag, dims) / kC;
}

}  // namespace tag_geometry
