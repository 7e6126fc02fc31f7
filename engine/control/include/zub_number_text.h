// zub_number_text.h - bounded, overflow-checked conversions of the numbers found in the
// configuration files and controller requests. A text converts only when all of it is the
// number (blanks around it allowed); anything else, and a value out of range, is refused and
// leaves *out alone. Plain functions; any thread.
#pragma once

#include "VorlenTypes.h"

// Hexadecimal, an optional "0x"/"0X" prefix, at most 64 bits.
bool zub_parse_hex64(const char* text, WORD64* out);
// Hexadecimal, an optional "0x"/"0X" prefix, at most 32 bits.
bool zub_parse_hex32(const char* text, WORD32* out);
// Decimal digits, at most 0xFFFFFFFF.
bool zub_parse_dec_u32(const char* text, WORD32* out);
// Decimal with an optional sign, within int.
bool zub_parse_int(const char* text, int* out);
