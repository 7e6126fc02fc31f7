// zub_hex.h - hex printers for the engine's logs.
//
// Upper-case digits, two per byte, NUL-terminated: `out` must hold 2 * len + 1 bytes.
// Pure functions; any thread.
#pragma once

#include "VorlenTypes.h"

// The bytes in input order.
void zub_bytes_to_hex(char* out, const BYTE* in, WORD16 len);
// The bytes from the last to the first, so a little-endian number (a 5-byte device time)
// prints most significant digit first. A length of 0 gives an empty text.
void zub_bytes_to_hex_Time(char* out, const BYTE* in, WORD16 len);
