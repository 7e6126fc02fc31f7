// zub_print_limited.h - ZUB_PRINT for the lines that outside input can trigger (a peer's
// garbage, bytes sent to a port that only sends), under the per-call-site rate limit of the
// platform log (CN_LogLimit, CNPlatLogLimit.h): the first lines of any second as they stand,
// then at most one a second carrying the count of those held back:
//     "(218442 lines like this held back) fist byte is not 0x02.reset buff"
// A line the print level would drop is neither counted nor formatted, so the count is of lines
// that would have been written.
//
// Threads: any thread (each site's limiter has its own lock).
#pragma once

#include "CNPlatLogLimit.h"
#include "VorlenTypes.h"
#include "zub_print.h"

// Prints one line of `site` at `now_ms` (a monotonic millisecond clock) when the limit allows.
void zub_print_limited_at(CN_LogLimit* site, WORD64 now_ms, BYTE level, const char* file, int line, const char* fmt,
                          ...) __attribute__((format(printf, 6, 7)));

// The monotonic millisecond clock the macro reads.
WORD64 zub_print_limit_clock_ms();

#define ZUB_PRINT_LIMITED(level, ...)                                                                    \
    do {                                                                                                 \
        static CN_LogLimit zub_print_limit_site_;                                                        \
        if (zub_print_wanted(level)) {                                                                   \
            zub_print_limited_at(&zub_print_limit_site_, zub_print_limit_clock_ms(), (level), __FILE__, \
                                 __LINE__, __VA_ARGS__);                                                 \
        }                                                                                                \
    } while (0)
