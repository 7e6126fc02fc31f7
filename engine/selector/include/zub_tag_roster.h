// zub_tag_roster.h - a selector's index of its tags: each tag's record by id, and the tags in
// the order they were last heard, so a report finds its tag without walking the tree's large
// nodes and the longest-silent tag is at hand without a scan.
//
// Every operation is constant time on average. The roster points at records that the
// selector's tag tree owns; the selector adds and removes a tag in both together. Used only
// by its selector's thread.
#pragma once

#include <list>
#include <vector>
#include <unordered_map>

#include "VorlenTypes.h"
#include "zub_tag.h"

class TagRoster {
public:
    struct Entry {
        WORD64 id;
        Tag* tag;
        WORD64 heard_ms;  // the selector's monotonic clock
    };

    // The tag's record, marked as heard at now_ms; null for a tag not held.
    Tag* hear(WORD64 id, WORD64 now_ms);
    // A new tag, heard at now_ms.
    void add(Tag* tag, WORD64 now_ms);
    void remove(WORD64 id);
    // The tag heard longest ago; null when none is held.
    const Entry* oldest() const { return order_.empty() ? nullptr : &order_.front(); }
    // Every id held, longest silent first.
    std::vector<WORD64> ids() const;

private:
    std::list<Entry> order_;  // longest silent first
    std::unordered_map<WORD64, std::list<Entry>::iterator> by_id_;
};
