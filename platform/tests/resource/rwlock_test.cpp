// rwlock_test.cpp - thread read/write locks: shared and exclusive holding under the wait rules,
// the kind check, and the process-wide forms that are refused.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "VorlenComm.h"

namespace {

using namespace std::chrono_literals;

WORD32 new_lock() {
    WORD32 id = 0;
    EXPECT_TRUE(XOS_CreateRWLock(0, &id));
    return id;
}

TEST(RwLock, CreationNeedsAnOutPointerAndGivesKindThree) {
    EXPECT_FALSE(XOS_CreateRWLock(0, nullptr));
    WORD32 id = 0;
    ASSERT_TRUE(XOS_CreateRWLock(0x1234, &id));  // the mode is not used
    EXPECT_EQ(id >> 16, 3u);
    EXPECT_GE(id & 0xFFFF, 1u);
    EXPECT_LE(id & 0xFFFF, 254u);
}

TEST(RwLock, ReadersShareAndKeepTheWriterOut) {
    const WORD32 id = new_lock();
    ASSERT_TRUE(XOS_RwlockRdlock(id, XOS_NO_WAIT));
    EXPECT_TRUE(XOS_RwlockRdlock(id, XOS_WAIT_FOREVER));
    std::atomic<int> write_try{-1};
    std::thread([&] { write_try = XOS_RwlockWdlock(id, XOS_NO_WAIT); }).join();
    EXPECT_EQ(write_try.load(), FALSE);
    EXPECT_TRUE(XOS_RwlockUnlock(id));
    EXPECT_TRUE(XOS_RwlockUnlock(id));
    std::thread([&] { write_try = XOS_RwlockWdlock(id, XOS_NO_WAIT); }).join();
    EXPECT_EQ(write_try.load(), TRUE);
    // Taken by a thread that has ended; unlocking from another thread is the caller's business.
}

TEST(RwLock, WriterKeepsEveryoneOut) {
    const WORD32 id = new_lock();
    ASSERT_TRUE(XOS_RwlockWdlock(id, XOS_WAIT_FOREVER));
    std::atomic<int> read_try{-1};
    std::atomic<int> write_try{-1};
    std::thread([&] {
        read_try = XOS_RwlockRdlock(id, XOS_NO_WAIT);
        write_try = XOS_RwlockWdlock(id, XOS_NO_WAIT);
    }).join();
    EXPECT_EQ(read_try.load(), FALSE);
    EXPECT_EQ(write_try.load(), FALSE);
    EXPECT_TRUE(XOS_RwlockUnlock(id));
    EXPECT_TRUE(XOS_RwlockRdlock(id, XOS_NO_WAIT));
    EXPECT_TRUE(XOS_RwlockUnlock(id));
}

TEST(RwLock, TimeOutsOtherThanZeroAndForeverFailAtOnceOnAFreeLock) {
    const WORD32 id = new_lock();
    for (WORD32 timeout : {1u, 5000u, 0xFFFFFFFEu}) {
        EXPECT_FALSE(XOS_RwlockRdlock(id, timeout)) << timeout;
        EXPECT_FALSE(XOS_RwlockWdlock(id, timeout)) << timeout;
    }
    // Nothing was taken by the refused calls.
    std::atomic<int> write_try{-1};
    std::thread([&] {
        write_try = XOS_RwlockWdlock(id, XOS_NO_WAIT);
        XOS_RwlockUnlock(id);
    }).join();
    EXPECT_EQ(write_try.load(), TRUE);
}

TEST(RwLock, ForeverWriterWaitsForTheReaders) {
    const WORD32 id = new_lock();
    ASSERT_TRUE(XOS_RwlockRdlock(id, XOS_NO_WAIT));
    std::atomic<int> result{-1};
    std::thread writer([&] {
        result = XOS_RwlockWdlock(id, XOS_WAIT_FOREVER);
        XOS_RwlockUnlock(id);
    });
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(result.load(), -1) << "the writer got in beside a reader";
    EXPECT_TRUE(XOS_RwlockUnlock(id));
    writer.join();
    EXPECT_EQ(result.load(), TRUE);
}

TEST(RwLock, ExclusiveSectionsDoNotOverlap) {
    const WORD32 id = new_lock();
    long counter = 0;
    std::atomic<int> inside{0};
    std::atomic<bool> overlap{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 2000; ++i) {
                const bool writer = (i + t) % 4 == 0;
                if (!(writer ? XOS_RwlockWdlock(id, XOS_WAIT_FOREVER) : XOS_RwlockRdlock(id, XOS_WAIT_FOREVER))) {
                    overlap = true;
                    return;
                }
                if (writer) {
                    if (inside.fetch_add(1) != 0) {
                        overlap = true;
                    }
                    ++counter;
                    inside.fetch_sub(1);
                } else if (inside.load() != 0) {
                    overlap = true;
                }
                XOS_RwlockUnlock(id);
            }
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    EXPECT_FALSE(overlap.load());
    EXPECT_EQ(counter, 2000);  // 4 threads x 2000 rounds, every fourth a write
}

TEST(RwLock, HandlesOfOtherKindsAreRefused) {
    const WORD32 id = new_lock();
    const WORD32 slot = id & 0xFFFF;
    WORD32 sem = 0;
    ASSERT_TRUE(XOS_CreateSemaphore(1, 1, XOS_SEM_BINARY, &sem));
    for (WORD32 handle : {sem, 0x20000u | slot, 0x10000u | slot, 0x30000u, 0x300FFu, 0xFFFFFFFFu}) {
        EXPECT_FALSE(XOS_RwlockUnlock(handle)) << std::hex << handle;
        EXPECT_FALSE(XOS_RwlockRdlock(handle, XOS_NO_WAIT)) << std::hex << handle;
        EXPECT_FALSE(XOS_RwlockWdlock(handle, XOS_WAIT_FOREVER)) << std::hex << handle;
    }
    EXPECT_FALSE(XOS_RwlockUnlock(0x300FEu)) << "empty slot";
    EXPECT_TRUE(XOS_SemaphoreP(sem, XOS_NO_WAIT)) << "the semaphore was not touched";
    EXPECT_TRUE(XOS_RwlockWdlock(id, XOS_NO_WAIT)) << "the lock was not touched";
    EXPECT_TRUE(XOS_RwlockUnlock(id));
}

TEST(RwLock, ProcessWideFormsAreRefused) {
    WORD32 id = 0x77;
    EXPECT_FALSE(XOS_CreateProcRWLock(1, 0, &id));
    EXPECT_FALSE(XOS_CreatePubProcRWLock(1, 0, &id));
    EXPECT_EQ(id, 0x77u);
    const WORD32 real = new_lock();
    EXPECT_FALSE(XOS_ProcRWLockRdlock(real, XOS_NO_WAIT));
    EXPECT_FALSE(XOS_ProcRWLockWdlock(real, XOS_WAIT_FOREVER));
    EXPECT_FALSE(XOS_ProcRwlockUnlock(real));
    EXPECT_TRUE(XOS_RwlockWdlock(real, XOS_NO_WAIT)) << "the thread lock was not taken by them";
    EXPECT_TRUE(XOS_RwlockUnlock(real));
}

}  // namespace
