// zub_trace_list.h - the traced tag and anchor ids (at most 200 each).
//
// The display job re-reads the trace files every 5 s and replaces each list as a whole
// (zub_trace_replace, the only writer); any thread asks whether an id is traced or takes
// a copy of the list. Each list carries a sequence lock, so a reader sees the old list
// or the new one, never a mixture.
#pragma once

#include "VorlenTypes.h"
#include "seq_lock.h"

constexpr unsigned ZUB_TRACE_MAX_IDS = 200;

struct tag_trace_cfg_t {
    WORD16 cnt;
    WORD64 tag_id[ZUB_TRACE_MAX_IDS];
    SeqLock seq;
};

struct anc_trace_cfg_t {
    WORD16 cnt;
    WORD64 anc_id[ZUB_TRACE_MAX_IDS];
    SeqLock seq;
};

// Replaces the list by the first min(n, 200) ids. Display job only.
void zub_trace_replace(tag_trace_cfg_t& list, const WORD64* ids, unsigned n);
void zub_trace_replace(anc_trace_cfg_t& list, const WORD64* ids, unsigned n);

// Whether the id is in the list. Any thread.
bool zub_trace_contains(const tag_trace_cfg_t& list, WORD64 id);
bool zub_trace_contains(const anc_trace_cfg_t& list, WORD64 id);

// Copies the list into out (room for 200) and returns its length. Any thread.
unsigned zub_trace_copy(const tag_trace_cfg_t& list, WORD64* out);
unsigned zub_trace_copy(const anc_trace_cfg_t& list, WORD64* out);

// Membership in the context's lists.
bool tag_trace_cfg_check(WORD64 id);
bool anc_trace_cfg_check(WORD64 id);
