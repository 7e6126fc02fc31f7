#include "anchorsim/device_clock.h"

#include <algorithm>
#include <cmath>

#include "anchorsim/site.h"

namespace anchorsim {

DeviceClock::DeviceClock(double offset_s, double rate_ppm, double drift_ppm_per_s)
    : offset_s_(offset_s), rate_ppm_(std::clamp(rate_ppm, -kMaxRatePpm, kMaxRatePpm)), drift_(drift_ppm_per_s)
{
}

long double DeviceClock::local_seconds(double t) const
{
    // The rate wanders by the drift but never leaves +-20 ppm: once it reaches the bound it
    // stays there, so the clock's error is the integral of a clamped ramp.
    const long double tt = t;
    const long double rate = rate_ppm_;
    const long double drift = drift_;
    long double error_ppm_s = rate * tt + 0.5L * drift * tt * tt;
    if (drift != 0.0L) {
        const long double bound = drift > 0 ? kMaxRatePpm : -kMaxRatePpm;
        const long double t_hit = (bound - rate) / drift;
        if (t_hit >= 0 && tt > t_hit) {
            error_ppm_s = rate * t_hit + 0.5L * drift * t_hit * t_hit + bound * (tt - t_hit);
        }
    }
    return static_cast<long double>(offset_s_) + tt + error_ppm_s * 1e-6L;
}

uint64_t DeviceClock::ticks(double t) const
{
    const long double n = std::floor(local_seconds(t) * kTicksPerSecond);
    // Bring the count into the 40-bit counter, below zero as well as past the period.
    const long double period = static_cast<long double>(kTickMask) + 1.0L;
    long double wrapped = std::fmod(n, period);
    if (wrapped < 0) {
        wrapped += period;
    }
    return static_cast<uint64_t>(wrapped) & kTickMask;
}

}  // namespace anchorsim
