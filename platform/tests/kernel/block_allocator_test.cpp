// Message blocks from the kernel's cached allocator: exact sizes whatever cache serves them (the
// queue's byte count depends on it), kind and priority kept, and blocks made on one thread and
// released on another, also when the caches run dry and the heap takes over.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "block_allocator.h"

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

TEST(PlatformKernelBlocks, ADryCacheTakesOnMorePoolsBeforeTheHeapServes)
{
    // One thread keeps ever more small pieces alive: its shard's cache grows pool by pool, and
    // only what lies beyond its first pool and kExtraPools more comes from the heap.
    CN_BlockAllocator& a = CN_BlockAllocator::instance();
    const size_t pool = CN_BlockAllocator::pool_pieces(0);
    const size_t cap = pool * (1 + CN_BlockAllocator::kExtraPools);
    struct Row {
        size_t alive;
        size_t from_heap;
    } rows[] = {{pool / 2, 0}, {pool + 1, 0}, {4 * pool, 0}, {cap, 0}, {cap + 1000, 1000}};
    std::thread([&] {
        std::vector<void*> alive;
        const size_t heap_before = CN_BlockAllocator::heap_pieces();
        for (const Row& r : rows) {
            SCOPED_TRACE(r.alive);
            while (alive.size() < r.alive) {
                void* p = a.malloc(64);
                ASSERT_NE(p, nullptr);
                std::memset(p, 0x5A, 64);
                alive.push_back(p);
            }
            EXPECT_EQ(CN_BlockAllocator::heap_pieces() - heap_before, r.from_heap);
        }
        for (void* p : alive) a.free(p);
    }).join();
}

} // namespace
