// The selector's tags within the shared bound: a report's tag found and marked as heard, a
// new tag's record taken, taken over from a silent tag or refused, and a silent tag forgotten
// when another selector asks for a record.
#include <algorithm>
#include <cinttypes>

#include "zub_print.h"
#include "zub_print_limited.h"
#include "zub_selector.h"

Selector::~Selector()
{
    open_.clear();
    open_sorted_ = 0;
    tof_open_.clear();
    const std::vector<WORD64> ids = roster_.ids();
    for (WORD64 id : ids) {
        drop_record(id);
    }
    tag_budget().give_back(static_cast<unsigned>(ids.size()));
}

Tag* Selector::find_tag(WORD64 tag_id)
{
    const WORD64 now_ms = steady_now();
    Tag* tag = hear_held_tag(tag_id, now_ms);
    return tag != nullptr ? tag : admit_new_tag(tag_id, now_ms);
}

Tag* Selector::hear_held_tag(WORD64 tag_id, WORD64 now_ms)
{
    Tag* tag = roster_.hear(tag_id, now_ms);
    if (tag != nullptr) {
        publish_oldest();
    }
    return tag;
}

Tag* Selector::admit_new_tag(WORD64 tag_id, WORD64 now_ms)
{
    TagBudget& budget = tag_budget();
    if (!budget.take()) {
        const TagRoster::Entry* silent = silent_oldest(now_ms);
        if (silent == nullptr) {
            refuse_new_tag(tag_id, now_ms);
            return nullptr;
        }
        forget_silent(*silent, now_ms, &tag_id);  // the record changes hands: the count stays
    }
    Tag* tag = tags.insert_key(tag_id);
    if (tag == nullptr) {
        budget.give_back(1);
        publish_oldest();
        return nullptr;
    }
    roster_.add(tag, now_ms);
    publish_oldest();
    return tag;
}

void Selector::refuse_new_tag(WORD64 tag_id, WORD64 now_ms)
{
    TagBudget& budget = tag_budget();
    if (env_.refused_tags != nullptr) {
        env_.refused_tags->note(tag_id, now_ms);
    }
    budget.ask_to_free(env_.budget_holder, now_ms);
    const WORD64 refused = budget.count_refused();
    ZUB_PRINT_LIMITED_AT(&refused_log_, now_ms, ZUB_PRINT_EVENT,
                         "new tag %" PRIx64 " dropped: %u tag records held (%" PRIu64 " dropped so far)", tag_id,
                         budget.limit(), refused);
}

void Selector::forget_silent(const TagRoster::Entry& silent, WORD64 now_ms, const WORD64* new_tag)
{
    const WORD64 old_id = silent.id;
    const WORD64 silence_s = (now_ms - silent.heard_ms) / 1000;
    drop_record(old_id);
    const WORD64 taken = tag_budget().count_taken_over();
    const CN_LogLimit::Verdict v = taken_over_log_.admit(now_ms);
    if (!v.write) {
        return;
    }
    const zub_held_prefix held(v.held);
    if (new_tag != nullptr) {
        ZUB_PRINT(ZUB_PRINT_EVENT,
                  "%snew tag %" PRIx64 " takes the record of tag %" PRIx64 ", silent %" PRIu64 " s (%" PRIu64
                  " taken over so far)",
                  held.text, *new_tag, old_id, silence_s, taken);
    } else {
        ZUB_PRINT(ZUB_PRINT_EVENT,
                  "%stag %" PRIx64 " forgotten, silent %" PRIu64 " s: its record freed for a new tag (%" PRIu64
                  " taken over so far)",
                  held.text, old_id, silence_s, taken);
    }
}

const TagRoster::Entry* Selector::silent_oldest(WORD64 now_ms)
{
    const TagRoster::Entry* e = roster_.oldest();
    if (e == nullptr || e->heard_ms > now_ms || now_ms - e->heard_ms < tag_budget().silence_ms()) {
        return nullptr;
    }
    return e;
}

void Selector::drop_record(WORD64 tag_id)
{
    const Tag* tag = tags.find_key(tag_id);
    if (tag == nullptr) {
        return;
    }
    // The open-round lists hold the record itself; the sorted prefix of open_ shrinks by
    // the entries it loses.
    const auto sorted_end = open_.begin() + static_cast<std::ptrdiff_t>(open_sorted_);
    open_sorted_ -= static_cast<size_t>(
        std::count_if(open_.begin(), sorted_end, [tag](const OpenRound& e) { return e.tag == tag; }));
    std::erase_if(open_, [tag](const OpenRound& e) { return e.tag == tag; });
    std::erase(tof_open_, tag);
    roster_.remove(tag_id);
    tags.erase_key(tag_id);
}

void Selector::free_requested_records()
{
    TagBudget& budget = tag_budget();
    const unsigned wanted = budget.take_requests(env_.budget_holder);
    if (wanted == 0) {
        return;
    }
    const WORD64 now_ms = steady_now();
    unsigned freed = 0;
    for (const TagRoster::Entry* e = silent_oldest(now_ms); e != nullptr && freed < wanted;
         e = silent_oldest(now_ms)) {
        forget_silent(*e, now_ms, nullptr);
        ++freed;
    }
    budget.give_back(freed);
    publish_oldest();
}

void Selector::publish_oldest()
{
    const TagRoster::Entry* e = roster_.oldest();
    const WORD64 oldest = e != nullptr ? e->heard_ms : TagBudget::kNoTag;
    if (oldest != published_oldest_) {  // most reports hear a tag other than the oldest
        published_oldest_ = oldest;
        tag_budget().publish_oldest(env_.budget_holder, oldest);
    }
}
