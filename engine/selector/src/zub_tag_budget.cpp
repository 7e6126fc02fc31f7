// The shared bound on tag records.
#include "zub_tag_budget.h"

TagBudget::TagBudget(unsigned limit, WORD64 silence_ms) : limit_(limit), silence_ms_(silence_ms) {}

bool TagBudget::take()
{
    unsigned now_held = held_.load(std::memory_order_relaxed);
    while (now_held < limit_) {
        if (held_.compare_exchange_weak(now_held, now_held + 1, std::memory_order_relaxed)) {
            return true;
        }
    }
    return false;
}

void TagBudget::give_back(unsigned records)
{
    held_.fetch_sub(records, std::memory_order_relaxed);
}

void TagBudget::publish_oldest(unsigned holder, WORD64 heard_ms)
{
    holders_[holder % kHolders].oldest_heard_ms.store(heard_ms, std::memory_order_relaxed);
}

bool TagBudget::ask_to_free(unsigned asking, WORD64 now_ms)
{
    unsigned chosen = kHolders;
    WORD64 oldest = kNoTag;
    for (unsigned h = 0; h < kHolders; ++h) {
        const WORD64 heard = holders_[h].oldest_heard_ms.load(std::memory_order_relaxed);
        if (h != asking % kHolders && heard < oldest) {
            oldest = heard;
            chosen = h;
        }
    }
    // A time after now (another thread's clock read later than ours) is not silent.
    if (chosen == kHolders || oldest > now_ms || now_ms - oldest < silence_ms_) {
        return false;
    }
    holders_[chosen].free_requests.fetch_add(1, std::memory_order_relaxed);
    return true;
}

unsigned TagBudget::take_requests(unsigned holder)
{
    Holder& h = holders_[holder % kHolders];
    if (h.free_requests.load(std::memory_order_relaxed) == 0) {
        return 0;  // the tick asks every 10 ms: no write while nobody asked
    }
    return h.free_requests.exchange(0, std::memory_order_relaxed);
}
