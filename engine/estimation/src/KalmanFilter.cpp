#include "KalmanFilter.h"

#include <cmath>

namespace {

constexpr double kStartStep = 0.1;  // s, until the first real step is known

// Process-noise shape of a constant-acceleration model over one step dt.
arma::mat::fixed<3, 3> noise_shape(double dt)
{
    const double dt2 = dt * dt;
    const double dt3 = dt2 * dt;
    const double dt4 = dt3 * dt;
    arma::mat::fixed<3, 3> n;
    n = {{dt4 / 4.0, dt3 / 2.0, dt2 / 2.0},
         {dt3 / 2.0, dt2, dt},
         {dt2 / 2.0, dt, 1.0}};
    return n;
}

}  // namespace

KalmanFilter::KalmanFilter()
    : measNoiseStd(0.075), processNoiseStd(0.2), init(false)
{
    x.zeros();
    z.zeros();
    A = {{1.0, kStartStep, kStartStep * kStartStep / 2.0},
         {0.0, 1.0, kStartStep},
         {0.0, 0.0, 1.0}};
    H = {{1.0, 0.0, 0.0}};
    Q = processNoiseStd * processNoiseStd * noise_shape(kStartStep);
    R(0, 0) = measNoiseStd * measNoiseStd;
    P = Q;
}

double KalmanFilter::process(double dt, double location)
{
    if (!std::isfinite(location) || (init && !std::isfinite(dt))) {
        return init ? x(0) : location;
    }
    if (!init) {
        x(0) = location;
        init = true;
        return x(0);
    }

    z(0) = location;

    A(0, 1) = dt;
    A(0, 2) = dt * dt / 2.0;
    A(1, 2) = dt;
    Q = processNoiseStd * processNoiseStd * noise_shape(dt);

    x = A * x;
    P = A * P * A.t() + Q;

    // H P H' + R is 1x1 and at least R > 0, so the inverse is a plain reciprocal.
    const double innovation_var = arma::as_scalar(H * P * H.t() + R);
    const arma::vec::fixed<3> gain = P * H.t() / innovation_var;

    x = x + gain * (z - H * x);
    P = P - gain * H * P;
    return x(0);
}

void Motion_Filter(KalmanFilter* k, double dt, const arma::rowvec& in, arma::rowvec& out)
{
    if (k == nullptr || in.n_elem < 3) {
        return;
    }
    if (out.n_elem < 3) {
        out.resize(3);
    }
    for (arma::uword i = 0; i < 3; ++i) {
        out(i) = k[i].process(dt, in(i));
    }
}
