#include "zub_print_limited.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>

WORD64 zub_print_limit_clock_ms()
{
    return static_cast<WORD64>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

void zub_print_limited_at(CN_LogLimit* site, WORD64 now_ms, BYTE level, const char* file, int line, const char* fmt,
                          ...)
{
    if (site == nullptr || fmt == nullptr || !zub_print_wanted(level)) {
        return;
    }
    const CN_LogLimit::Verdict verdict = site->admit(now_ms);
    if (!verdict.write) {
        return;
    }
    char text[1024];
    va_list args;
    va_start(args, fmt);
    const int n = std::vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    if (n < 0) {
        return;
    }
    if (verdict.held == 0) {
        zub_print(level, file, line, "%s", text);
    } else {
        zub_print(level, file, line, "(%u lines like this held back) %s", static_cast<unsigned>(verdict.held), text);
    }
}
