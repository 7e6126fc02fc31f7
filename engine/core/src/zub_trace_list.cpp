#include "zub_trace_list.h"

#include <algorithm>

#include "zub_context.h"
#include "zub_shared_field.h"

namespace {

void replace(SeqLock& seq, WORD16& cnt, WORD64* slots, const WORD64* ids, unsigned n)
{
    const unsigned kept = ids == nullptr ? 0 : std::min(n, ZUB_TRACE_MAX_IDS);
    seq.write_begin();
    for (unsigned i = 0; i < kept; ++i) {
        SeqLock::store(slots[i], ids[i]);
    }
    SeqLock::store(cnt, static_cast<WORD16>(kept));
    seq.write_end();
}

bool contains(const SeqLock& seq, const WORD16& cnt, const WORD64* slots, WORD64 id)
{
    for (;;) {
        const uint32_t s = seq.read_begin();
        const unsigned n = std::min<unsigned>(SeqLock::load(cnt), ZUB_TRACE_MAX_IDS);
        bool found = false;
        for (unsigned i = 0; i < n && !found; ++i) {
            found = SeqLock::load(slots[i]) == id;
        }
        if (!seq.read_retry(s)) {
            return found;
        }
    }
}

unsigned copy(const SeqLock& seq, const WORD16& cnt, const WORD64* slots, WORD64* out)
{
    if (out == nullptr) {
        return 0;
    }
    for (;;) {
        const uint32_t s = seq.read_begin();
        const unsigned n = std::min<unsigned>(SeqLock::load(cnt), ZUB_TRACE_MAX_IDS);
        for (unsigned i = 0; i < n; ++i) {
            out[i] = SeqLock::load(slots[i]);
        }
        if (!seq.read_retry(s)) {
            return n;
        }
    }
}

}  // namespace

void zub_trace_replace(tag_trace_cfg_t& list, const WORD64* ids, unsigned n)
{
    replace(list.seq, list.cnt, list.tag_id, ids, n);
}

void zub_trace_replace(anc_trace_cfg_t& list, const WORD64* ids, unsigned n)
{
    replace(list.seq, list.cnt, list.anc_id, ids, n);
}

bool zub_trace_contains(const tag_trace_cfg_t& list, WORD64 id)
{
    return contains(list.seq, list.cnt, list.tag_id, id);
}

bool zub_trace_contains(const anc_trace_cfg_t& list, WORD64 id)
{
    return contains(list.seq, list.cnt, list.anc_id, id);
}

unsigned zub_trace_copy(const tag_trace_cfg_t& list, WORD64* out)
{
    return copy(list.seq, list.cnt, list.tag_id, out);
}

unsigned zub_trace_copy(const anc_trace_cfg_t& list, WORD64* out)
{
    return copy(list.seq, list.cnt, list.anc_id, out);
}

bool tag_trace_cfg_check(WORD64 id)
{
    return zub_trace_contains(zub_context()->tag_trace_cfg, id);
}

bool anc_trace_cfg_check(WORD64 id)
{
    return zub_trace_contains(zub_context()->anc_trace_cfg, id);
}
