// Message blocks from the kernel's cached allocator: exact sizes whatever cache serves them (the
// queue's byte count depends on it), kind and priority kept, and blocks made on one thread and
// released on another, also when the caches run dry and the heap takes over.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <string>
#include <mutex>
#include <thread>
#include <vector>

#include "CNPlatform.h"
#include "block_allocator.h"
#include "pool_cache.h"

namespace {

using cn_kernel::cached_block;
using cn_kernel::CN_BlockAllocator;

uint8_t pattern(size_t i, size_t seed) { return static_cast<uint8_t>((i * 31 + seed * 7) & 0xFF); }

void fill(ACE_Message_Block* mb, size_t seed)
{
    for (size_t i = 0; i < mb->size(); ++i) mb->wr_ptr()[i] = static_cast<char>(pattern(i, seed));
    mb->wr_ptr(mb->size());
}

bool intact(const ACE_Message_Block* mb, size_t seed)
{
    for (size_t i = 0; i < mb->length(); ++i) {
        if (static_cast<uint8_t>(mb->rd_ptr()[i]) != pattern(i, seed)) return false;
    }
    return true;
}

TEST(PlatformKernelBlocks, SizesAreExactAcrossCachesAndTheHeap)
{
    const size_t largest = CN_BlockAllocator::largest_cached();
    EXPECT_EQ(largest, 2048u - 16u);
    struct Row {
        size_t size;
        ACE_Message_Block::ACE_Message_Type type;
        unsigned long priority;
    } rows[] = {
        {1, 514, 0},           {45, 513, 2},           {75, 514, 0},  {112, 514, 0}, {113, 514, 0},
        {145, 514, 2},         {largest, 514, 0},      {largest + 1, 514, 0},
        {21548, 514, 0}, // the whole largest message, as the start-up wake-up sends it
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.size);
        ACE_Message_Block* mb = cached_block(r.size, r.type, r.priority);
        ASSERT_NE(mb, nullptr);
        EXPECT_EQ(mb->size(), r.size);
        EXPECT_EQ(mb->total_size(), r.size);
        EXPECT_EQ(mb->length(), 0u);
        EXPECT_EQ(mb->msg_type(), r.type);
        EXPECT_EQ(mb->msg_priority(), r.priority);
        fill(mb, r.size);
        // Released on another thread than the one that made it.
        std::thread([mb, &r] {
            EXPECT_TRUE(intact(mb, r.size));
            mb->release();
        }).join();
    }
}

TEST(PlatformKernelBlocks, BlocksPassedBetweenThreadsStayWholeWhenTheCachesRunDry)
{
    // Each thread makes blocks and hands them to its neighbour, which checks and releases them.
    // Far more blocks are alive at once than the caches first hold, so they grow and the heap
    // may serve some.
    constexpr int kThreads = 6;
    constexpr int kPerThread = 30000;
    const size_t sizes[] = {30 + 45, 17 + 45, 100 + 45, 1000, 3000};
    struct Box {
        std::mutex m;
        std::deque<std::pair<ACE_Message_Block*, size_t>> blocks;
    };
    std::vector<Box> boxes(kThreads);
    std::atomic<int> bad{0};
    std::atomic<int> released{0};
    std::atomic<int> failed{0};
    auto drain = [&](Box& box, bool all) {
        std::deque<std::pair<ACE_Message_Block*, size_t>> taken;
        {
            std::lock_guard<std::mutex> lock(box.m);
            if (!all && box.blocks.size() < 20000) return;
            taken.swap(box.blocks);
        }
        for (auto& [mb, seed] : taken) {
            if (!intact(mb, seed)) ++bad;
            mb->release();
            ++released;
        }
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            Box& next = boxes[(t + 1) % kThreads];
            for (int i = 0; i < kPerThread; ++i) {
                size_t seed = static_cast<size_t>(t * kPerThread + i);
                ACE_Message_Block* mb = cached_block(sizes[i % 5], 514, 0);
                if (mb == nullptr) {
                    ++failed;
                    continue;
                }
                fill(mb, seed);
                {
                    std::lock_guard<std::mutex> lock(next.m);
                    next.blocks.emplace_back(mb, seed);
                }
                if (i % 1000 == 0) drain(boxes[t], false);
            }
        });
    }
    for (auto& th : threads) th.join();
    for (Box& b : boxes) drain(b, true);
    EXPECT_EQ(failed.load(), 0);
    EXPECT_EQ(bad.load(), 0);
    EXPECT_EQ(released.load(), kThreads * kPerThread);
}

TEST(PlatformKernelBlocks, PoolsABurstTookOnGoBackOnceWhollyUnusedForAWhile)
{
    // Pools of 4 chunks, at most 3. Chunks come from the lowest pool with one free; a pool but
    // the first goes back once it has lain wholly free for the idle time (2000 ms here).
    cn_kernel::PoolCache cache(64, 4, 3);
    std::vector<std::pair<void*, unsigned>> taken;  // chunk, pool
    auto take = [&](int n) {
        std::string pools;
        for (int i = 0; i < n; ++i) {
            unsigned pool = 99;
            void* c = cache.take(&pool);
            if (c == nullptr) {
                pools += '-';
                continue;
            }
            std::memset(c, 0xA5, 64);
            taken.emplace_back(c, pool);
            pools += static_cast<char>('0' + pool);
        }
        return pools;
    };
    auto give_pool = [&](unsigned pool, uint64_t at, size_t most = 99) {
        for (auto it = taken.begin(); it != taken.end() && most > 0;) {
            if (it->second != pool) {
                ++it;
                continue;
            }
            cache.give(it->first, it->second, at);
            it = taken.erase(it);
            --most;
        }
    };
    struct Row {
        const char* name;
        std::function<std::string()> act;
        std::string result;  // pools the takes came from ('-': none), or the bytes trimmed
        unsigned pools;
    } rows[] = {
        {"the first pool", [&] { return take(4); }, "0000", 1},
        {"a second pool is taken", [&] { return take(1); }, "1", 2},
        {"then a third", [&] { return take(4); }, "1112", 3},
        {"none beyond the most", [&] { return take(4); }, "222-", 3},
        {"third pool free at 1000", [&] { give_pool(2, 1000); return std::string(); }, "", 3},
        {"not yet idle at 2999", [&] { return std::to_string(cache.trim(2999, 2000)); }, "0", 3},
        {"idle at 3000", [&] { return std::to_string(cache.trim(3000, 2000)); }, "256", 2},
        {"second pool free at 3500, one chunk of the first", [&] { give_pool(1, 3500); give_pool(0, 3500, 1);
             return std::string(); }, "", 2},
        {"the lowest pool serves first", [&] { return take(1); }, "0", 2},
        {"second pool goes at 5500", [&] { return std::to_string(cache.trim(5500, 2000)); }, "256", 1},
        {"the first pool stays, even unused", [&] { give_pool(0, 6000); return std::to_string(cache.trim(90000, 2000)); },
         "0", 1},
        {"a new burst takes pools again", [&] { return take(6); }, "000011", 2},
    };
    for (Row& r : rows) {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(r.act(), r.result);
        EXPECT_EQ(cache.pools(), r.pools);
    }
    for (auto& [c, pool] : taken) cache.give(c, pool, 0);
}

TEST(PlatformKernelBlocks, ADryCacheTakesOnMorePoolsBeforeTheHeapServes)
{
    // One thread keeps ever more small pieces alive: its shard's cache grows pool by pool, and
    // only what lies beyond its first pool and kExtraPools more comes from the heap. Once all are
    // freed and the idle time has passed, the pools beyond the first go back, and the heap's
    // pieces are gone.
    CN_BlockAllocator& a = CN_BlockAllocator::instance();
    const size_t pool = CN_BlockAllocator::pool_pieces(0);
    const size_t cap = pool * (1 + CN_BlockAllocator::kExtraPools);
    struct Row {
        size_t alive;
        size_t from_heap;
    } rows[] = {{pool / 2, 0}, {pool + 1, 0}, {4 * pool, 0}, {cap, 0}, {cap + 1000, 1000}};
    std::thread([&] {
        // The first piece makes sure this thread's cache holds its first pool; earlier tests'
        // idle pools go before the count.
        std::vector<void*> alive{a.malloc(64)};
        const size_t heap_before = CN_BlockAllocator::heap_pieces();
        const size_t heap_bytes_before = CN_BlockAllocator::heap_bytes();
        CN_BlockAllocator::trim(CN_CoarseMonotonicMs() + CN_BlockAllocator::kIdlePoolMs);
        const size_t pools_before = CN_BlockAllocator::pools_held();
        for (const Row& r : rows) {
            SCOPED_TRACE(r.alive);
            while (alive.size() < r.alive) {
                void* p = a.malloc(64);
                ASSERT_NE(p, nullptr);
                std::memset(p, 0x5A, 64);
                alive.push_back(p);
            }
            EXPECT_EQ(CN_BlockAllocator::heap_pieces() - heap_before, r.from_heap);
            EXPECT_EQ(CN_BlockAllocator::heap_bytes() - heap_bytes_before, r.from_heap * (64 + 16));
        }
        EXPECT_EQ(CN_BlockAllocator::pools_held() - pools_before, CN_BlockAllocator::kExtraPools);
        for (void* p : alive) a.free(p);
        EXPECT_EQ(CN_BlockAllocator::heap_bytes(), heap_bytes_before);
        const uint64_t freed_at = CN_CoarseMonotonicMs();
        EXPECT_EQ(CN_BlockAllocator::trim(freed_at), 0u);  // not idle long enough yet
        EXPECT_EQ(CN_BlockAllocator::trim(freed_at + CN_BlockAllocator::kIdlePoolMs + 10),
                  CN_BlockAllocator::kExtraPools * CN_BlockAllocator::pool_pieces(0) * 128);
        EXPECT_EQ(CN_BlockAllocator::pools_held(), pools_before);
    }).join();
}

} // namespace
