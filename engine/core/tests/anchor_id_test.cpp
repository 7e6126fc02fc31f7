// The anchor-id map: lowest free local id, never released, 10,000 at most, thread-safe.
// Each case starts from an empty map, whatever other cases of the process mapped before it.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "zub_anchor_reset.h"
#include "zub_public.h"

namespace {

std::mutex g_print_guard;
std::vector<std::string> g_prints;

void capture(BYTE level, const char*, int, const char* text)
{
    std::lock_guard<std::mutex> lock(g_print_guard);
    if (level == ZUB_PRINT_EVENT) {
        g_prints.emplace_back(text);
    }
}

class engine_core_AnchorIdMap : public ::testing::Test {
protected:
    void SetUp() override { zub_test_forget_anchor_ids(); }
};

}  // namespace

TEST_F(engine_core_AnchorIdMap, FirstIdIsZeroAndRepeatsPrintNothing)
{
    ASSERT_EQ(zub_common_init(), 1);
    g_prints.clear();
    zub_print_set_sink(capture);
    EXPECT_EQ(zub_search_anchor_id(0x0822614400000001u), ZUB_INVALID_ANCHOR_ID);
    EXPECT_EQ(zub_new_anchor_id(0x0822614400000001u), 0);
    EXPECT_EQ(zub_new_anchor_id(0x0822614400000002u), 1);
    EXPECT_EQ(zub_new_anchor_id(0x0822614400000001u), 0);
    EXPECT_EQ(zub_search_anchor_id(0x0822614400000002u), 1);
    zub_print_set_sink(nullptr);
    EXPECT_EQ(g_prints, (std::vector<std::string>{"new mapping:822614400000001->0", "new mapping:822614400000002->1"}));
}

TEST_F(engine_core_AnchorIdMap, TenThousandIdsThenNoneButKnownIdsStillAnswer)
{
    ASSERT_EQ(zub_common_init(), 1);
    for (WORD64 hw = 1; hw <= 10000; ++hw) {
        ASSERT_EQ(zub_new_anchor_id(hw * 7919), hw - 1);
    }
    EXPECT_EQ(zub_new_anchor_id(123456789u), ZUB_INVALID_ANCHOR_ID);
    EXPECT_EQ(zub_search_anchor_id(123456789u), ZUB_INVALID_ANCHOR_ID);
    EXPECT_EQ(zub_new_anchor_id(7919u), 0);
    EXPECT_EQ(zub_new_anchor_id(10000u * 7919), 9999);
    EXPECT_EQ(zub_search_anchor_id(5000u * 7919), 4999);
    const auto& tree = zub_context()->anchor_id_manager.mappings;
    EXPECT_EQ(tree.count, 10000u);
    EXPECT_EQ(tree.validate(), nullptr);
}

TEST_F(engine_core_AnchorIdMap, SixteenThreadsMappingAtOnceNeverShareAnId)
{
    ASSERT_EQ(zub_common_init(), 1);
    constexpr int kThreads = 16;
    constexpr int kPerThread = 400;
    // Every thread maps its own ids and also ids shared with all the others.
    std::vector<std::vector<std::pair<WORD64, WORD16>>> got(kThreads);
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &got, &ready] {
            ready.fetch_add(1);
            while (ready.load() < kThreads) {
            }
            for (int i = 0; i < kPerThread; ++i) {
                const WORD64 own = 0x100000000ull * (t + 1) + i;
                const WORD64 shared = 0xFF00000000000000ull + i;
                got[t].emplace_back(own, zub_new_anchor_id(own));
                got[t].emplace_back(shared, zub_new_anchor_id(shared));
            }
        });
    }
    for (auto& th : threads) {
        th.join();
    }
    std::map<WORD64, WORD16> by_hw;
    std::set<WORD16> locals;
    for (const auto& list : got) {
        for (const auto& [hw, local] : list) {
            ASSERT_NE(local, ZUB_INVALID_ANCHOR_ID);
            auto [it, fresh] = by_hw.emplace(hw, local);
            ASSERT_EQ(it->second, local) << "hardware id " << hw << " got two local ids";
            if (fresh) {
                ASSERT_TRUE(locals.insert(local).second) << "local id " << local << " given twice";
            }
        }
    }
    // 16 x 400 own ids + 400 shared ones, packed into the lowest local ids.
    EXPECT_EQ(by_hw.size(), static_cast<size_t>(kThreads * kPerThread + kPerThread));
    EXPECT_EQ(*locals.rbegin(), kThreads * kPerThread + kPerThread - 1);
    for (const auto& [hw, local] : by_hw) {
        EXPECT_EQ(zub_search_anchor_id(hw), local);
    }
    EXPECT_EQ(zub_context()->anchor_id_manager.mappings.validate(), nullptr);
}

TEST_F(engine_core_AnchorIdMap, InitialisingAgainKeepsMadeMappingsTaken)
{
    ASSERT_EQ(zub_common_init(), 1);
    EXPECT_EQ(zub_new_anchor_id(0xA1), 0);
    EXPECT_EQ(zub_new_anchor_id(0xA2), 1);
    ASSERT_EQ(zub_common_init(), 1);
    EXPECT_EQ(zub_new_anchor_id(0xA3), 2);  // 0 and 1 are still mapped
    EXPECT_EQ(zub_search_anchor_id(0xA1), 0);
}
