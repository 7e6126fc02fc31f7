// A selector's tags by id and by the time they were last heard.
#include "zub_tag_roster.h"

#include <iterator>

Tag* TagRoster::hear(WORD64 id, WORD64 now_ms)
{
    const auto found = by_id_.find(id);
    if (found == by_id_.end()) {
        return nullptr;
    }
    const auto at = found->second;
    at->heard_ms = now_ms;
    order_.splice(order_.end(), order_, at);  // the list node and the map's iterator stay
    return at->tag;
}

void TagRoster::add(Tag* tag, WORD64 now_ms)
{
    order_.push_back(Entry{tag->id, tag, now_ms});
    by_id_.emplace(tag->id, std::prev(order_.end()));
}

void TagRoster::remove(WORD64 id)
{
    const auto found = by_id_.find(id);
    if (found == by_id_.end()) {
        return;
    }
    order_.erase(found->second);
    by_id_.erase(found);
}

std::vector<WORD64> TagRoster::ids() const
{
    std::vector<WORD64> out;
    out.reserve(order_.size());
    for (const Entry& e : order_) {
        out.push_back(e.id);
    }
    return out;
}
