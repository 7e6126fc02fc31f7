#include "zub_tag_index.h"

#include "zub_shared_field.h"

namespace {

unsigned tag_index_home(WORD64 tag_id)
{
    // Fibonacci hashing: consecutive tag ids (the common case on a site) land far apart.
    return static_cast<unsigned>((tag_id * 0x9E3779B97F4A7C15ull) >> (64 - ZUB_TAG_INDEX_BITS));
}

}  // namespace

TagIndexProbe zub_tag_index_probe(const WORD16* index, const tag_blink_info_t* table, unsigned table_size,
                                  WORD64 tag_id)
{
    unsigned slot = tag_index_home(tag_id);
    for (unsigned n = 0; n < ZUB_TAG_INDEX_SLOTS; ++n) {
        const WORD16 held = zub_load(index[slot], std::memory_order_acquire);
        if (held == 0) {
            return TagIndexProbe{-1, slot};
        }
        const unsigned entry = held - 1u;
        if (entry < table_size && table[entry].tag_id == tag_id) {
            return TagIndexProbe{static_cast<int>(entry), slot};
        }
        slot = (slot + 1) & (ZUB_TAG_INDEX_SLOTS - 1);
    }
    return TagIndexProbe{-1, ZUB_TAG_INDEX_SLOTS};
}
