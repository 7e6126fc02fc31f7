// MultiLateration.h - closed-form (spherical-interpolation) time-difference
// multilateration: a tag position from one blink's arrival times at n anchors.
//
// Row 0 of the anchors is the reference; every range difference is taken against it.
// setAnchors() fixes the geometry, multilaterate() solves for one set of times and may
// be called several times per geometry. One solver belongs to one Selector, used only
// by its selector job's thread: no lock. Never throws.
#pragma once

#include <armadillo>

class MultiLateration {
public:
    static constexpr double kSpeedOfLight = 299702547.0;  // m/s
    // The inner system counts as singular below this reciprocal condition number.
    static constexpr double kMinRcond = 1e-12;
    // S'S counts as degenerate when |det| <= kDegenerateDet * trace^d.
    static constexpr double kDegenerateDet = 1e-12;

    MultiLateration();

    // anchor_coords: one row (x, y, z) per anchor, the reference first. zubSolver3D
    // non-zero: three dimensions, else two (z ignored). Returns 1 when the geometry can
    // be solved, 0 when it cannot (fewer than two anchors, fewer than d columns,
    // coincident/collinear (2D) or coplanar (3D) anchors, near-degenerate or non-finite
    // geometry).
    int setAnchors(const arma::mat& anchor_coords, int zubSolver3D);

    // tdoa: the n arrival times (s) in the rows' order, element 0 the reference, all in
    // one time base. zubSolver3D must be the value given to setAnchors. anchor_coords
    // is not used. Returns (x, y, z) (z = 0 in 2D), or an empty row when no position
    // can be given: fewer than d + 2 anchors, tdoa shorter than the anchors, a singular
    // or ill-conditioned system, a dimension other than setAnchors', or a non-finite
    // result.
    arma::rowvec multilaterate(const arma::rowvec& tdoa, const arma::mat& anchor_coords,
                               int zubSolver3D);

    // Last step of setAnchors: S'S, its inverse, R, Sw, SwTSw. Returns 1 or 0.
    int calculateSwTSw();

    int numAnchors;               // n given to setAnchors
    arma::mat S;                  // (n-1) x d, anchors minus the reference
    arma::mat R;                  // (n-1) x 1, distances from the reference
    arma::mat Sw;                 // d x (n-1), (S'S)^-1 S'
    arma::mat SwTSw;              // (n-1) x (n-1), Sw' Sw
    arma::mat W;                  // weighting, the identity
    arma::mat I;                  // the identity
    arma::rowvec refAnchorCoords; // the reference anchor's d coordinates
};
