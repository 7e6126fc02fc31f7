// zub_tag_id.h - the full id of a ranging tag: the configured prefix followed by the
// short id's hexadecimal digits.
//
// Pure function apart from its one log line; any thread.
#pragma once

#include "VorlenTypes.h"

// (prefix << 4k) | short_id, k the short id's hexadecimal digits (1 for 0). When that
// does not fit in 64 bits the result saturates to all ones and one line is logged.
WORD64 zub_full_tag_id(WORD64 prefix, WORD16 short_id);
