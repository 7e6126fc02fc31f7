// zub_clock_sync.h - one (slave anchor, master anchor) clock relation and its history.
//
// Sixteen ClockSync slots live in every Anchor (csMaster). They are written by the
// clock-sync job and by Anchor::ResetCCP, and read by every selector: the guard is the
// owning Anchor's cs_lock (see zub_anchor.h), through which a reader takes one
// consistent copy of a slot per use. Trivially copyable on purpose: a slot is copied as
// a whole under the sequence lock.
#pragma once

#include <type_traits>

#include "CS_Kalman.h"
#include "VorlenTypes.h"

class Anchor;

// Ring of the last ten receive-minus-transmit differences of a pair.
struct TimeDif {
    double history_time_difference[10];
    WORD16 history_time_idx;
    WORD16 history_time_count;
    double average_timedif;
    double variance;
};
typedef TimeDif TimeDif_t;

struct hist_data_t {
    int32_t cnt;
    int32_t idx;
    double time[5];
};

class ClockSync {
public:
    // Filter constructed, seqNum 255, counters 0, flight time 0, valid_sync true,
    // timedif all zero, no master.
    ClockSync();

    bool valid_sync;
    Anchor* master;          // null: the slot is free
    double syncAnchorsTOF;   // flight time master -> slave, s
    CS_Kalman cs_kalman;
    BYTE seqNum;             // last received sequence number
    int missedCS;
    int totalRxCS;
    WORD64 last_update_time; // wall-clock ms of the last filter update
    hist_data_t hist_data;
    TimeDif timedif;
};

static_assert(std::is_trivially_copyable_v<ClockSync>, "slots are published by copy");
static_assert(alignof(ClockSync) == 8 && sizeof(ClockSync) % 8 == 0, "slots are copied word by word");
