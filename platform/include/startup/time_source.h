// time_source.h - the time source of the process reactor's timer queue: the monotonic clock,
// so that job timers do not jump when the wall clock is set. Any thread.
#pragma once

#include <ace/Time_Value.h>

ACE_Time_Value gettimeofday_relative();
