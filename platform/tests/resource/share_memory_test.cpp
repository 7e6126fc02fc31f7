// share_memory_test.cpp - "ShmPool" blocks by index (found again with 2060 and the same address,
// also from another process), the heap and System V forms, and the pools made on first use.
#include <gtest/gtest.h>

#include <pthread.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <ace/Malloc_Base.h>

#include "VorlenComm.h"
#include "resource_test_support.h"

namespace {

// ShmPool lives in System V shared memory that only a namespace of the process's own removes.
class ShmPoolTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!rt::private_sysv_ipc()) {
            GTEST_SKIP() << "no private IPC namespace: the pool could not be removed after the test";
        }
    }
};

// Collects the platform log lines of one test.
class PlatLogCapture {
public:
    PlatLogCapture() : file_(std::tmpfile()), before_(CN_GetPlatLogFile()) { CN_SetPlatLogFile(file_); }
    ~PlatLogCapture() {
        CN_SetPlatLogFile(before_);
        std::fclose(file_);
    }
    std::string text() const {
        std::fflush(file_);
        std::string all;
        std::rewind(file_);
        char buf[512];
        size_t got = 0;
        while ((got = std::fread(buf, 1, sizeof buf, file_)) > 0) {
            all.append(buf, got);
        }
        return all;
    }

private:
    FILE* file_;
    FILE* before_;
};

std::string thread_id() { return std::to_string(static_cast<unsigned long>(pthread_self())); }

TEST_F(ShmPoolTest, SecondLookUpFindsTheSameBlockWith2060WhenAsked) {
    BYTE* first = nullptr;
    ASSERT_EQ(XOS_CreateShmByIndex(4101, 256, 0, &first), 0u);
    ASSERT_NE(first, nullptr);
    std::memset(first, 0xA5, 256);

    BYTE* again = nullptr;
    EXPECT_EQ(XOS_CreateShmByIndex(4101, 256, 0x200, &again), 2060u);
    EXPECT_EQ(again, first);
    BYTE* plain = nullptr;
    EXPECT_EQ(XOS_CreateShmByIndex(4101, 256, 0, &plain), 0u) << "without 0x200 a found block gives 0";
    EXPECT_EQ(plain, first);
    BYTE* other_bits = nullptr;
    EXPECT_EQ(XOS_CreateShmByIndex(4101, 8, 0x1FF | 0x200 | 0x400, &other_bits), 2060u);
    EXPECT_EQ(other_bits, first);
    EXPECT_EQ(XOS_CreateShmByIndex(4101, 8, 0x1FF, &other_bits), 0u);
    for (int i = 0; i < 256; ++i) {
        ASSERT_EQ(first[i], 0xA5) << "a look-up changed byte " << i;
    }
}

TEST_F(ShmPoolTest, DifferentIndexesGetSeparateBlocks) {
    BYTE* a = nullptr;
    BYTE* b = nullptr;
    ASSERT_EQ(XOS_CreateShmByIndex(4102, 100, 0x200, &a), 0u) << "a new block gives 0 also with 0x200";
    ASSERT_EQ(XOS_CreateShmByIndex(4103, 100, 0x200, &b), 0u);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_TRUE(a + 100 <= b || b + 100 <= a) << "the blocks overlap";
}

TEST_F(ShmPoolTest, LogLinesTellFoundAndNew) {
    PlatLogCapture log;
    BYTE* block = nullptr;
    ASSERT_EQ(XOS_CreateShmByIndex(4104, 32, 0, &block), 0u);
    ASSERT_EQ(XOS_CreateShmByIndex(4104, 32, 0x200, &block), 2060u);
    const std::string tid = thread_id();
    EXPECT_EQ(log.text(), tid + " Share memory 4104 not exist, will allocate now!\n" + tid +
                              " Share memory 4104 exist!\n");
}

TEST_F(ShmPoolTest, SizeZeroOrNoOutPointerFails) {
    PlatLogCapture log;
    BYTE* block = reinterpret_cast<BYTE*>(0x1);
    EXPECT_EQ(XOS_CreateShmByIndex(4105, 0, 0, &block), 1u);
    EXPECT_EQ(block, reinterpret_cast<BYTE*>(0x1)) << "nothing is stored on failure";
    EXPECT_EQ(log.text(), thread_id() + " Share memory 4105 not exist, will allocate now!\n");
    // The failed call bound nothing: the index is still free for a real block.
    ASSERT_EQ(XOS_CreateShmByIndex(4105, 16, 0x200, &block), 0u);
    EXPECT_EQ(XOS_CreateShmByIndex(4106, 16, 0, nullptr), 1u);
    // Found blocks ignore the size.
    BYTE* found = nullptr;
    EXPECT_EQ(XOS_CreateShmByIndex(4105, 0, 0x200, &found), 2060u);
    EXPECT_EQ(found, block);
}

TEST_F(ShmPoolTest, LargeBlocksFitUntilThePoolIsFullThenFailCleanly) {
    // Larger than ACE's default segment of 128 KiB: the one segment of the pool holds it.
    constexpr size_t kLarge = 4u << 20;
    BYTE* large = nullptr;
    ASSERT_EQ(XOS_CreateShmByIndex(4107, kLarge, 0, &large), 0u);
    std::memset(large, 0x3C, kLarge);
    // More than the whole pool: refused, nothing bound, and the pool is unharmed.
    BYTE* too_big = reinterpret_cast<BYTE*>(0x1);
    EXPECT_EQ(XOS_CreateShmByIndex(4109, XOS_SHM_POOL_BYTES, 0, &too_big), 1u);
    EXPECT_EQ(too_big, reinterpret_cast<BYTE*>(0x1));
    BYTE* small = nullptr;
    ASSERT_EQ(XOS_CreateShmByIndex(4109, 64, 0x200, &small), 0u) << "the refused index is still free";
    std::memset(small, 0x5D, 64);
    BYTE* again = nullptr;
    ASSERT_EQ(XOS_CreateShmByIndex(4107, kLarge, 0x200, &again), 2060u);
    EXPECT_EQ(again, large);
    EXPECT_EQ(again[0], 0x3C);
    EXPECT_EQ(again[kLarge - 1], 0x3C);
}

TEST_F(ShmPoolTest, AnotherProcessFindsTheBlockAtTheSameAddress) {
    const unsigned index = 4108;
    BYTE* block = nullptr;
    ASSERT_EQ(XOS_CreateShmByIndex(index, 256, 0, &block), 0u);
    std::memset(block, 0, 256);
    std::memcpy(block, "written by the first process", 29);
    char arg[64];
    std::snprintf(arg, sizeof arg, "%u:%llx", index, static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(block)));
    const rt::ProbeResult peer = rt::run_probe("shm-peer", arg);
    EXPECT_EQ(peer.exit_code, 0) << peer.output;
    EXPECT_EQ(peer.output, "");
    EXPECT_STREQ(reinterpret_cast<char*>(block + 64), "answered by the second");
}

TEST_F(ShmPoolTest, PoolIsNotMadeBeforeItsFirstUse) {
    const rt::ProbeResult probe = rt::run_probe("shm-first-use", "", true);
    if (probe.exit_code == 77) {
        GTEST_SKIP() << "a further IPC namespace was refused";
    }
    EXPECT_EQ(probe.exit_code, 0) << probe.output;
    EXPECT_EQ(probe.output, "");
}

TEST(PubShm, EachCallGivesAPrivateBlockOfTheSize) {
    BYTE* a = nullptr;
    BYTE* b = nullptr;
    ASSERT_EQ(XOS_CreatePubShmByIndex(7, 4096, 0x200, &a), 0u);
    ASSERT_EQ(XOS_CreatePubShmByIndex(7, 4096, 0x200, &b), 0u) << "the index is not looked up";
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    std::memset(a, 1, 4096);
    std::memset(b, 2, 4096);
    EXPECT_EQ(a[4095], 1);
    EXPECT_EQ(b[0], 2);
    EXPECT_EQ(XOS_CreatePubShmByIndex(7, 16, 0, nullptr), 1u);
    // Taken from the process's default allocator, which therefore takes them back.
    ACE_Allocator::instance()->free(a);
    ACE_Allocator::instance()->free(b);
}

TEST(Unmap, NothingIsUnmapped) {
    EXPECT_EQ(XOS_UnmapShmByIndex(4101), 1u);
    EXPECT_EQ(XOS_UnmapPubShmByIndex(7), 1u);
}

// The segments are keyed by the working directory: each test works in a fresh directory and
// removes the segments it made.
class UdpWatchShmTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/vorlen_udpwatch_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        char cwd[1024];
        ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
        previous_ = cwd;
        ASSERT_EQ(chdir(dir_.c_str()), 0);
    }
    void TearDown() override {
        for (void* address : attached_) {
            shmdt(address);
        }
        for (int index : indexes_) {
            const int id = shmget(ftok(dir_.c_str(), index), 0, 0);
            if (id != -1) {
                shmctl(id, IPC_RMID, nullptr);
            }
        }
        EXPECT_EQ(chdir(previous_.c_str()), 0);
        rmdir(dir_.c_str());
    }
    XOS_STATUS create(WORD32 index, size_t size, BYTE** out) {
        indexes_.push_back(static_cast<int>(index));
        const XOS_STATUS status = XOS_CreateShmByIndex_UdpWatch(index, size, 0, out);
        if (status == 0) {
            attached_.push_back(*out);
        }
        return status;
    }
    int segment_of(WORD32 index) const { return shmget(ftok(dir_.c_str(), static_cast<int>(index)), 0, 0); }

    std::string dir_;

private:
    std::string previous_;
    std::vector<int> indexes_;
    std::vector<void*> attached_;
};

TEST_F(UdpWatchShmTest, CreatesASegmentKeyedByDirectoryAndIndexWithMode0644) {
    BYTE* block = nullptr;
    ASSERT_EQ(create(3, 8192, &block), 0u);
    ASSERT_NE(block, nullptr);
    const int id = segment_of(3);
    ASSERT_NE(id, -1) << "no segment under ftok(working directory, 3)";
    struct shmid_ds info = {};
    ASSERT_EQ(shmctl(id, IPC_STAT, &info), 0);
    EXPECT_EQ(info.shm_segsz, 8192u);
    EXPECT_EQ(info.shm_perm.mode & 0777, 0644u);
    std::memset(block, 0x11, 8192);
}

TEST_F(UdpWatchShmTest, ASecondCallAttachesTheExistingSegment) {
    BYTE* first = nullptr;
    BYTE* second = nullptr;
    ASSERT_EQ(create(4, 4096, &first), 0u);
    std::memcpy(first, "same segment", 13);
    ASSERT_EQ(create(4, 4096, &second), 0u);
    EXPECT_STREQ(reinterpret_cast<char*>(second), "same segment");
    BYTE* smaller = nullptr;
    ASSERT_EQ(create(4, 100, &smaller), 0u);
    EXPECT_STREQ(reinterpret_cast<char*>(smaller), "same segment");
    BYTE* other = nullptr;
    ASSERT_EQ(create(5, 4096, &other), 0u);
    EXPECT_NE(other[0], 's') << "index 5 has a segment of its own";
}

TEST_F(UdpWatchShmTest, ExistingSegmentSmallerThanAskedForIsRefused) {
    BYTE* first = nullptr;
    ASSERT_EQ(create(6, 4096, &first), 0u);
    BYTE* bigger = reinterpret_cast<BYTE*>(0x1);
    EXPECT_EQ(create(6, 4097, &bigger), 1u) << "the caller would write past the segment";
    EXPECT_EQ(bigger, reinterpret_cast<BYTE*>(0x1));
}

TEST_F(UdpWatchShmTest, SizeZeroForANewSegmentOrNoOutPointerFails) {
    BYTE* block = nullptr;
    EXPECT_EQ(create(7, 0, &block), 1u);
    EXPECT_EQ(segment_of(7), -1);
    EXPECT_EQ(XOS_CreateShmByIndex_UdpWatch(8, 64, 0, nullptr), 1u);
}

}  // namespace
