// KalmanFilter.h - constant-acceleration Kalman filter smoothing one axis of a tag's
// solved positions (metres; time step in seconds).
//
// Three instances live in every Tag (one per axis). A filter belongs to the Tag, which
// one selector job's thread owns: no lock. Never throws; fixed-size matrices, so a
// step does not touch the heap.
#pragma once

#include <armadillo>

class KalmanFilter {
public:
    KalmanFilter();

    // One step on one axis; returns the filtered position. The first call takes the
    // location as it is. A non-finite dt or location leaves the filter unchanged and
    // returns the current estimate (the location itself before the first call).
    double process(double dt, double location);

    double measNoiseStd;     // 0.075 m
    double processNoiseStd;  // 0.2
    bool init;               // false until the first measurement
    arma::vec::fixed<3> x;   // position, velocity, acceleration
    arma::vec::fixed<1> z;   // last measurement
    arma::mat::fixed<3, 3> A;  // state transition
    arma::mat::fixed<3, 3> P;  // error covariance
    arma::mat::fixed<3, 3> Q;  // process noise
    arma::mat::fixed<1, 1> R;  // measurement noise
    arma::mat::fixed<1, 3> H;  // measurement matrix [1 0 0]
};

// out(i) = k[i].process(dt, in(i)) for the axes x, y, z with one dt. `k` points at three
// filters. An `in` of fewer than three elements leaves everything unchanged; `out` is
// grown to three elements when shorter.
void Motion_Filter(KalmanFilter* k, double dt, const arma::rowvec& in, arma::rowvec& out);
