// Eighteen selectors refusing new tags at the shared bound mark them in one table while
// another thread, as the frame router's gate does, asks the table about them: no tag that got
// a record is ever seen marked, and at the end each slot marks one of the tags refused into it.
#include <atomic>
#include <map>
#include <set>
#include <thread>
#include <vector>

#include "selector_fixture.h"

using namespace selector_test;

TEST(SelectorConcurrency, RefusedTagsMarkedWhileTheGateAsks)
{
    reset_context();
    set_anchor(1, 0xE001, 0, 0, 0);
    constexpr unsigned kLimit = 300;
    constexpr WORD64 kTagsEach = 60;
    constexpr WORD64 kNow = 1'000'000;  // the harnesses' clock, which stays put
    const WORD64 tags = TagBudget::kHolders * kTagsEach;
    TagBudget budget(kLimit, 60000);
    RefusedTags marks;
    std::atomic<unsigned> done{0};
    std::vector<std::set<WORD64>> held(TagBudget::kHolders);
    std::atomic<bool> reading{true};
    std::vector<WORD64> seen_marked;  // the reader's own
    std::thread gate([&] {
        std::vector<bool> seen(tags, false);
        while (reading.load()) {
            for (WORD64 id = 0; id < tags; ++id) {
                if (!seen[id] && marks.refused(id, kNow)) {
                    seen[id] = true;
                    seen_marked.push_back(id);
                }
            }
        }
    });
    std::vector<std::thread> selectors;
    for (unsigned s = 0; s < TagBudget::kHolders; ++s) {
        selectors.emplace_back([&, s] {
            Harness h(&budget, s, &marks);
            for (WORD64 k = 0; k < kTagsEach; ++k) {
                const std::vector<BYTE> m = toa_msg(0x32, 1, 1, k * 18 + s, 1000, 800 << 6);
                h.sel.recv_toa_report(m.data(), static_cast<WORD32>(m.size()));
            }
            for (auto it = h.sel.tags.begin(); it; ++it) {
                held[s].insert(it->id);
            }
            ++done;
            while (done.load() < TagBudget::kHolders) {  // records kept until all are counted
                std::this_thread::yield();
            }
        });
    }
    for (std::thread& t : selectors) {
        t.join();
    }
    reading = false;
    gate.join();

    std::set<WORD64> with_record;
    for (const auto& ids : held) {
        with_record.insert(ids.begin(), ids.end());
    }
    ASSERT_EQ(with_record.size(), kLimit);
    ASSERT_EQ(budget.refused(), tags - kLimit);
    for (WORD64 id : seen_marked) {
        EXPECT_EQ(with_record.count(id), 0u) << "tag " << id << " has a record and was seen refused";
    }
    std::map<unsigned, unsigned> marked_in_slot, refused_in_slot;
    for (WORD64 id = 0; id < tags; ++id) {
        const bool marked = marks.refused(id, kNow);
        if (with_record.count(id) != 0) {
            EXPECT_FALSE(marked) << "tag " << id << " has a record";
            continue;
        }
        ++refused_in_slot[RefusedTags::slot_of(id)];
        marked_in_slot[RefusedTags::slot_of(id)] += marked ? 1 : 0;
    }
    for (const auto& [slot, refused] : refused_in_slot) {
        EXPECT_EQ(marked_in_slot[slot], 1u) << "slot " << slot << " of " << refused << " refused tags";
    }
}
