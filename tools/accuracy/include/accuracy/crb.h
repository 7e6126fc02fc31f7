// crb.h - Cramér–Rao bounds of a tag position for one anchor geometry.
//
// Arrival-time model (the closed-form TDoA solver): t_i = tau + |x - a_i| / c + n_i with
// an unknown emission time tau and independent noise of standard deviation sigma (given
// in metres, c * sigma_t). Range model (the two-way-ranging fits): r_i = |x - a_i| + n_i.
// Pure functions; callable from any thread.
#pragma once

#include <armadillo>

namespace accuracy {

// anchors: one row per anchor, at least `tag.n_elem` columns (only those are used);
// tag: the d coordinates of the tag (d = 2 or 3); sigma_m: noise in metres.
// Returns the d x d lower bound on the covariance of any unbiased position estimate,
// or an empty matrix when the Fisher information is singular (too few anchors, or a
// tag on an anchor or on a line of collinear anchors) or an input is unusable.
arma::mat crb_tdoa(const arma::mat& anchors, const arma::vec& tag, double sigma_m);
arma::mat crb_ranges(const arma::mat& anchors, const arma::vec& tag, double sigma_m);

// sqrt(trace): the bound on the root-mean-square position error at that tag.
double crb_rms(const arma::mat& crb);

}  // namespace accuracy
