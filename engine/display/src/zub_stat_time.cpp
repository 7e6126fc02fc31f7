#include "zub_stat_time.h"

#include <cstdio>
#include <ctime>

std::string zub_stat_time_text(WORD64 wall_ms)
{
    const time_t secs = static_cast<time_t>(wall_ms / 1000);
    struct tm utc {};
    gmtime_r(&secs, &utc);
    char text[64];
    std::snprintf(text, sizeof text, "%d-%02d-%02d %02d:%02d:%02d", utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday,
                  (utc.tm_hour + 8) % 24, utc.tm_min, utc.tm_sec);
    return text;
}
