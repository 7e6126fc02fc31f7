// zub_tag_budget.h - the bound on the tag records that the eighteen selectors hold together:
// the shared count of records, the rule for a new tag at the bound, and what each selector
// tells the others about its longest-silent tag.
//
// A new tag takes a record while fewer than `limit` are held. At the bound its selector
// takes over the record of its own longest-silent tag when that tag has not been heard for
// `silence_ms`; when its own tags are all heard more recently, it asks the holder whose
// longest-silent tag is older (and silent long enough) to free one record at its next tick,
// and the new tag's report is dropped (the tag gets the freed record with a later report).
// Otherwise the report is dropped. Refusals and take-overs are counted here for the log.
//
// Threads: any selector job thread. Each holder (a selector, numbered 0..kHolders-1) writes
// only its own slot's oldest time and drains only its own requests; the count and the
// counters are single atomics, so no record is ever held twice or lost from the count
// (take is a compare-and-swap below the limit). The oldest times are hints read without
// order: a holder asked on a stale hint checks its own tags again and frees nothing when
// none is silent long enough. The clock is the selectors' monotonic millisecond clock.
#pragma once

#include <atomic>

#include "VorlenTypes.h"
#include "zub_anchor.h"
#include "zub_context.h"

// The tags the anchors' statistics tables hold, and no more records.
constexpr unsigned ZUB_TAG_RECORDS_MAX = ZUB_MAX_TAG_PER_ANCHOR;
// A tag silent this long may give its record to a new tag.
constexpr WORD64 ZUB_TAG_SILENCE_MS = 60000;

class TagBudget {
public:
    static constexpr unsigned kHolders = ZUB_SELECTOR_NUM;
    static constexpr WORD64 kNoTag = ~WORD64{0};  // a holder's oldest time while it holds none

    TagBudget(unsigned limit, WORD64 silence_ms);
    TagBudget(const TagBudget&) = delete;
    TagBudget& operator=(const TagBudget&) = delete;

    unsigned limit() const { return limit_; }
    WORD64 silence_ms() const { return silence_ms_; }
    unsigned held() const { return held_.load(std::memory_order_relaxed); }

    // One more record, when fewer than the limit are held.
    bool take();
    void give_back(unsigned records);

    // The last time the holder's longest-silent tag was heard, or kNoTag.
    void publish_oldest(unsigned holder, WORD64 heard_ms);
    // Asks the holder other than `asking` whose longest-silent tag was heard longest ago to
    // free one record, when that tag has been silent for silence_ms at now_ms. False: no
    // holder has such a tag.
    bool ask_to_free(unsigned asking, WORD64 now_ms);
    // The requests to free records that reached the holder since it last looked.
    unsigned take_requests(unsigned holder);

    // Running totals over all selectors; each call counts one and returns the new total.
    WORD64 count_refused() { return refused_.fetch_add(1, std::memory_order_relaxed) + 1; }
    WORD64 count_taken_over() { return taken_over_.fetch_add(1, std::memory_order_relaxed) + 1; }
    WORD64 refused() const { return refused_.load(std::memory_order_relaxed); }
    WORD64 taken_over() const { return taken_over_.load(std::memory_order_relaxed); }

private:
    // One cache line per holder: each selector writes its own often.
    struct alignas(64) Holder {
        std::atomic<WORD64> oldest_heard_ms{kNoTag};
        std::atomic<unsigned> free_requests{0};
    };

    const unsigned limit_;
    const WORD64 silence_ms_;
    alignas(64) std::atomic<unsigned> held_{0};
    std::atomic<WORD64> refused_{0};
    std::atomic<WORD64> taken_over_{0};
    Holder holders_[kHolders];
};
