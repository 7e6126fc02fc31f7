#include "CS_Kalman.h"

#include <cmath>

namespace {

constexpr double kInvSqrt2 = 0.7071067811865476;

// Floored remainder into [0, kPeriod). The second test catches a tiny negative value
// whose sum with the period rounds up to the period itself.
double wrap_into_period(double v)
{
    double r = std::fmod(v, CS_Kalman::kPeriod);
    if (r < 0.0) {
        r += CS_Kalman::kPeriod;
    }
    if (r >= CS_Kalman::kPeriod) {
        r -= CS_Kalman::kPeriod;
    }
    return r;
}

}  // namespace

CS_Kalman::CS_Kalman()
    : id(0),
      measNoiseVar(3e-20),
      processNoiseVar(5e-20),
      prevTxTime(0.0),
      prevRxTime(0.0),
      counter(0),
      outlier_counter(0),
      init(false),
      x0(0.0),
      x1(1.0),
      p0(0.0),
      p1(0.0),
      p2(0.0),
      p3(0.0),
      dt(0.0),
      measuredError(0.0),
      outlier(0)
{
}

void CS_Kalman::updateFilter(double timeRxs, double timeTxs)
{
    // One NaN would poison the state for the life of the pair.
    if (!std::isfinite(timeRxs) || !std::isfinite(timeTxs)) {
        return;
    }

    if (counter < kCounterLimit) {
        ++counter;
    }
    prevRxTime = timeRxs;

    if (!init) {
        x0 = timeRxs;
        x1 = 1.0;
        init = true;
        prevTxTime = std::fmod(timeTxs, kPeriod);
        return;
    }

    dt = std::fmod(timeTxs, kPeriod) - prevTxTime;
    outlier = 0;
    if (dt < 0.0) {
        dt += kPeriod;
    }

    const double old_x0 = x0;
    const double old_p0 = p0;
    const double old_p1 = p1;
    const double old_p2 = p2;
    const double old_p3 = p3;

    x0 = std::fmod(x0 + x1 * dt, kPeriod);

    const double q = processNoiseVar;
    const double cross = q * kInvSqrt2 * dt;
    p0 = old_p0 + old_p1 * dt + (old_p3 * dt + old_p2) * dt + 0.5 * dt * dt * q;
    p1 = old_p1 + old_p3 * dt + cross;
    p2 = old_p2 + old_p3 * dt + cross;
    p3 = old_p3 + q;

    // Floored, not truncated: a reception that has wrapped while the prediction has not
    // makes the dividend negative, and the truncated remainder would then be near -P.
    const double y = wrap_into_period(timeRxs - x0 + kHalfPeriod) - kHalfPeriod;
    measuredError = y;

    const double s = p0 + measNoiseVar;
    if (y * (1.0 / s) * y > kGateThreshold && counter > kWarmUpCalls) {
        outlier = 1;
        measuredError = 0.0;
        ++outlier_counter;
        if (outlier_counter > kOutlierResetScore) {
            outlier_counter = 0;
            counter = 0;
        }
        x0 = old_x0;
        p0 = old_p0;
        p1 = old_p1;
        p2 = old_p2;
        p3 = old_p3;
        return;
    }

    const double k0 = p0 / s;
    const double k1 = p2 / s;
    x0 += y * k0;
    x1 += y * k1;
    if (x0 < 0.0) {
        x0 += kPeriod;
        if (x0 >= kPeriod) {
            x0 = 0.0;
        }
    } else {
        x0 = std::fmod(x0, kPeriod);
    }

    if (outlier_counter > 0) {
        --outlier_counter;
    }

    const double c0 = p0;
    const double c1 = p1;
    p3 -= c1 * k1;
    p2 -= c0 * k1;
    p1 -= c1 * k0;
    p0 -= c0 * k0;

    prevTxTime = std::fmod(timeTxs, kPeriod);
}

double CS_Kalman::syncTOA(double blinkTime) const
{
    double d = blinkTime - x0;
    if (blinkTime >= prevRxTime && blinkTime - prevRxTime > kHalfPeriod) {
        d -= kPeriod;
    } else if (blinkTime < prevRxTime && prevRxTime - blinkTime > kHalfPeriod) {
        d += kPeriod;
    }
    // The rule above relates the blink to the last reception, not to x0; when the two
    // lie on opposite sides of a wrap, d is still one period off.
    if (d > kHalfPeriod) {
        d -= kPeriod;
    } else if (d < -kHalfPeriod) {
        d += kPeriod;
    }
    return wrap_into_period(d / x1 + prevTxTime);
}

void CS_Kalman::log(double, double, int)
{
}
