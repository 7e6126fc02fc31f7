#include "zub_device_time.h"

#include <cmath>

namespace {

WORD64 read_le(const BYTE* buf, int n)
{
    WORD64 v = 0;
    for (int i = n - 1; i >= 0; --i) {
        v = (v << 8) | buf[i];
    }
    return v;
}

constexpr double kTicksPerPeriod = 1099511627776.0;  // 2^40

}  // namespace

WORD64 read40bittimefrommessagebuffer(const BYTE* buf)
{
    return read_le(buf, 5) & ZUB_DEVICE_TIME_MASK;
}

WORD64 read64bitIDfrommessagebuffer(const BYTE* buf)
{
    return read_le(buf, 8);
}

WORD16 read16bitIDfrommessagebuffer(const BYTE* buf)
{
    return static_cast<WORD16>(read_le(buf, 2));
}

WORD32 read32bitIDfrommessagebuffer(const BYTE* buf)
{
    return static_cast<WORD32>(read_le(buf, 4));
}

void zub_uint64_to_buf(BYTE* out, WORD64 value)
{
    for (int i = 0; i < 8; ++i) {
        out[i] = static_cast<BYTE>(value >> (8 * i));
    }
}

double convertdevicetimetosecu(WORD64 ticks)
{
    return static_cast<double>(ticks) * ZUB_DEVICE_TICK_S;
}

double convertdevicetimetosec(int64_t ticks)
{
    return static_cast<double>(ticks) * ZUB_DEVICE_TICK_S;
}

double convertdevicetimetomicrosecu(WORD64 ticks)
{
    return static_cast<double>(ticks) * ZUB_DEVICE_TICK_S * 1e6;
}

double convertdevicetimetomicrosec(int64_t ticks)
{
    return static_cast<double>(ticks) * ZUB_DEVICE_TICK_S * 1e6;
}

WORD64 convertmicrosectodevicetimeu(double us)
{
    const double ticks = std::trunc(us * 1e-6 / ZUB_DEVICE_TICK_S);
    if (!std::isfinite(ticks)) {
        return 0;
    }
    // fmod is exact, so the result is the integer ticks modulo 2^40, in [0, 2^40): the
    // conversion to an unsigned integer below is always defined.
    double wrapped = std::fmod(ticks, kTicksPerPeriod);
    if (wrapped < 0.0) {
        wrapped += kTicksPerPeriod;
    }
    return static_cast<WORD64>(wrapped) & ZUB_DEVICE_TIME_MASK;
}

int isbigendian()
{
    return ZUB_BIG_ENDIAN_HOST;
}
