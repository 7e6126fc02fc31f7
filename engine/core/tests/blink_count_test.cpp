// Per-anchor blink counts written by the three manager jobs at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <numeric>
#include <random>
#include <set>
#include <thread>
#include <vector>

#include "zub_public.h"

TEST(engine_core_BlinkCount, FirstReportAddsTheTagWithZeroAndTheSecondMakesItOne)
{
    Anchor& a = zub_context()->anchors[3];
    a.init(0x3, 3);
    EXPECT_TRUE(a.count_tag_blink(0xAB));
    EXPECT_EQ(a.blink_table_size(), 1);
    EXPECT_EQ(a.blink_entry(0).tag_id, 0xABu);
    EXPECT_EQ(a.blink_entry(0).blink_cnt, 0u);
    EXPECT_TRUE(a.count_tag_blink(0xAB));
    EXPECT_EQ(a.blink_entry(0).blink_cnt, 1u);
    EXPECT_TRUE(a.count_tag_blink(0xCD));
    EXPECT_EQ(a.blink_table_size(), 2);
    EXPECT_EQ(a.blink_entry(1).tag_id, 0xCDu);
}

TEST(engine_core_BlinkCount, FullTableIgnoresNewTagsAndStillCountsKnownOnes)
{
    Anchor& a = zub_context()->anchors[4];
    a.init(0x4, 4);
    for (WORD64 t = 0; t < ZUB_MAX_TAG_PER_ANCHOR; ++t) {
        ASSERT_TRUE(a.count_tag_blink(t + 1));
    }
    EXPECT_EQ(a.blink_table_size(), ZUB_MAX_TAG_PER_ANCHOR);
    EXPECT_FALSE(a.count_tag_blink(0xFFFFFF));
    EXPECT_EQ(a.blink_table_size(), ZUB_MAX_TAG_PER_ANCHOR);
    EXPECT_TRUE(a.count_tag_blink(10000));
    EXPECT_EQ(a.blink_entry(9999).blink_cnt, 1u);
}

// Three managers receive reports of the same anchor in turn, many tags new to it at the
// same moment: no report is lost, none is counted twice, no tag is listed twice.
TEST(engine_core_BlinkCount, ThreeManagersCountingAtOnceLoseNothing)
{
    Anchor& a = zub_context()->anchors[5];
    a.init(0x5, 5);
    constexpr int kManagers = 3;
    constexpr int kTags = 500;
    constexpr int kReportsPerTagPerManager = 40;
    std::atomic<int> ready{0};
    std::vector<std::thread> managers;
    for (int m = 0; m < kManagers; ++m) {
        managers.emplace_back([m, &a, &ready] {
            std::vector<WORD64> reports;
            for (int r = 0; r < kReportsPerTagPerManager; ++r) {
                for (int t = 0; t < kTags; ++t) {
                    reports.push_back(0x0800000000000000ull + t);
                }
            }
            std::mt19937 rng(m);
            std::shuffle(reports.begin(), reports.end(), rng);
            ready.fetch_add(1);
            while (ready.load() < kManagers) {
            }
            for (WORD64 tag : reports) {
                a.count_tag_blink(tag);
            }
        });
    }
    // The reconnection job reads the table meanwhile.
    std::atomic<bool> done{false};
    std::thread reader([&] {
        while (!done.load()) {
            const unsigned n = a.blink_table_size();
            for (unsigned i = 0; i < n; ++i) {
                const tag_blink_info_t e = a.blink_entry(i);
                EXPECT_GE(e.tag_id, 0x0800000000000000ull);
                EXPECT_LT(e.tag_id, 0x0800000000000000ull + kTags);
            }
        }
    });
    for (auto& t : managers) {
        t.join();
    }
    done.store(true);
    reader.join();

    ASSERT_EQ(a.blink_table_size(), kTags);
    std::set<WORD64> listed;
    for (unsigned i = 0; i < kTags; ++i) {
        const tag_blink_info_t e = a.blink_entry(i);
        EXPECT_TRUE(listed.insert(e.tag_id).second) << "tag listed twice";
        // Every report but the first of each tag counts.
        EXPECT_EQ(e.blink_cnt, static_cast<WORD64>(kManagers * kReportsPerTagPerManager - 1)) << std::hex << e.tag_id;
    }
}

// A full table of scattered tag ids keeps first-report order, and every later report lands
// on its own tag's entry however the ids fall in the lookup index.
TEST(engine_core_BlinkCount, FullTableOfScatteredIdsKeepsOrderAndCountsEachTag)
{
    Anchor& a = zub_context()->anchors[6];
    a.init(0x6, 6);
    std::mt19937_64 rng(20261209);
    std::vector<WORD64> ids;
    std::set<WORD64> unique;
    while (ids.size() < ZUB_MAX_TAG_PER_ANCHOR) {
        const WORD64 id = rng();
        if (unique.insert(id).second) {
            ids.push_back(id);
        }
    }
    for (WORD64 id : ids) {
        ASSERT_TRUE(a.count_tag_blink(id));
    }
    // Tag i gets i % 4 further reports, in shuffled order.
    std::vector<WORD64> later;
    for (unsigned i = 0; i < ids.size(); ++i) {
        for (unsigned r = 0; r < i % 4; ++r) {
            later.push_back(ids[i]);
        }
    }
    std::shuffle(later.begin(), later.end(), rng);
    for (WORD64 id : later) {
        ASSERT_TRUE(a.count_tag_blink(id));
    }
    ASSERT_EQ(a.blink_table_size(), ZUB_MAX_TAG_PER_ANCHOR);
    for (unsigned i = 0; i < ids.size(); ++i) {
        const tag_blink_info_t e = a.blink_entry(i);
        ASSERT_EQ(e.tag_id, ids[i]) << i;
        ASSERT_EQ(e.blink_cnt, i % 4) << i;
    }
}

// Bringing the record into use again forgets the tags: a tag counted before starts anew
// at entry 0 with count 0.
TEST(engine_core_BlinkCount, InitForgetsKnownTags)
{
    Anchor& a = zub_context()->anchors[7];
    a.init(0x7, 7);
    struct Row { WORD64 tag; unsigned entry; WORD64 count; };
    for (WORD64 t : {0x11ull, 0x22ull, 0x22ull, 0x33ull}) {
        a.count_tag_blink(t);
    }
    a.init(0x7, 7);
    EXPECT_EQ(a.blink_table_size(), 0);
    for (WORD64 t : {0x33ull, 0x11ull, 0x33ull}) {
        a.count_tag_blink(t);
    }
    ASSERT_EQ(a.blink_table_size(), 2);
    for (const Row& r : {Row{0x33, 0, 1}, Row{0x11, 1, 0}}) {
        SCOPED_TRACE(r.tag);
        EXPECT_EQ(a.blink_entry(r.entry).tag_id, r.tag);
        EXPECT_EQ(a.blink_entry(r.entry).blink_cnt, r.count);
    }
}
