// semaphore_test.cpp - thread and process semaphores: creation flags, the wait rules, the kind
// check of handles, and named semaphores reached from another process.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "VorlenComm.h"
#include "resource_test_support.h"

namespace {

using namespace std::chrono_literals;

WORD32 thread_sem(WORD32 init, WORD32 max, WORD32 flag) {
    WORD32 id = 0;
    EXPECT_TRUE(XOS_CreateSemaphore(init, max, flag, &id));
    return id;
}

// Removes the named semaphores a test made, also when it fails half-way.
class NamedSems {
public:
    ~NamedSems() {
        for (const std::string& name : names_) {
            rt::unlink_sem(name);
        }
    }
    std::string module_name(WORD16 module, WORD16 unit, unsigned index) {
        return add("CoreNetwork_module_" + std::to_string(module) + "_unit_" + std::to_string(unit) + "_id_" +
                   std::to_string(index));
    }
    std::string public_name(unsigned index) { return add("CoreNetwork_id_" + std::to_string(index)); }

private:
    std::string add(std::string name) {
        names_.push_back(name);
        return name;
    }
    std::vector<std::string> names_;
};

bool sem_file_exists(const std::string& name) {
    struct stat st;
    return stat(("/dev/shm/sem." + name).c_str(), &st) == 0;
}

class ProcessSemTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved_module_ = _thisModuleNo;
        saved_unit_ = _thisUnit;
        _thisModuleNo = 11;
        _thisUnit = 0xFFFF;
    }
    void TearDown() override {
        _thisModuleNo = saved_module_;
        _thisUnit = saved_unit_;
    }
    NamedSems names_;

private:
    WORD16 saved_module_ = 0;
    WORD16 saved_unit_ = 0;
};

TEST(ThreadSemaphore, CreationRefusesNullOutAndUnknownFlags) {
    EXPECT_FALSE(XOS_CreateSemaphore(1, 1, XOS_SEM_BINARY, nullptr));
    for (WORD32 flag : {0u, 2u, 31u, 33u, 0xFFFFFFFFu}) {
        WORD32 id = 0x12345678;
        EXPECT_FALSE(XOS_CreateSemaphore(1, 1, flag, &id)) << flag;
        EXPECT_EQ(id, 0x12345678u) << "nothing is written for flag " << flag;
    }
}

TEST(ThreadSemaphore, HandleCarriesKindTwo) {
    const WORD32 id = thread_sem(0, 1, XOS_SEM_BINARY);
    EXPECT_EQ(id >> 16, 2u);
    EXPECT_GE(id & 0xFFFF, 1u);
    EXPECT_LE(id & 0xFFFF, 254u);
}

TEST(ThreadSemaphore, BinaryStartsWithItsInitialCount) {
    const WORD32 taken = thread_sem(0, 1, XOS_SEM_BINARY);
    EXPECT_FALSE(XOS_SemaphoreP(taken, XOS_NO_WAIT));
    const WORD32 free = thread_sem(1, 1, XOS_SEM_BINARY);
    EXPECT_TRUE(XOS_SemaphoreP(free, XOS_NO_WAIT));
    EXPECT_FALSE(XOS_SemaphoreP(free, XOS_NO_WAIT));
    EXPECT_TRUE(XOS_SemaphoreV(free));
    EXPECT_TRUE(XOS_SemaphoreP(free, XOS_NO_WAIT));
}

TEST(ThreadSemaphore, CountingGivesOutItsCountAndReleaseIsNotCapped) {
    const WORD32 id = thread_sem(3, 3, XOS_SEM_COUNTING);
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(XOS_SemaphoreP(id, XOS_NO_WAIT)) << i;
    }
    EXPECT_FALSE(XOS_SemaphoreP(id, XOS_NO_WAIT));
    // Five releases against a maximum of 3: all five counts are there to take.
    for (int i = 0; i < 5; ++i) {
        EXPECT_TRUE(XOS_SemaphoreV(id));
    }
    for (int i = 0; i < 5; ++i) {
        EXPECT_TRUE(XOS_SemaphoreP(id, XOS_NO_WAIT)) << i;
    }
    EXPECT_FALSE(XOS_SemaphoreP(id, XOS_NO_WAIT));
}

TEST(ThreadSemaphore, InitialCountBeyondWhatASemaphoreHoldsIsRefused) {
    WORD32 id = 0;
    EXPECT_FALSE(XOS_CreateSemaphore(0x80000000u, 0xFFFFFFFFu, XOS_SEM_COUNTING, &id));
    EXPECT_EQ(id, 0xFFFFFFFFu);
}

TEST(ThreadSemaphore, TimeOutsOtherThanZeroAndForeverFailAtOnceAndTakeNothing) {
    const WORD32 id = thread_sem(1, 1, XOS_SEM_BINARY);
    for (WORD32 timeout : {1u, 5000u, 0xFFFFFFFEu}) {
        EXPECT_FALSE(XOS_SemaphoreP(id, timeout)) << timeout;
    }
    EXPECT_TRUE(XOS_SemaphoreP(id, XOS_NO_WAIT)) << "the refused waits must not have taken the count";
}

TEST(ThreadSemaphore, ForeverWaitsUntilAnotherThreadReleases) {
    const WORD32 id = thread_sem(0, 1, XOS_SEM_BINARY);
    std::atomic<int> result{-1};
    std::thread waiter([&] { result = XOS_SemaphoreP(id, XOS_WAIT_FOREVER); });
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(result.load(), -1) << "the wait returned before any release";
    EXPECT_TRUE(XOS_SemaphoreV(id));
    waiter.join();
    EXPECT_EQ(result.load(), TRUE);
    EXPECT_FALSE(XOS_SemaphoreP(id, XOS_NO_WAIT)) << "the waiter took the one count";
}

TEST(ThreadSemaphore, ReleaseWakesOneWaiterPerCount) {
    const WORD32 id = thread_sem(0, 8, XOS_SEM_COUNTING);
    std::atomic<int> woken{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 4; ++i) {
        waiters.emplace_back([&] {
            if (XOS_SemaphoreP(id, XOS_WAIT_FOREVER)) {
                ++woken;
            }
        });
    }
    for (int i = 0; i < 4; ++i) {
        EXPECT_TRUE(XOS_SemaphoreV(id));
    }
    for (std::thread& t : waiters) {
        t.join();
    }
    EXPECT_EQ(woken.load(), 4);
    EXPECT_FALSE(XOS_SemaphoreP(id, XOS_NO_WAIT));
}

TEST(ThreadSemaphore, HandlesOfOtherKindsOrOutsideTheTableAreRefused) {
    const WORD32 id = thread_sem(1, 1, XOS_SEM_BINARY);
    const WORD32 slot = id & 0xFFFF;
    WORD32 lock = 0;
    ASSERT_TRUE(XOS_CreateRWLock(0, &lock));
    const WORD32 refused[] = {
        0x10000u | slot,  // the same slot as a process semaphore
        0x30000u | slot,  // ... and as a read/write lock
        lock,             // a real lock handle
        0x20000u,         // slot 0 is never used
        0x200FFu,         // slot 255 is outside the table
        0x20000u | 0x1FFu,
        0x120000u | slot, // upper bits beyond the kind
        0xFFFFFFFFu,
    };
    for (WORD32 handle : refused) {
        EXPECT_FALSE(XOS_SemaphoreP(handle, XOS_NO_WAIT)) << std::hex << handle;
        EXPECT_FALSE(XOS_SemaphoreP(handle, XOS_WAIT_FOREVER)) << std::hex << handle;
        EXPECT_FALSE(XOS_SemaphoreV(handle)) << std::hex << handle;
    }
    // Slot 254 exists in the table but holds nothing in this process.
    EXPECT_FALSE(XOS_SemaphoreV(0x200FEu));
    EXPECT_TRUE(XOS_SemaphoreP(id, XOS_NO_WAIT)) << "the refused calls must not touch the real one";
    EXPECT_FALSE(XOS_SemaphoreP(id, XOS_NO_WAIT));
}

TEST_F(ProcessSemTest, NamedAfterModuleUnitAndIndex) {
    const unsigned index = rt::unique_index(1);
    const std::string name = names_.module_name(11, 65535, index);
    const WORD32 id = XOS_CreateProcessSem(index, 1, XOS_SEM_BINARY);
    ASSERT_NE(id, 0xFFFFFFFFu);
    EXPECT_EQ(id >> 16, 1u);
    EXPECT_TRUE(sem_file_exists(name)) << name;
    const std::string pub = names_.public_name(index);
    const WORD32 pub_id = XOS_CreatePubProcessSem(index, 1, XOS_SEM_BINARY);
    ASSERT_NE(pub_id, 0xFFFFFFFFu);
    EXPECT_NE(pub_id, id);
    EXPECT_TRUE(sem_file_exists(pub)) << pub;
}

TEST_F(ProcessSemTest, UnknownFlagGivesInvalidHandle) {
    const unsigned index = rt::unique_index(2);
    names_.module_name(11, 65535, index);
    names_.public_name(index);
    for (WORD32 flag : {0u, 2u, 64u}) {
        EXPECT_EQ(XOS_CreateProcessSem(index, 1, flag), 0xFFFFFFFFu) << flag;
        EXPECT_EQ(XOS_CreatePubProcessSem(index, 1, flag), 0xFFFFFFFFu) << flag;
    }
    EXPECT_FALSE(sem_file_exists("CoreNetwork_module_11_unit_65535_id_" + std::to_string(index)));
}

TEST_F(ProcessSemTest, WaitRulesAndKindCheck) {
    const unsigned index = rt::unique_index(3);
    names_.public_name(index);
    const WORD32 id = XOS_CreatePubProcessSem(index, 2, XOS_SEM_COUNTING);
    ASSERT_NE(id, 0xFFFFFFFFu);
    EXPECT_FALSE(XOS_ProcessSemP(id, 5000));
    EXPECT_FALSE(XOS_ProcessSemP(id, 1));
    EXPECT_TRUE(XOS_ProcessSemP(id, XOS_NO_WAIT));
    EXPECT_TRUE(XOS_ProcessSemP(id, XOS_WAIT_FOREVER));
    EXPECT_FALSE(XOS_ProcessSemP(id, XOS_NO_WAIT));

    const WORD32 slot = id & 0xFFFF;
    for (WORD32 handle : {0x20000u | slot, 0x30000u | slot, 0x10000u, 0x100FFu, 0xFFFFFFFFu}) {
        EXPECT_FALSE(XOS_ProcessSemV(handle)) << std::hex << handle;
        EXPECT_FALSE(XOS_ProcessSemP(handle, XOS_NO_WAIT)) << std::hex << handle;
    }
    EXPECT_FALSE(XOS_ProcessSemP(id, XOS_NO_WAIT)) << "a refused release gave a count";
}

TEST_F(ProcessSemTest, PointerFormsReadTheHandle) {
    const unsigned index = rt::unique_index(4);
    names_.module_name(11, 65535, index);
    XOS_SEM_T sem = XOS_CreateProcessSem(index, 0, XOS_SEM_BINARY);
    ASSERT_NE(sem, 0xFFFFFFFFu);
    EXPECT_FALSE(XOS_ProcSemP(&sem, XOS_NO_WAIT));
    EXPECT_TRUE(XOS_ProcSemV(&sem));
    EXPECT_FALSE(XOS_ProcSemP(&sem, 5000));
    EXPECT_TRUE(XOS_ProcSemP(&sem, XOS_NO_WAIT));
    EXPECT_FALSE(XOS_ProcSemP(nullptr, XOS_NO_WAIT));
    EXPECT_FALSE(XOS_ProcSemV(nullptr));
}

TEST_F(ProcessSemTest, ForeverWaitEndsWithAReleaseFromAnotherThread) {
    const unsigned index = rt::unique_index(5);
    names_.module_name(11, 65535, index);
    const WORD32 id = XOS_CreateProcessSem(index, 0, XOS_SEM_BINARY);
    ASSERT_NE(id, 0xFFFFFFFFu);
    std::atomic<int> result{-1};
    std::thread waiter([&] { result = XOS_ProcessSemP(id, XOS_WAIT_FOREVER); });
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(result.load(), -1);
    EXPECT_TRUE(XOS_ProcessSemV(id));
    waiter.join();
    EXPECT_EQ(result.load(), TRUE);
}

// Another process of the same module and unit reaches the semaphore by its index; one of another
// module reaches only the public form.
TEST_F(ProcessSemTest, OtherProcessesReachItByName) {
    const unsigned index = rt::unique_index(6);
    names_.module_name(11, 65535, index);
    names_.module_name(12, 65535, index);
    names_.public_name(index);
    const WORD32 own = XOS_CreateProcessSem(index, 0, XOS_SEM_COUNTING);
    const WORD32 pub = XOS_CreatePubProcessSem(index, 0, XOS_SEM_COUNTING);
    ASSERT_NE(own, 0xFFFFFFFFu);
    ASSERT_NE(pub, 0xFFFFFFFFu);

    const auto release_from_child = [&](WORD16 module, bool public_form) {
        return rt::run_in_child([=] {
            _thisModuleNo = module;
            const WORD32 id = public_form ? XOS_CreatePubProcessSem(index, 0, XOS_SEM_COUNTING)
                                          : XOS_CreateProcessSem(index, 0, XOS_SEM_COUNTING);
            return id != 0xFFFFFFFFu && XOS_ProcessSemV(id) ? 0 : 1;
        });
    };
    ASSERT_EQ(release_from_child(11, false), 0);
    EXPECT_TRUE(XOS_ProcessSemP(own, XOS_NO_WAIT));
    EXPECT_FALSE(XOS_ProcessSemP(own, XOS_NO_WAIT));

    ASSERT_EQ(release_from_child(12, false), 0);
    EXPECT_FALSE(XOS_ProcessSemP(own, XOS_NO_WAIT)) << "module 12 has a semaphore of its own";

    ASSERT_EQ(release_from_child(12, true), 0);
    EXPECT_TRUE(XOS_ProcessSemP(pub, XOS_NO_WAIT));
    EXPECT_FALSE(XOS_ProcessSemP(pub, XOS_NO_WAIT));
}

}  // namespace
