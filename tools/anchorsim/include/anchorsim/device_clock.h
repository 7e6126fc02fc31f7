// device_clock.h - an anchor's device clock: a 40-bit counter of ticks of 1/(128 x 499.2 MHz)
// that starts at an offset, runs at its own rate (within +-20 ppm) and drifts slowly, and
// wraps every 2^40 ticks. Value type; any thread.
#pragma once

#include <cstdint>

namespace anchorsim {

constexpr long double kTicksPerSecond = 63897600000.0L;  // 128 x 499.2 MHz
constexpr uint64_t kTickMask = (uint64_t{1} << 40) - 1;

class DeviceClock {
public:
    DeviceClock() = default;
    // offset: the clock's reading in seconds at true time 0; rate in ppm (clamped to
    // +-20); drift: change of the rate in ppm per second, until the rate reaches +-20 ppm,
    // where it stays.
    DeviceClock(double offset_s, double rate_ppm, double drift_ppm_per_s);

    // The clock's reading in seconds at true time t (seconds since the run began), not
    // wrapped.
    long double local_seconds(double t) const;
    // The 40-bit counter at true time t.
    uint64_t ticks(double t) const;

    double offset_s() const { return offset_s_; }
    double rate_ppm() const { return rate_ppm_; }
    double drift_ppm_per_s() const { return drift_; }

private:
    double offset_s_ = 0.0;
    double rate_ppm_ = 0.0;
    double drift_ = 0.0;
};

}  // namespace anchorsim
