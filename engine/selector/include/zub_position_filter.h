// zub_position_filter.h - the plausibility filter every solved position passes, and the
// configured areas it types positions by.
//
// The filter changes only the given tag, which belongs to the calling selector's thread;
// areas are start-time configuration (read without a guard), anchor modes are read as
// config_snapshots and master links as cs_snapshots. Any selector thread.
#pragma once

#include "VorlenTypes.h"
#include "zub_context.h"
#include "zub_tag.h"

constexpr unsigned ZUB_AREA_MAX_MASTERS = 20;
constexpr double ZUB_JUMP_FREE_DISTANCE = 3.0;  // m
constexpr double ZUB_MAX_ANY_SPEED = 1000.0;    // m/s
constexpr double ZUB_CORRIDOR_END_MARGIN = 3.0; // m

// 1 when the position is rejected (or the round failed), 0 when accepted; sets the
// position's sub-area type. `anchor_id` is a local anchor id (ids from 10000 have no mode).
int zub_position_filter(const context_t& ctx, Tag* tag, pos_t& pos, WORD16& anchor_id, bool solved);
// The anchor's area through its chain of first clock masters (at most 20); null for ids
// from 10000, for a master cycle, and for an anchor without area.
area_t* zub_get_anchor_area(const context_t& ctx, WORD16 anchor_id);
// The type of the first sub-area (two points or more) that strictly contains the position;
// else unknown when some such sub-area is multi, else multi. No area: multi.
e_sub_area_type zub_judge_sub_area(const pos_t& pos, const area_t* area);
// 1 when the position lies in a corridor sub-area of the anchor's area, 3 m clear of both
// x ends.
int zub_in_corridor_area(const context_t& ctx, const pos_t& pos, WORD16 anchor_id);
