// zub_time.h - wall-clock helpers of the engine and the stamps of an anchor's link times.
//
// Any thread. The link stamps are written under the anchor's link_lock (zub_anchor.h), so
// they must not be called while holding it.
#pragma once

#include <sys/time.h>

#include "VorlenTypes.h"

class Anchor;

// Wall-clock milliseconds: seconds * 1000 + microseconds / 1000 of the time of day.
WORD64 zub_cur_time_ms_get();
// The time of day (zeros when the clock cannot be read).
timeval zub_time_of_day();

// Stamp timeConnected / timeDisconnected with the time of day; false for a null anchor.
bool zub_anc_con_time_set(Anchor* anchor);
bool zub_anc_discon_time_set(Anchor* anchor);
