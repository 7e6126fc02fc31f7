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
    const long double tt = t;
    return static_cast<long double>(offset_s_) + tt + tt * static_cast<long double>(rate_ppm_) * 1e-6L +
           0.5L * static_cast<long double>(drift_) * 1e-6L * tt * tt;
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
