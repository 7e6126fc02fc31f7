// Trace lists replaced as a whole by the display job while other jobs look ids up.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "zub_public.h"

// Each test starts from empty lists: the lists live in the one context, and an earlier test of
// this binary may have left ids in them.
class engine_core_TraceList : public ::testing::Test {
protected:
    void SetUp() override
    {
        zub_trace_replace(zub_context()->tag_trace_cfg, nullptr, 0);
        zub_trace_replace(zub_context()->anc_trace_cfg, nullptr, 0);
    }
};

TEST_F(engine_core_TraceList, ReplaceLooksUpAndCopies)
{
    context_t* c = zub_context();
    EXPECT_FALSE(tag_trace_cfg_check(0x12));
    const WORD64 ids[] = {0x12, 0x34};
    zub_trace_replace(c->tag_trace_cfg, ids, 2);
    EXPECT_TRUE(tag_trace_cfg_check(0x12));
    EXPECT_TRUE(tag_trace_cfg_check(0x34));
    EXPECT_FALSE(tag_trace_cfg_check(0x56));
    EXPECT_FALSE(anc_trace_cfg_check(0x12));
    WORD64 out[ZUB_TRACE_MAX_IDS];
    EXPECT_EQ(zub_trace_copy(c->tag_trace_cfg, out), 2u);
    EXPECT_EQ(out[1], 0x34u);
    zub_trace_replace(c->tag_trace_cfg, nullptr, 0);
    EXPECT_FALSE(tag_trace_cfg_check(0x12));
}

TEST_F(engine_core_TraceList, MoreThanTwoHundredIdsKeepTheFirstTwoHundred)
{
    context_t* c = zub_context();
    std::vector<WORD64> ids(250);
    for (size_t i = 0; i < ids.size(); ++i) {
        ids[i] = 1000 + i;
    }
    zub_trace_replace(c->anc_trace_cfg, ids.data(), 250);
    EXPECT_EQ(c->anc_trace_cfg.cnt, 200);
    EXPECT_TRUE(anc_trace_cfg_check(1199));
    EXPECT_FALSE(anc_trace_cfg_check(1200));
}

TEST_F(engine_core_TraceList, ReadersSeeTheOldListOrTheNewNeverAMixture)
{
    context_t* c = zub_context();
    std::vector<WORD64> a(200), b(100);
    for (size_t i = 0; i < a.size(); ++i) {
        a[i] = 1 + i;
    }
    for (size_t i = 0; i < b.size(); ++i) {
        b[i] = 5001 + i;
    }
    a.back() = b.back() = 7777;  // in both lists
    zub_trace_replace(c->tag_trace_cfg, a.data(), 200);
    std::atomic<bool> stop{false};
    std::atomic<uint64_t> mixed{0};
    std::atomic<uint64_t> reads{0};
    std::vector<std::thread> readers;
    for (int i = 0; i < 4; ++i) {
        readers.emplace_back([&] {
            WORD64 out[ZUB_TRACE_MAX_IDS];
            while (!stop.load(std::memory_order_relaxed)) {
                const unsigned n = zub_trace_copy(c->tag_trace_cfg, out);
                const std::vector<WORD64> got(out, out + n);
                if (got != a && got != b) {
                    mixed.fetch_add(1);
                }
                // An id that both lists hold is found whichever list is current.
                if (!tag_trace_cfg_check(7777)) {
                    mixed.fetch_add(1);
                }
                reads.fetch_add(1, std::memory_order_relaxed);
            }
        });
    }
    // The display job replaces the lists every 5 s; here far faster, with a breath between
    // replacements so that the readers' copies of 200 ids can complete.
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
    for (int n = 0; std::chrono::steady_clock::now() < until || reads.load() < 200; ++n) {
        if (n % 2) {
            zub_trace_replace(c->tag_trace_cfg, a.data(), 200);
        } else {
            zub_trace_replace(c->tag_trace_cfg, b.data(), 100);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(20));
    }
    stop.store(true);
    for (auto& t : readers) {
        t.join();
    }
    EXPECT_EQ(mixed.load(), 0u);
    EXPECT_GT(reads.load(), 100u);
}
