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

// What goes in front of a line when lines of its site were held back: "(<n> lines like this
// held back) ", or nothing.
struct zub_held_prefix {
    explicit zub_held_prefix(WORD32 held);
    char text[48];
};

// The monotonic millisecond clock the macro reads.
WORD64 zub_control_print_clock_ms();

// `fmt` is a string literal, as for ZUB_PRINT.
#define ZUB_CONTROL_PRINT_LIMITED(level, fmt, ...)                                               \
    do {                                                                                         \
        static CN_LogLimit zub_control_limit_site_;                                              \
        if (zub_print_wanted(level)) {                                                           \
            const CN_LogLimit::Verdict zub_verdict_ =                                            \
                zub_control_limit_site_.admit(zub_control_print_clock_ms());                     \
            if (zub_verdict_.write) {                                                            \
                zub_print((level), __FILE__, __LINE__, "%s" fmt,                                 \
                          zub_held_prefix(zub_verdict_.held).text __VA_OPT__(, ) __VA_ARGS__);   \
            }                                                                                    \
        }                                                                                        \
    } while (0)
