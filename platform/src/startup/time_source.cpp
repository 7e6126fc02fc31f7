#include "startup/time_source.h"

#include <ctime>

ACE_Time_Value gettimeofday_relative() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ACE_Time_Value(ts.tv_sec, static_cast<suseconds_t>(ts.tv_nsec / 1000));
}
