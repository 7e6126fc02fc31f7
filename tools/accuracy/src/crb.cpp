#include "accuracy/crb.h"

#include <cmath>

namespace accuracy {

namespace {

// Unit vectors from every anchor towards the tag, one per column; empty when the tag
// sits on an anchor (the direction, and so the information, is undefined there).
arma::mat directions(const arma::mat& anchors, const arma::vec& tag)
{
    const arma::uword d = tag.n_elem;
    arma::mat u(d, anchors.n_rows);
    for (arma::uword i = 0; i < anchors.n_rows; ++i) {
        const arma::vec diff = tag - anchors.row(i).cols(0, d - 1).t();
        const double len = arma::norm(diff);
        if (!(len > 1e-9)) {
            return {};
        }
        u.col(i) = diff / len;
    }
    return u;
}

bool usable(const arma::mat& anchors, const arma::vec& tag, double sigma_m)
{
    return (tag.n_elem == 2 || tag.n_elem == 3) && anchors.n_cols >= tag.n_elem &&
           anchors.n_rows > 0 && anchors.is_finite() && tag.is_finite() && sigma_m > 0.0 &&
           std::isfinite(sigma_m);
}

arma::mat invert_information(const arma::mat& fisher)
{
    // Far below any real geometry's conditioning: the information is then singular.
    constexpr double kMinRcond = 1e-12;
    arma::mat bound;
    if (!arma::inv(bound, fisher)) {
        return {};
    }
    const double rc = 1.0 / (arma::norm(fisher, 1) * arma::norm(bound, 1));
    if (!(rc >= kMinRcond)) {
        return {};
    }
    return bound;
}

}  // namespace

arma::mat crb_tdoa(const arma::mat& anchors, const arma::vec& tag, double sigma_m)
{
    if (!usable(anchors, tag, sigma_m)) {
        return {};
    }
    const arma::mat u = directions(anchors, tag);
    if (u.is_empty()) {
        return {};
    }
    // The emission time is a nuisance parameter; eliminating it (Schur complement of the
    // joint information) centres the direction vectors on their mean.
    const arma::mat centred = u.each_col() - arma::mean(u, 1);
    const arma::mat fisher = centred * centred.t() / (sigma_m * sigma_m);
    return invert_information(fisher);
}

arma::mat crb_ranges(const arma::mat& anchors, const arma::vec& tag, double sigma_m)
{
    if (!usable(anchors, tag, sigma_m)) {
        return {};
    }
    const arma::mat u = directions(anchors, tag);
    if (u.is_empty()) {
        return {};
    }
    const arma::mat fisher = u * u.t() / (sigma_m * sigma_m);
    return invert_information(fisher);
}

double crb_rms(const arma::mat& crb)
{
    return crb.is_empty() ? NAN : std::sqrt(arma::trace(crb));
}

}  // namespace accuracy
