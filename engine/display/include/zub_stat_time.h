// zub_stat_time.h - the time stamp of the engine's statistics files.
//
// "%d-%02d-%02d %02d:%02d:%02d": year, month and day of the UTC date, the hour moved by +8
// (modulo 24; the date is not moved with it), minute and second. Pure; any thread.
#pragma once

#include <string>

#include "VorlenTypes.h"

std::string zub_stat_time_text(WORD64 wall_ms);
