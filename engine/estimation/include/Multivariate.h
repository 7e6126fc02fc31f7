// Multivariate.h - closed-form least-squares positions from two-way ranges.
//
// Both fits shift the squared-range equations |x - p_i|^2 = r_i^2 to the anchors'
// centroid c, solve H q = f and return c - q. Pure functions of their arguments, called
// by the selectors' ranging round and circle geometry; callable from any thread. Never
// throw: every case that cannot give a position returns an empty vector, which the
// callers treat as "no position".
#pragma once

#include <armadillo>

// anchors: one row per anchor (x, y, z in metres); tof(i): range to row i in metres.
// is_y true: fit in the x-y plane (columns 0, 1) and return (x, y); false: in the x-z
// plane (columns 0, 2) and return (x, z). Empty for fewer than two anchors, a tof
// shorter than the anchors, too few columns, or a non-finite result.
arma::vec Multivariate2D(const arma::mat& anchors, const arma::rowvec& tof, bool is_y);

// Returns (x, y, z); empty for fewer than four anchors, a tof shorter than the anchors,
// fewer than three columns, or a non-finite result.
arma::vec Multivariate3D(const arma::mat& anchors, const arma::rowvec& tof);
