// Open-addressed lookup of a tag table (tag_blink_info_t entries) by tag id, for the tables
// that count blinks per tag: an anchor's and the display job's statistics. An index of
// ZUB_TAG_INDEX_SLOTS slots holds entry + 1 per slot, 0 when free; slots are only ever
// filled, never emptied, while the table is in use, so a free slot ends a search. The probe
// reads slots with acquire loads, so a reader may run beside one writer that stores a slot
// with release order after the entry's tag id; any thread.
#pragma once

#include "VorlenTypes.h"
#include "zub_anchor.h"

struct TagIndexProbe {
    int entry;      // the tag's entry, -1 when it is not indexed
    unsigned slot;  // where the search stopped: the tag's slot or the first free one
                    // (ZUB_TAG_INDEX_SLOTS when the index is full)
};

// Follows the probe sequence of the tag until its entry or a free slot. Entries at or past
// table_size are never taken for the tag.
TagIndexProbe zub_tag_index_probe(const WORD16* index, const tag_blink_info_t* table, unsigned table_size,
                                  WORD64 tag_id);
