// ub_pool_test.cpp - blocks of "UB_MEMPOOL": sizes, reuse of returned blocks and use from many
// threads at once.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <set>
#include <thread>
#include <vector>

#include "VorlenComm.h"

namespace {

TEST(UbPool, BlocksHoldTheirSizeWithoutOverlap) {
    std::vector<BYTE*> blocks;
    for (WORD32 size : {1u, 7u, 64u, 1000u, 65536u}) {
        BYTE* block = XOS_GetUB(size);
        ASSERT_NE(block, nullptr) << size;
        std::memset(block, static_cast<int>(size & 0xFF), size);
        blocks.push_back(block);
    }
    const WORD32 sizes[] = {1u, 7u, 64u, 1000u, 65536u};
    for (size_t i = 0; i < blocks.size(); ++i) {
        for (WORD32 b = 0; b < sizes[i]; ++b) {
            ASSERT_EQ(blocks[i][b], static_cast<BYTE>(sizes[i] & 0xFF)) << "block " << i << " byte " << b;
        }
        EXPECT_EQ(oss_retub(blocks[i]), 0u);
    }
}

// Returned blocks go back to the pool: a long run of get and return, through both names, keeps
// landing on a few places instead of taking new memory each round.
TEST(UbPool, ReturnedBlocksServeLaterRequests) {
    std::set<BYTE*> places;
    for (int i = 0; i < 2000; ++i) {
        BYTE* block = i % 2 ? XOS_GetUB(8000) : OSS_GetUB(8000);
        ASSERT_NE(block, nullptr) << "round " << i;
        places.insert(block);
        ASSERT_EQ(oss_retub(block), 0u);
    }
    EXPECT_LE(places.size(), 4u);
}

TEST(UbPool, NullIsReturnedWithSuccess) { EXPECT_EQ(oss_retub(nullptr), 0u); }

TEST(UbPool, ManyThreadsGetAndReturnWithoutSharingABlock) {
    std::atomic<int> faults{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 3000; ++i) {
                const WORD32 size = 16u + static_cast<WORD32>((i * 37 + t * 101) % 2000);
                BYTE* block = XOS_GetUB(size);
                if (block == nullptr) {
                    ++faults;
                    return;
                }
                std::memset(block, t + 1, size);
                std::this_thread::yield();
                for (WORD32 b = 0; b < size; b += 97) {
                    if (block[b] != t + 1) {
                        ++faults;
                        break;
                    }
                }
                oss_retub(block);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(faults.load(), 0);
}

}  // namespace
