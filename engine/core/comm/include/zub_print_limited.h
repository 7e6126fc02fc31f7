// zub_print_limited.h - ZUB_PRINT for the lines that outside input can trigger at any rate (a
// peer's garbage, bytes sent to a port that only sends, replies nobody awaits), under the
// per-call-site rate limit of the platform log (CN_LogLimit, CNPlatLogLimit.h): the first lines
// of any second as they stand, then at most one a second carrying the count of those held back:
//     "(218442 lines like this held back) fist byte is not 0x02.reset buff"
// A line the print level would drop is neither counted nor formatted, so the count is of lines
// that would have been written. The line is formatted once, with the count in front.
//
// Threads: any thread (each site's limiter has its own lock).
#pragma once

#include "CNPlatLogLimit.h"
#include "CNPlatform.h"
#include "VorlenTypes.h"
#include "zub_print.h"

// What goes in front of a line when lines of its site were held back: "(<n> lines like this
// held back) ", or nothing.
struct zub_held_prefix {
    explicit zub_held_prefix(WORD32 held);
    char text[48];
};

// One line of the site `site` (a CN_LogLimit*) at `now_ms`; `fmt` is a string literal, as for
// ZUB_PRINT. Tests drive the clock through it.
#define ZUB_PRINT_LIMITED_AT(site, now_ms, level, fmt, ...)                                          \
    do {                                                                                             \
        if (zub_print_wanted(level)) {                                                               \
            const CN_LogLimit::Verdict zub_verdict_ = (site)->admit(now_ms);                         \
            if (zub_verdict_.write) {                                                                \
                zub_print((level), __FILE__, __LINE__, "%s" fmt,                                     \
                          zub_held_prefix(zub_verdict_.held).text __VA_OPT__(, ) __VA_ARGS__);       \
            }                                                                                        \
        }                                                                                            \
    } while (0)

// One line at this call site now.
#define ZUB_PRINT_LIMITED(level, fmt, ...)                                                           \
    do {                                                                                             \
        static CN_LogLimit zub_print_limit_site_;                                                    \
        ZUB_PRINT_LIMITED_AT(&zub_print_limit_site_, CN_MonotonicMs(), level,                        \
                             fmt __VA_OPT__(, ) __VA_ARGS__);                                        \
    } while (0)
