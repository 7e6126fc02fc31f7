#include "zub_print_limited.h"

#include <cstdio>

zub_held_prefix::zub_held_prefix(WORD32 held) : text{}
{
    if (held != 0) {
        std::snprintf(text, sizeof text, "(%u lines like this held back) ", static_cast<unsigned>(held));
    }
}
