// The reference-anchor choice: which composed arrival becomes row 0 of the solve.
#include <cmath>
#include <limits>
#include <vector>

#include "zub_selector.h"

Anchor* Selector::find_zeroth_anchor(const blinks_t* blinks, unsigned& index)
{
    round_dist_ = zub_distance_snapshot();
    return find_zeroth_anchor_in(blinks, index, round_dist_.get());
}

Anchor* Selector::find_zeroth_anchor_in(const blinks_t* blinks, unsigned& index, const DistanceMatrix* dist)
{
    if (blinks == nullptr || dist == nullptr) {
        return nullptr;
    }
    const unsigned n = blinks->nBlinks;
    if (n == 0 || n > ZUB_MAX_BLINKS_PER_ROUND || anchorCoords.n_elem != 3 * n || anchorCoords.n_cols != 3 ||
        tdoa.n_elem < n) {
        return nullptr;
    }
    unsigned ids[ZUB_MAX_BLINKS_PER_ROUND];
    for (unsigned i = 0; i < n; ++i) {
        ids[i] = blinks->blinks[i].id;
        if (!dist->covers(ids[i])) {
            return nullptr;  // no distances for this set: keep the composed order
        }
    }
    arma::fmat D(n, n);
    for (unsigned i = 0; i < n; ++i) {
        for (unsigned j = 0; j < n; ++j) {
            D(i, j) = dist->at(ids[i], ids[j]);
        }
    }
    std::vector<float> spread(n);
    std::vector<float> column(n);
    for (unsigned i = 0; i < n; ++i) {
        float row_sum = 0.0f;
        float col_sum = 0.0f;
        for (unsigned j = 0; j < n; ++j) {
            row_sum += D(i, j) * D(i, j);
            col_sum += D(j, i) * D(j, i);
        }
        spread[i] = std::sqrt(row_sum);
        column[i] = std::sqrt(col_sum);
    }
    arma::mat A = anchorCoords;
    arma::rowvec T = tdoa.head(n);
    std::vector<unsigned> order(n);
    std::vector<bool> allowed(n, true);
    for (unsigned i = 0; i < n; ++i) {
        order[i] = i;
    }

    for (unsigned k = 0; k < n; ++k) {
        unsigned c = 0;
        float best = 0.0f;
        for (unsigned m = k; m < n; ++m) {
            if (spread[m] > best) {
                best = spread[m];
                c = m;
            }
        }
        // Row 0 takes the candidate, k the old row 0, c the old k (nothing moves for c = k).
        auto rotate = [&](auto&& get) {
            auto x = get(k);
            get(k) = get(0);
            get(0) = get(c);
            get(c) = x;
        };
        rotate([&](unsigned i) -> float& { return spread[i]; });
        rotate([&](unsigned i) -> double& { return T(i); });
        rotate([&](unsigned i) -> unsigned& { return order[i]; });
        for (unsigned col = 0; col < 3; ++col) {
            rotate([&](unsigned i) -> double& { return A(i, col); });
        }

        arma::rowvec P;
        if (multilaterator.setAnchors(A, 0) != 0) {
            P = multilaterator.multilaterate(T, A, 0);
        }
        if (P.n_elem == 3) {
            unsigned w = 0;
            double best_fit = -std::numeric_limits<double>::infinity();
            for (unsigned j = 0; j < n; ++j) {
                const double fit = column[j] - arma::norm(anchorCoords.row(j) - P);
                if (fit > best_fit) {
                    best_fit = fit;
                    w = j;
                }
            }
            if (allowed[w]) {
                index = w;
                return &ctx().anchors[ids[w] % ZUB_MAX_ANCHOR_NUM];
            }
        }
        allowed[order[0]] = false;
    }
    return nullptr;
}
