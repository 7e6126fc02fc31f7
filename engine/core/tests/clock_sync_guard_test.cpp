// Clock-sync slots shared between the clock-sync job (writer) and the selectors (readers):
// every reader copy is one whole update, also while ResetCCP runs on another thread.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "zub_public.h"

namespace {

// A slot whose every field is derived from one update number.
void stamp(ClockSync& s, Anchor* master, uint64_t n)
{
    const double v = static_cast<double>(n);
    s.master = master;
    s.syncAnchorsTOF = v;
    s.cs_kalman.x0 = v;
    s.cs_kalman.x1 = 1.0 + v;
    s.cs_kalman.prevRxTime = v;
    s.cs_kalman.prevTxTime = v;
    s.cs_kalman.counter = static_cast<int>(n);
    s.seqNum = static_cast<BYTE>(n);
    s.missedCS = static_cast<int>(n);
    s.last_update_time = n;
    for (double& d : s.timedif.history_time_difference) {
        d = v;
    }
}

bool consistent(const ClockSync& s)
{
    const uint64_t n = s.last_update_time;
    const double v = static_cast<double>(n);
    bool ok = s.syncAnchorsTOF == v && s.cs_kalman.x0 == v && s.cs_kalman.x1 == 1.0 + v &&
              s.cs_kalman.prevRxTime == v && s.cs_kalman.prevTxTime == v &&
              s.cs_kalman.counter == static_cast<int>(n) && s.seqNum == static_cast<BYTE>(n) &&
              s.missedCS == static_cast<int>(n);
    for (double d : s.timedif.history_time_difference) {
        ok = ok && d == v;
    }
    return ok;
}

}  // namespace

TEST(engine_core_ClockSyncGuard, CheckerSeesAMixedSlot)
{
    ClockSync s;
    stamp(s, nullptr, 7);
    EXPECT_TRUE(consistent(s));
    s.cs_kalman.prevTxTime = 8;  // half of the next update
    EXPECT_FALSE(consistent(s));
}

TEST(engine_core_ClockSyncGuard, SelectorsNeverSeeATornSlotWhileTheClockSyncJobUpdates)
{
    Anchor& master = zub_context()->anchors[100];
    master.init(0x100, 100);
    Anchor& slave = zub_context()->anchors[101];
    slave.init(0x101, 101);
    {
        std::lock_guard<std::mutex> lock(zub_ccp_lock());
        ClockSync s = slave.csMaster[0];
        stamp(s, &master, 0);
        slave.cs_publish(0, s);
        slave.cs_set_count(1);
    }

    std::atomic<bool> stop{false};
    std::atomic<uint64_t> torn{0};
    std::atomic<uint64_t> uses{0};
    std::vector<std::thread> selectors;
    for (int i = 0; i < 6; ++i) {
        selectors.emplace_back([&] {
            while (!stop.load(std::memory_order_relaxed)) {
                const WORD16 n = slave.cs_count();
                for (unsigned k = 0; k < n; ++k) {
                    const ClockSync copy = slave.cs_snapshot(k);
                    if (!consistent(copy)) {
                        torn.fetch_add(1);
                    }
                    // What a selector does with its copy: map a time into the master's base.
                    volatile double t = copy.cs_kalman.syncTOA(1.0);
                    (void)t;
                    uses.fetch_add(1, std::memory_order_relaxed);
                }
            }
        });
    }
    // The clock-sync job: every update edits a copy of the live slot and publishes it.
    std::thread clocksync([&] {
        const auto start = std::chrono::steady_clock::now();
        const auto until = start + std::chrono::milliseconds(300);
        const auto limit = start + std::chrono::seconds(10);
        for (uint64_t n = 1;; ++n) {
            const auto now = std::chrono::steady_clock::now();
            if ((now >= until && uses.load() >= 1000) || now >= limit) {
                break;
            }
            std::lock_guard<std::mutex> lock(zub_ccp_lock());
            ClockSync* pair = slave.GetCCPSynchronizer(0x100);
            if (pair == nullptr) {
                continue;  // reset meanwhile; the next report would create the pair again
            }
            slave.cs_edit(pair, [&](ClockSync& s) { stamp(s, &master, n); });
        }
    });
    // The control job resets the pairs now and then ("rtls start") and the pair comes back.
    std::thread control([&] {
        for (int i = 0; i < 30; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            slave.ResetCCP();
            std::lock_guard<std::mutex> lock(zub_ccp_lock());
            ClockSync s = slave.csMaster[0];
            s.master = &master;
            slave.cs_publish(0, s);
            slave.cs_set_count(1);
        }
    });
    clocksync.join();
    control.join();
    stop.store(true);
    for (auto& t : selectors) {
        t.join();
    }
    EXPECT_EQ(torn.load(), 0u);
    EXPECT_GT(uses.load(), 1000u);
}

TEST(engine_core_ClockSyncGuard, CountIsPublishedAfterTheSlot)
{
    Anchor& master = zub_context()->anchors[200];
    master.init(0x200, 200);
    // Each round fills a fresh slave's 16 pairs in creation order (the slot first, then
    // the count) while a reader follows it: a counted slot always has its master.
    constexpr unsigned kRounds = 300;
    for (unsigned r = 0; r < kRounds; ++r) {
        zub_context()->anchors[1000 + r].init(0x1000 + r, static_cast<WORD16>(1000 + r));
    }
    std::atomic<Anchor*> current{&zub_context()->anchors[1000]};
    std::atomic<bool> stop{false};
    std::atomic<uint64_t> empty_seen{0};
    std::thread reader([&] {
        while (!stop.load()) {
            const Anchor* slave = current.load();
            const WORD16 n = slave->cs_count();
            for (unsigned k = 0; k < n; ++k) {
                if (slave->cs_snapshot(k).master == nullptr) {
                    empty_seen.fetch_add(1);
                }
            }
        }
    });
    for (unsigned r = 0; r < kRounds; ++r) {
        Anchor& slave = zub_context()->anchors[1000 + r];
        current.store(&slave);
        for (unsigned k = 0; k < ZUB_MAX_MASTERS; ++k) {
            std::lock_guard<std::mutex> lock(zub_ccp_lock());
            ClockSync s = slave.csMaster[k];
            s.master = &master;
            slave.cs_publish(k, s);
            slave.cs_set_count(static_cast<WORD16>(k + 1));
        }
    }
    stop.store(true);
    reader.join();
    EXPECT_EQ(empty_seen.load(), 0u);
    EXPECT_EQ(zub_context()->anchors[1000 + kRounds - 1].cs_count(), ZUB_MAX_MASTERS);
}

TEST(engine_core_ConfigGuard, ReadersTakeOneConsistentConfiguration)
{
    Anchor& a = zub_context()->anchors[300];
    a.init(0x300, 300);
    a.lag_delay = 0;  // every field from update 0 before the readers start
    std::atomic<bool> stop{false};
    std::atomic<uint64_t> torn{0};
    std::atomic<uint64_t> reads{0};
    std::vector<std::thread> readers;
    for (int i = 0; i < 4; ++i) {
        readers.emplace_back([&] {
            while (!stop.load(std::memory_order_relaxed)) {
                const AnchorConfig c = a.config_snapshot();
                const double v = c.position[0];
                const bool ok = c.position[1] == v && c.position[2] == v && c.idx == static_cast<int>(v) &&
                                c.master == static_cast<int>(v) % 2 && c.lag_delay == static_cast<int>(v) &&
                                c.id_to_follow == static_cast<WORD64>(v) &&
                                c.mode == static_cast<BYTE>(static_cast<int>(v) % 3);
                if (!ok) {
                    torn.fetch_add(1);
                }
                reads.fetch_add(1, std::memory_order_relaxed);
            }
        });
    }
    // The control job rewriting positions and roles ("anchor cfg").
    const auto start = std::chrono::steady_clock::now();
    const auto until = start + std::chrono::milliseconds(200);
    const auto limit = start + std::chrono::seconds(10);
    for (int n = 0;; ++n) {
        const auto now = std::chrono::steady_clock::now();
        if ((now >= until && reads.load() >= 1000) || now >= limit) {
            break;
        }
        std::lock_guard<GuardMutex> lock(a.cfg_lock);
        AnchorConfig c = a.config_snapshot();
        c.position[0] = c.position[1] = c.position[2] = n;
        c.idx = n;
        c.master = n % 2;
        c.lag_delay = n;
        c.id_to_follow = static_cast<WORD64>(n);
        c.mode = static_cast<BYTE>(n % 3);
        a.config_publish(c);
    }
    stop.store(true);
    for (auto& t : readers) {
        t.join();
    }
    EXPECT_EQ(torn.load(), 0u);
    EXPECT_GT(reads.load(), 1000u);
    // The writer's fields are the record's fields.
    EXPECT_EQ(a.position(1), a.config_snapshot().position[1]);
    EXPECT_EQ(a.idx, a.config_snapshot().idx);
}
