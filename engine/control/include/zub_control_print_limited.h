// zub_control_print_limited.h - ZUB_PRINT for the control job's lines that an anchor or the
// controller can cause at any rate (a reply nobody awaits, results past the reply's bound),
// under the per-call-site rate limit of the platform log (CN_LogLimit, CNPlatLogLimit.h): the
// first lines of any second as they stand, then at most one a second carrying the count of
// those held back. A line the print level would drop is neither counted nor formatted.
//
// Threads: any thread (each site's limiter has its own lock); the control job uses it.
#pragma once

#include "CNPlatLogLimit.h"
#include "VorlenTypes.h"
#include "zub_print.h"

// Prints one line of `site` at `now_ms` (a monotonic millisecond clock) when the limit allows.
void zub_control_print_limited_at(CN_LogLimit* site, WORD64 now_ms, BYTE level, const char* file, int line,
                                  const char* fmt, ...) __attribute__((format(printf, 6, 7)));

// The monotonic millisecond clock the macro reads.
WORD64 zub_control_print_clock_ms();

#define ZUB_CONTROL_PRINT_LIMITED(level, ...)                                                               \
    do {                                                                                                    \
        static CN_LogLimit zub_control_limit_site_;                                                         \
        if (zub_print_wanted(level)) {                                                                      \
            zub_control_print_limited_at(&zub_control_limit_site_, zub_control_print_clock_ms(), (level),   \
                                         __FILE__, __LINE__, __VA_ARGS__);                                  \
        }                                                                                                   \
    } while (0)
