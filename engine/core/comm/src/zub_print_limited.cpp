#include "zub_print_limited.h"

#include <chrono>
#include <cstdio>

zub_held_prefix::zub_held_prefix(WORD32 held) : text{}
{
    if (held != 0) {
        std::snprintf(text, sizeof text, "(%u lines like this held back) ", static_cast<unsigned>(held));
    }
}

WORD64 zub_print_limit_clock_ms()
{
    return static_cast<WORD64>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}
