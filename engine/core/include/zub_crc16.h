// zub_crc16.h - the CRC-16 that closes every anchor frame: CRC-16/KERMIT (reflected
// polynomial 0x1021, initial value 0, no final XOR), stored little-endian after the bytes
// it covers.
//
// The tables are built at compile time, so every function is safe from any thread, also
// before init_crc16 has run.
#pragma once

#include <cstdint>

#include "VorlenTypes.h"

constexpr int CRC_OKAY = 0;
constexpr int CRC_ERROR = -1;

// Byte-wise table of the polynomial 0x1021 taken most significant bit first.
extern const WORD16 crc16Table[256];
// Every byte with its bit order mirrored.
extern const BYTE reverseByte[256];

// Kept for the start sequence, which calls it once at power-on; the tables it would build
// are already complete (see above).
void init_crc16();

// CRC_OKAY when the last two of `len` bytes hold the CRC of the bytes before them;
// CRC_ERROR otherwise, also for a null frame or fewer than 2 bytes.
int check_crc16(const BYTE* frame, WORD16 len);

// The CRC of `len` bytes, with the byte a frame stores first in the high half (written
// most significant byte first it gives the frame's order). A null buffer or a length of
// 0 or less gives the CRC of nothing, 0.
WORD16 calc_crc16(const BYTE* data, int16_t len);
