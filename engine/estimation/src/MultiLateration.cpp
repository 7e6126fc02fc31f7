#include "MultiLateration.h"

#include <cmath>
#include <new>

namespace {

double determinant_2x2(const arma::mat& x)
{
    return x(0, 0) * x(1, 1) - x(0, 1) * x(1, 0);
}

double determinant_3x3(const arma::mat& x)
{
    return x(0, 0) * (x(1, 1) * x(2, 2) - x(1, 2) * x(2, 1)) -
           x(0, 1) * (x(1, 0) * x(2, 2) - x(1, 2) * x(2, 0)) +
           x(0, 2) * (x(1, 0) * x(2, 1) - x(1, 1) * x(2, 0));
}

arma::mat adjugate_2x2(const arma::mat& x)
{
    return {{x(1, 1), -x(0, 1)}, {-x(1, 0), x(0, 0)}};
}

arma::mat adjugate_3x3(const arma::mat& x)
{
    arma::mat adj(3, 3);
    adj(0, 0) = x(1, 1) * x(2, 2) - x(1, 2) * x(2, 1);
    adj(0, 1) = x(0, 2) * x(2, 1) - x(0, 1) * x(2, 2);
    adj(0, 2) = x(0, 1) * x(1, 2) - x(0, 2) * x(1, 1);
    adj(1, 0) = x(1, 2) * x(2, 0) - x(1, 0) * x(2, 2);
    adj(1, 1) = x(0, 0) * x(2, 2) - x(0, 2) * x(2, 0);
    adj(1, 2) = x(0, 2) * x(1, 0) - x(0, 0) * x(1, 2);
    adj(2, 0) = x(1, 0) * x(2, 1) - x(1, 1) * x(2, 0);
    adj(2, 1) = x(0, 1) * x(2, 0) - x(0, 0) * x(2, 1);
    adj(2, 2) = x(0, 0) * x(1, 1) - x(0, 1) * x(1, 0);
    return adj;
}

}  // namespace

MultiLateration::MultiLateration() : numAnchors(0)
{
}

int MultiLateration::setAnchors(const arma::mat& anchor_coords, int zubSolver3D)
{
    try {
        numAnchors = static_cast<int>(anchor_coords.n_rows);
        const arma::uword d = zubSolver3D != 0 ? 3 : 2;
        if (anchor_coords.n_rows == 0 || anchor_coords.n_cols < d) {
            S.reset();
            R.reset();
            refAnchorCoords.reset();
            return 0;
        }
        const arma::uword m = anchor_coords.n_rows - 1;
        refAnchorCoords = anchor_coords.row(0).cols(0, d - 1);
        S.set_size(m, d);
        for (arma::uword i = 1; i <= m; ++i) {
            for (arma::uword c = 0; c < d; ++c) {
                S(i - 1, c) = anchor_coords(i, c) - anchor_coords(0, c);
            }
        }
        return calculateSwTSw();
    } catch (const std::exception&) {
        return 0;
    }
}

int MultiLateration::calculateSwTSw()
{
    // A refused geometry must not leave the previous one's distances behind for a
    // multilaterate() that is called against the rule.
    R.reset();
    Sw.reset();
    SwTSw.reset();
    try {
        const arma::mat x = S.t() * S;
        double det = 0.0;
        if (x.n_rows == 2 && x.n_cols == 2) {
            det = determinant_2x2(x);
        } else if (x.n_rows == 3 && x.n_cols == 3) {
            det = determinant_3x3(x);
        } else {
            return 0;
        }
        // Nearly coincident, collinear (2D) or coplanar (3D) anchors leave a determinant
        // that is tiny beside the spread of the anchors rather than exactly zero.
        const double scale = std::pow(arma::trace(x), static_cast<double>(x.n_rows));
        if (!std::isfinite(det) || std::fabs(det) <= kDegenerateDet * scale) {
            return 0;
        }
        const arma::mat x_inv = (x.n_rows == 2 ? adjugate_2x2(x) : adjugate_3x3(x)) / det;
        R = arma::sqrt(arma::sum(arma::square(S), 1));
        Sw = x_inv * S.t();
        SwTSw = Sw.t() * Sw;
        return 1;
    } catch (const std::exception&) {
        return 0;
    }
}

arma::rowvec MultiLateration::multilaterate(const arma::rowvec& tdoa, const arma::mat&,
                                            int zubSolver3D)
{
    try {
        const arma::uword d = zubSolver3D != 0 ? 3 : 2;
        if (numAnchors < 1 || S.n_cols != d || refAnchorCoords.n_elem != d) {
            return {};
        }
        const arma::uword m = static_cast<arma::uword>(numAnchors) - 1;
        // d + 1 anchors or fewer leave the projected system rank-deficient.
        if (m < d + 1 || S.n_rows != m || R.n_rows != m || tdoa.n_elem < m + 1) {
            return {};
        }

        const arma::vec ddoa =
            kSpeedOfLight * (tdoa.cols(1, m).t() - tdoa(0));
        const arma::vec delta = arma::square(R) - arma::square(ddoa);

        I = arma::eye(m, m);
        W = I;

        // All differences zero (a tag equidistant from every anchor): there is no
        // direction to project out, and the plain identity keeps the fit exact.
        const double a = arma::dot(ddoa, ddoa);
        const arma::mat proj = a == 0.0 ? I : arma::mat(I - (ddoa * ddoa.t()) / a);

        // S' P W P, multiplied from the left: every product is then d x m by m x m,
        // where the product of the two m x m factors first would cost m^3.
        arma::mat spw = S.t() * proj;
        spw = spw * W;
        spw = spw * proj;
        const arma::mat inner = spw * S;
        arma::mat inner_inv;
        if (!arma::inv(inner_inv, inner)) {
            return {};
        }
        // The exact reciprocal condition number in the 1-norm, from the d x d inverse
        // that is needed anyway.
        const double rc = 1.0 / (arma::norm(inner, 1) * arma::norm(inner_inv, 1));
        if (!(rc >= kMinRcond)) {
            return {};
        }
        const arma::vec p = refAnchorCoords.t() + 0.5 * inner_inv * (spw * delta);
        if (!p.is_finite()) {
            return {};
        }
        return {p(0), p(1), d == 3 ? p(2) : 0.0};
    } catch (const std::exception&) {
        return {};
    }
}
