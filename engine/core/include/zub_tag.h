// zub_tag.h - one tag's collection of the current round and its position history, as a
// selector keeps it: blinks_t with its Blink / TofBlink / single_blink_t entries, pos_t,
// and Tag itself with its motion filters.
//
// A Tag is created only by its selector's tag tree (one heap record per tree node) and is
// used only by that selector job's thread: no guard.
#pragma once

#include "Average.h"
#include "KalmanFilter.h"
#include "VorlenTypes.h"
#include "zub_area.h"

class Anchor;

constexpr unsigned ZUB_MAX_BLINKS_PER_ROUND = 22;
constexpr unsigned ZUB_SINGLE_MODE_RING = 32;
constexpr unsigned ZUB_TAG_HISTORY = 16;

// One time of arrival of the round.
struct Blink {
    double toa;             // seconds in the reporting anchor's clock
    double syncedToa[16];   // the arrival in other time bases
    WORD16 id;              // local anchor id
    Anchor* anchor;
};

// One range of the round.
struct TofBlink {
    WORD16 id;         // local anchor id
    int32_t distance;  // millimetres
    Anchor* anchor;
};

struct single_blink_t {
    WORD16 id;    // local anchor id
    WORD64 time;  // wall-clock ms of the hit
};

// One tag's reports of one round.
struct blinks_t {
    WORD64 timeFirstBlink;
    BYTE seqNum;
    BYTE nBlinks;
    BYTE count_single_mode;
    BYTE count_multiple_mode;
    BYTE count_couple_mode;
    Blink blinks[ZUB_MAX_BLINKS_PER_ROUND];
    TofBlink tof_blink[ZUB_MAX_BLINKS_PER_ROUND];
    single_blink_t single_mode_anchor[ZUB_SINGLE_MODE_RING];
    WORD16 single_mode_count;
    WORD16 single_mode_idx;
    BYTE nTofBlinks;
};

// A solved position.
struct pos_t {
    double x;  // metres
    double y;
    double z;
    WORD64 anchor_id;
    WORD64 msec;  // wall-clock ms
    e_sub_area_type sub_area_type;
};

struct tag_statistic_t {
    WORD64 multi_total;
    WORD64 multi_missing;
    WORD64 multi_success;
    WORD64 multi_failed;
};

class Tag {
public:
    // Filters constructed (averaging windows of 9), every other field zero, no previous
    // sequence, every multi_pos of unknown sub-area type.
    explicit Tag(WORD64 tag_id);

    WORD64 id;
    blinks_t blinkReports;
    Blink prev_blink;
    bool prev_sequence_valid;
    BYTE prevSeqNum;
    tag_statistic_t statistic;
    KalmanFilter k[3];
    Average ma[3];
    Average me[3];
    int lastIMUseq;
    pos_t history_pos[ZUB_TAG_HISTORY];
    WORD16 history_idx;
    WORD16 history_count;
    WORD16 ignore_count;
    pos_t average_pos;
    double variance;
    pos_t multi_pos[ZUB_TAG_HISTORY];
    WORD16 multi_idx;
    BYTE multi_couple_count[ZUB_TAG_HISTORY];
    BYTE multi_couple_idx;
    pos_t last_push_pos;
    WORD64 last_time;
};
