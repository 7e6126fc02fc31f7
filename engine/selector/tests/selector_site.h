// selector_site.h - a site set up in the engine context for a selector core: context values,
// anchors and their configuration, clock-sync slots, and report messages built byte by byte.
// Shared by the selector's tests, benchmarks and fuzz target and by the replay tool; no test
// framework. Called from one thread while no selector runs on the context.
#pragma once

#include <vector>

#include "zub_public.h"
#include "zub_selector.h"

namespace selector_site {

// Clears the context values the selector reads and every anchor below `upto`.
void reset_context(unsigned upto = 32);
// Anchor `id` with hardware id `hw` at `pos`, working `mode`, configuration index `idx`;
// anchor_count covers it.
void place_anchor(WORD16 id, WORD64 hw, double x, double y, double z, BYTE mode, WORD16 idx);
// place_anchor with the index id + 100, so that index and id never pass for each other.
void set_anchor(WORD16 id, WORD64 hw, double x, double y, double z, BYTE mode = ZUB_ANCHOR_WORKING_MODE_MULTIPLE);
// Changes one field group of an anchor's configuration.
void set_anchor_config(WORD16 id, void (*edit)(AnchorConfig&, const void*), const void* arg);
void set_four_anc_mode(WORD16 id, bool on);
void set_master_flag(WORD16 id, int master);
void set_reference(WORD16 id, int reference);
void set_clock_offset(WORD16 id, double offset);

// The clock-sync filter values of one slot.
struct SyncFilter {
    double x0;
    double x1;
    double prev_tx;
    double prev_rx;
};
// Slot `slot` of `slave`: master `master`, updated at `updated_ms`, the filter `f`; the slave's
// slot count covers it.
void publish_sync(WORD16 slave, unsigned slot, WORD16 master, WORD64 updated_ms, const SyncFilter& f, bool valid);
// Slot `slot` of `slave`: master `master`, valid, updated at `updated_ms`, the slave clock
// running `offset` seconds ahead of the master's (syncTOA(t) = t - offset).
void set_sync(WORD16 slave, unsigned slot, WORD16 master, WORD64 updated_ms, double offset = 0.0, bool valid = true);
// Distance of anchor `id` from (x, y, z).
double anchor_distance(WORD16 id, double x, double y, double z = 0.0);

// A TOA (0x32/0x33) message: sock_data_t head and report; `ext` appended, extLen = its size.
std::vector<BYTE> toa_msg(BYTE type, WORD16 anc, BYTE seq, WORD64 tag, WORD64 ticks, WORD16 first_path16,
                          const std::vector<BYTE>& ext = {});
// A ranging (0x83) message of 18 bytes.
std::vector<BYTE> tof_msg(WORD16 anc, BYTE seq, WORD16 short_id, int32_t distance, BYTE alarm_status = 0,
                          BYTE alarm = 0);
// Device ticks of a time in seconds.
WORD64 ticks_of(double seconds);

}  // namespace selector_site
