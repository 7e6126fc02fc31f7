// The sequence lock on its own: readers never see a mixture of two writes.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "seq_lock.h"

namespace {

// Odd size and a byte tail, so both the word and the byte paths of the copy run.
struct Record {
    uint64_t words[9];
    uint8_t tail[5];
};

Record make(uint64_t n)
{
    Record r{};
    for (auto& w : r.words) {
        w = n;
    }
    for (auto& b : r.tail) {
        b = static_cast<uint8_t>(n);
    }
    return r;
}

bool consistent(const Record& r)
{
    for (auto w : r.words) {
        if (w != r.words[0]) {
            return false;
        }
    }
    for (auto b : r.tail) {
        if (b != static_cast<uint8_t>(r.words[0])) {
            return false;
        }
    }
    return true;
}

}  // namespace

TEST(engine_core_SeqLock, CheckerSeesAMixedRecord)
{
    Record r = make(4);
    r.words[7] = 5;
    EXPECT_FALSE(consistent(r));
    EXPECT_TRUE(consistent(make(9)));
}

TEST(engine_core_SeqLock, ReadersNeverSeeATornRecordWhileOneWriterPublishes)
{
    SeqLock lock;
    Record shared = make(0);
    std::atomic<bool> stop{false};
    std::atomic<uint64_t> reads{0};
    std::atomic<uint64_t> torn{0};
    std::atomic<uint64_t> went_back{0};

    std::vector<std::thread> readers;
    for (int i = 0; i < 4; ++i) {
        readers.emplace_back([&] {
            uint64_t last = 0;
            while (!stop.load(std::memory_order_relaxed)) {
                const Record r = lock.read(shared);
                if (!consistent(r)) {
                    torn.fetch_add(1);
                }
                if (r.words[0] < last) {
                    went_back.fetch_add(1);
                }
                last = r.words[0];
                reads.fetch_add(1, std::memory_order_relaxed);
            }
        });
    }
    uint64_t n = 0;
    // At least 300 ms and 1000 reads (a loaded machine gets up to 10 s for them).
    const auto start = std::chrono::steady_clock::now();
    const auto until = start + std::chrono::milliseconds(300);
    const auto limit = start + std::chrono::seconds(10);
    for (;;) {
        const auto now = std::chrono::steady_clock::now();
        if ((now >= until && reads.load() >= 1000) || now >= limit) {
            break;
        }
        lock.write(shared, make(++n));
    }
    stop.store(true);
    for (auto& t : readers) {
        t.join();
    }
    EXPECT_EQ(torn.load(), 0u);
    EXPECT_EQ(went_back.load(), 0u);
    EXPECT_GT(reads.load(), 1000u);
    EXPECT_GT(n, 1000u);
    EXPECT_EQ(lock.sequence(), 2 * n);  // even: idle
    EXPECT_EQ(lock.read(shared).words[0], n);
}

TEST(engine_core_SeqLock, CopiesStartIdleAndKeepTheirOwnCounter)
{
    SeqLock a;
    Record r = make(1);
    a.write(r, make(2));
    SeqLock b(a);
    EXPECT_EQ(a.sequence(), 2u);
    EXPECT_EQ(b.sequence(), 0u);
    b = a;
    EXPECT_EQ(b.sequence(), 0u);
}
