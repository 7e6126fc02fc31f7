// zub_device_time.h - the anchors' 40-bit device clock and the little-endian readers of
// times and ids inside report payloads.
//
// The clock counts ticks of 1 / (128 x 499.2 MHz) and wraps every 2^40 ticks. Pure
// functions; any thread. Readers never check lengths: the caller has checked the payload.
#pragma once

#include <bit>
#include <cstdint>

#include "VorlenTypes.h"

constexpr double ZUB_DEVICE_TICK_S = 1.0 / (128.0 * 499.2e6);     // 15.650040064102565 ps
constexpr WORD64 ZUB_DEVICE_TIME_MASK = (WORD64{1} << 40) - 1;    // 40-bit counter
constexpr double ZUB_DEVICE_TIME_PERIOD_S = 17.207401025641026;   // 2^40 ticks
constexpr double ZUB_DEVICE_TIME_HALF_PERIOD_S = 8.603700512820513;

// 5 bytes little-endian, masked to 40 bits.
WORD64 read40bittimefrommessagebuffer(const BYTE* buf);
// 8, 2 and 4 bytes little-endian.
WORD64 read64bitIDfrommessagebuffer(const BYTE* buf);
WORD16 read16bitIDfrommessagebuffer(const BYTE* buf);
WORD32 read32bitIDfrommessagebuffer(const BYTE* buf);
// 8 bytes little-endian.
void zub_uint64_to_buf(BYTE* out, WORD64 value);

// Seconds and microseconds of a number of ticks (no wrap applied).
double convertdevicetimetosecu(WORD64 ticks);
double convertdevicetimetosec(int64_t ticks);
double convertdevicetimetomicrosecu(WORD64 ticks);
double convertdevicetimetomicrosec(int64_t ticks);

// Ticks of a number of microseconds, truncated toward zero and brought into the 40-bit
// counter: a negative time wraps below 2^40 as the counter does (-1 tick gives
// 0xFFFFFFFFFF), a time past the period wraps round it; a non-finite time gives 0.
WORD64 convertmicrosectodevicetimeu(double us);

// 1 on a big-endian host, else 0: a property of the build, fixed at compile time.
constexpr int ZUB_BIG_ENDIAN_HOST = std::endian::native == std::endian::big ? 1 : 0;
int isbigendian();
