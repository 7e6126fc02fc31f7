#include "Multivariate.h"

#include <algorithm>
#include <cmath>

namespace {

// Ranges that do not quite reach the anchors' spread make the radicands slightly
// negative; the nearest real answer is then zero offset.
double root_clamped(double v)
{
    return std::sqrt(std::max(0.0, v));
}

// Sums of the squared-range equations shifted to the centroid of the anchors.
struct CentredSystem {
    arma::vec c;  // centroid
    arma::vec f;
    arma::mat D;
    arma::mat H;
};

CentredSystem centred_system(const arma::mat& anchors, const arma::rowvec& tof,
                             const arma::uvec& columns)
{
    const arma::uword n = anchors.n_rows;
    const arma::uword d = columns.n_elem;
    const arma::mat eye = arma::eye(d, d);

    arma::vec a(d, arma::fill::zeros);
    arma::mat b(d, d, arma::fill::zeros);
    arma::vec c(d, arma::fill::zeros);
    arma::mat sum_ppt(d, d, arma::fill::zeros);
    arma::vec p(d);
    for (arma::uword i = 0; i < n; ++i) {
        for (arma::uword j = 0; j < d; ++j) {
            p(j) = anchors(i, columns(j));
        }
        const double r2 = tof(i) * tof(i);
        const arma::mat ppt = p * p.t();
        const double ptp = arma::dot(p, p);
        a += ppt * p - r2 * p;
        b += -2.0 * ppt - (ptp - r2) * eye;
        c += p;
        sum_ppt += ppt;
    }
    const double inv_n = 1.0 / static_cast<double>(n);
    a *= inv_n;
    b *= inv_n;
    c *= inv_n;

    const arma::mat cct = c * c.t();
    const arma::mat ctc = arma::dot(c, c) * eye;
    const arma::mat cct2 = 2.0 * cct;
    const arma::mat bp2cct = b + cct2;

    CentredSystem sys;
    sys.f = a + bp2cct * c;
    sys.D = bp2cct + ctc;
    sys.H = cct2 - (sum_ppt * 2.0) / static_cast<double>(n);
    sys.c = c;
    return sys;
}

bool all_exact_zero(const arma::vec& v)
{
    return std::all_of(v.begin(), v.end(), [](double e) { return e == 0.0; });
}

double signed_root_abs(double magnitude_of, double sign_of)
{
    const double r = std::sqrt(std::fabs(magnitude_of));
    return sign_of >= 0.0 ? r : -r;
}

// The corridor heuristics that correct a fit whose system is (nearly) singular along
// one axis; the first case that applies wins.
void adjust_degenerate_2d(const arma::mat& h, const arma::mat& dm, arma::vec& q)
{
    const double h00 = h(0, 0);
    const double h01 = h(0, 1);
    const double h11 = h(1, 1);
    if (h00 == 0.0 && h01 == 0.0) {
        // No spread along the first axis: D(0,0) - H(0,0) is the squared offset.
        q(0) = root_clamped(dm(0, 0) - q(1) * q(1));
        return;
    }
    if (h11 == 0.0 && h01 == 0.0) {
        q(1) = root_clamped(dm(1, 1) - q(0) * q(0));
        return;
    }
    const double a01 = std::fabs(h01);
    if (a01 < 1.0 && a01 <= std::fabs(h00)) {
        if (std::fabs(h11) < a01) {
            q(1) = signed_root_abs(h00, q(1));
            q(1) -= signed_root_abs(h01, h01);
        }
        return;
    }
    if (a01 < 1.0) {
        q(0) = signed_root_abs(h11, q(0));
        q(0) -= signed_root_abs(h01, h01);
    }
}

// Solves H q = f. A well-conditioned system goes through the d x d inverse (Armadillo's
// direct formulas for tiny matrices, far cheaper than a factorisation with a condition
// estimate); a nearly singular one goes to solve(), whose minimum-norm least-squares
// fallback the corridor cases rely on.
bool solve_centred(arma::vec& q, const arma::mat& h, const arma::vec& f)
{
    constexpr double kDirectRcond = 1e-8;
    arma::mat h_inv;
    if (arma::inv(h_inv, h)) {
        const double rc = 1.0 / (arma::norm(h, 1) * arma::norm(h_inv, 1));
        if (rc >= kDirectRcond) {
            q = h_inv * f;
            return true;
        }
    }
    return arma::solve(q, h, f);
}

bool inputs_usable(const arma::mat& anchors, const arma::rowvec& tof, arma::uword min_rows,
                   arma::uword min_cols)
{
    return anchors.n_rows >= min_rows && anchors.n_cols >= min_cols &&
           tof.n_elem >= anchors.n_rows;
}

// The position the centred system and its solved offset give; empty when not finite.
arma::vec position_from(const CentredSystem& sys, const arma::vec& q)
{
    arma::vec pos = sys.c - q;
    if (!pos.is_finite()) {
        return {};
    }
    return pos;
}

}  // namespace

arma::vec Multivariate2D(const arma::mat& anchors, const arma::rowvec& tof, bool is_y)
{
    try {
        const arma::uword k = is_y ? 1 : 2;
        if (!inputs_usable(anchors, tof, 2, k + 1)) {
            return {};
        }
        const CentredSystem sys = centred_system(anchors, tof, arma::uvec{0, k});

        arma::vec q(2);
        if (all_exact_zero(sys.f)) {
            q(0) = 0.0;
            q(1) = root_clamped(sys.D(1, 1));
        } else {
            if (!solve_centred(q, sys.H, sys.f)) {
                return {};
            }
            adjust_degenerate_2d(sys.H, sys.D, q);
        }
        return position_from(sys, q);
    } catch (const std::exception&) {
        return {};
    }
}

arma::vec Multivariate3D(const arma::mat& anchors, const arma::rowvec& tof)
{
    try {
        if (!inputs_usable(anchors, tof, 4, 3)) {
            return {};
        }
        const CentredSystem sys = centred_system(anchors, tof, arma::uvec{0, 1, 2});

        arma::vec q(3);
        if (all_exact_zero(sys.f)) {
            // Symmetric layout with the tag on the normal through the centroid: only the
            // offset along z is left, and D(2,2) holds its square.
            q = {0.0, 0.0, root_clamped(sys.D(2, 2))};
        } else if (!solve_centred(q, sys.H, sys.f)) {
            return {};
        }
        return position_from(sys, q);
    } catch (const std::exception&) {
        return {};
    }
}
