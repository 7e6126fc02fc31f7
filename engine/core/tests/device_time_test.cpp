// Device time: the 40-bit clock of 1/(128 x 499.2 MHz) ticks, and the payload readers.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "zub_device_time.h"

namespace {
constexpr WORD64 k2Pow40 = WORD64{1} << 40;
}

TEST(engine_core_DeviceTime, TickAndPeriodFollowTheClockRate)
{
    EXPECT_DOUBLE_EQ(ZUB_DEVICE_TICK_S, 1.5650040064102565e-11);
    EXPECT_DOUBLE_EQ(convertdevicetimetosecu(k2Pow40), 17.207401025641026);
    EXPECT_DOUBLE_EQ(convertdevicetimetosecu(k2Pow40) / 2, 8.603700512820513);
    EXPECT_DOUBLE_EQ(convertdevicetimetosec(static_cast<int64_t>(k2Pow40)), 17.207401025641026);
    EXPECT_DOUBLE_EQ(convertdevicetimetosec(-1), -1.5650040064102565e-11);
    // 63.8976 million ticks are one millisecond.
    EXPECT_NEAR(convertdevicetimetomicrosecu(63897600), 1000.0, 1e-9);
    EXPECT_NEAR(convertdevicetimetomicrosec(-63897600), -1000.0, 1e-9);
    EXPECT_EQ(convertdevicetimetosecu(0), 0.0);
}

TEST(engine_core_DeviceTime, MicrosecondsToTicksTruncatesAndWrapsAt40Bits)
{
    EXPECT_EQ(convertmicrosectodevicetimeu(1000.0), 63897600u);
    // 1 us = 63897.6 ticks, truncated.
    EXPECT_EQ(convertmicrosectodevicetimeu(1.0), 63897u);
    // One full period and a millisecond: the period wraps away.
    const double period_us = 17.207401025641026e6;
    EXPECT_EQ(convertmicrosectodevicetimeu(period_us + 1000.0), 63897600u);
    // Just below the period stays below 2^40.
    EXPECT_LT(convertmicrosectodevicetimeu(period_us - 0.001), k2Pow40);
    EXPECT_GT(convertmicrosectodevicetimeu(period_us - 0.001), k2Pow40 - 100);
}

TEST(engine_core_DeviceTime, NegativeAndNonFiniteMicrosecondsAreDefined)
{
    // -1 ms is 63897600 ticks before the counter's zero.
    EXPECT_EQ(convertmicrosectodevicetimeu(-1000.0), k2Pow40 - 63897600u);
    // A fraction of a tick (0.64 ticks) below zero truncates to zero; 1 ns is 63.9 ticks.
    EXPECT_EQ(convertmicrosectodevicetimeu(-0.00001), 0u);
    EXPECT_EQ(convertmicrosectodevicetimeu(-0.001), k2Pow40 - 63);
    // 1.5 ticks below zero truncates to one tick below: the counter's last value.
    EXPECT_EQ(convertmicrosectodevicetimeu(-1.5 * ZUB_DEVICE_TICK_S * 1e6), k2Pow40 - 1);
    EXPECT_EQ(convertmicrosectodevicetimeu(std::numeric_limits<double>::quiet_NaN()), 0u);
    EXPECT_EQ(convertmicrosectodevicetimeu(std::numeric_limits<double>::infinity()), 0u);
    EXPECT_EQ(convertmicrosectodevicetimeu(-std::numeric_limits<double>::infinity()), 0u);
    EXPECT_LT(convertmicrosectodevicetimeu(1e300), k2Pow40);
    EXPECT_LT(convertmicrosectodevicetimeu(-1e300), k2Pow40);
}

TEST(engine_core_DeviceTime, ReadersAreLittleEndian)
{
    const BYTE t40[] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x02};
    EXPECT_EQ(read40bittimefrommessagebuffer(t40), 0xFFFFFFFFFFu);
    const BYTE one[] = {0x01, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(read64bitIDfrommessagebuffer(one), 1u);
    const BYTE id[] = {0x93, 0xC4, 0xF1, 0x4E, 0x44, 0x61, 0x22, 0x08};
    EXPECT_EQ(read64bitIDfrommessagebuffer(id), 0x082261444EF1C493u);
    const BYTE t[] = {0x05, 0x01, 0x00, 0x80, 0x7F};
    EXPECT_EQ(read40bittimefrommessagebuffer(t), 0x7F80000105u);
    EXPECT_EQ(read16bitIDfrommessagebuffer(t), 0x0105u);
    EXPECT_EQ(read32bitIDfrommessagebuffer(t), 0x80000105u);
}

TEST(engine_core_DeviceTime, Uint64ToBufferRoundTrips)
{
    BYTE buf[8];
    zub_uint64_to_buf(buf, 0x0102030405060708u);
    const BYTE expect[] = {0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01};
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(buf[i], expect[i]) << i;
    }
    EXPECT_EQ(read64bitIDfrommessagebuffer(buf), 0x0102030405060708u);
}

TEST(engine_core_DeviceTime, ByteOrderIsKnownAtCompileTime)
{
    const uint16_t probe = 1;
    const bool little = *reinterpret_cast<const uint8_t*>(&probe) == 1;
    EXPECT_EQ(isbigendian(), little ? 0 : 1);
    static_assert(ZUB_BIG_ENDIAN_HOST == 0 || ZUB_BIG_ENDIAN_HOST == 1, "usable in constant expressions");
    EXPECT_EQ(isbigendian(), ZUB_BIG_ENDIAN_HOST);
}
