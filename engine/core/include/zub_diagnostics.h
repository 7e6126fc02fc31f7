// zub_diagnostics.h - turns the 66-byte diagnostics block that an anchor appends to its
// reports into ten register records for the logs.
//
// Pure function apart from its error print; any thread.
#pragma once

#include "VorlenTypes.h"

constexpr unsigned ZUB_DIAG_INPUT_BYTES = 66;
constexpr unsigned ZUB_DIAG_OUTPUT_BYTES = 104;
constexpr BYTE ZUB_DIAG_VERSION = 5;

// Writes ten records [register id][sub-address, high byte first][length][data] (104 bytes)
// into `out` from the 66 bytes at `in`. With `check` set, a block whose version byte is
// not 5 is refused: an error print, `out` untouched. Returns true when `out` was written.
bool zub_diag_convert_to_format(BYTE* out, const BYTE* in, bool check);
