// Selectors reading the pairs while the clock-sync job updates them and the control thread
// resets them: every slot copy a reader takes is one state that a writer published whole.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>
#include <unordered_set>
#include <vector>

#include "clocksync_test_support.h"
#include "zub_device_time.h"

namespace {

constexpr unsigned kReaders = 18;
constexpr unsigned kSlaves = 6;
constexpr unsigned kMasters = 2;
constexpr unsigned kRounds = 400;
constexpr unsigned kResetEvery = 40;  // rounds
constexpr std::size_t kKeepPerReader = 200000;

class Fingerprint {
public:
    template <class T>
    void add(const T& v)
    {
        unsigned char b[sizeof(T)];
        std::memcpy(b, &v, sizeof b);
        for (unsigned char c : b) {
            h_ = (h_ ^ c) * 1099511628211ull;
        }
    }
    uint64_t value() const { return h_; }

private:
    uint64_t h_ = 1469598103934665603ull;
};

// Every field a reader may use, with the slot it was read from (padding left out).
uint64_t fingerprint(unsigned slave, unsigned slot, const ClockSync& s)
{
    Fingerprint f;
    f.add(slave);
    f.add(slot);
    f.add(s.valid_sync);
    f.add(s.master);
    f.add(s.syncAnchorsTOF);
    const CS_Kalman& k = s.cs_kalman;
    f.add(k.id);
    f.add(k.measNoiseVar);
    f.add(k.processNoiseVar);
    f.add(k.prevTxTime);
    f.add(k.prevRxTime);
    f.add(k.counter);
    f.add(k.outlier_counter);
    f.add(k.init);
    f.add(k.x0);
    f.add(k.x1);
    f.add(k.p0);
    f.add(k.p1);
    f.add(k.p2);
    f.add(k.p3);
    f.add(k.dt);
    f.add(k.measuredError);
    f.add(k.outlier);
    f.add(s.seqNum);
    f.add(s.missedCS);
    f.add(s.totalRxCS);
    f.add(s.last_update_time);
    f.add(s.hist_data.cnt);
    f.add(s.hist_data.idx);
    f.add(s.hist_data.time);
    f.add(s.timedif.history_time_difference);
    f.add(s.timedif.history_time_idx);
    f.add(s.timedif.history_time_count);
    f.add(s.timedif.average_timedif);
    f.add(s.timedif.variance);
    return f.value();
}

}  // namespace

TEST(engine_clocksync_Concurrency, ReadersOnlySeeWholePublishedSlotsWhileTheJobUpdatesAndTheControlResets)
{
    cst::FakePorts fake;
    ClockSyncJob job(fake.ports());
    std::vector<Anchor*> masters;
    std::vector<Anchor*> slaves;
    for (unsigned m = 0; m < kMasters; ++m) {
        masters.push_back(cst::prepare_anchor(static_cast<WORD16>(300 + m), 0xD300 + m, 10.0 * m, 0.0, 3.0));
    }
    for (unsigned s = 0; s < kSlaves; ++s) {
        slaves.push_back(cst::prepare_anchor(static_cast<WORD16>(310 + s), 0xD310 + s, 0.0, 7.0 * s, 3.0));
        for (Anchor* m : masters) {
            cst::follow(slaves.back(), m);
        }
    }

    // The writers (job and control) record what they publish; the record is theirs alone.
    std::mutex writers;
    std::unordered_set<uint64_t> published;
    auto record = [&](unsigned s, unsigned slots) {
        for (unsigned k = 0; k < slots; ++k) {
            published.insert(fingerprint(s, k, slaves[s]->csMaster[k]));
        }
    };
    auto feed = [&](WORD16 id, const std::vector<BYTE>& payload, int touched) {
        const std::vector<BYTE> body = cst::frame_body(id, payload);
        std::lock_guard<std::mutex> lock(writers);
        fake.now += 1;
        job.ccp_rcv(cst::as_sock_data(body));
        for (unsigned s = 0; s < kSlaves; ++s) {
            if (touched < 0 || static_cast<unsigned>(touched) == s) {
                record(s, kMasters);
            }
        }
    };
    auto round = [&](unsigned i) {
        const BYTE seq = static_cast<BYTE>(i);
        for (unsigned m = 0; m < kMasters; ++m) {
            // Every third round the receptions come first and wait for their transmit report.
            const WORD64 tx = (static_cast<WORD64>(i) * 6400000 + m * 1000) & ZUB_DEVICE_TIME_MASK;
            const bool late = i % 3 == 0;
            if (!late) {
                feed(masters[m]->id, cst::tx_payload(seq, tx), -1);
            }
            for (unsigned s = 0; s < kSlaves; ++s) {
                const WORD64 rx = (tx + 5000000 + 300 * s + (i * 7 % 13)) & ZUB_DEVICE_TIME_MASK;
                feed(slaves[s]->id, cst::rx_payload(seq, masters[m]->hardware_id, rx, 800), static_cast<int>(s));
            }
            if (late) {
                feed(masters[m]->id, cst::tx_payload(seq, tx), -1);
            }
        }
    };
    for (unsigned i = 0; i < 3; ++i) {
        round(i);  // the pairs exist before the readers start
    }

    std::atomic<unsigned> ready{0};
    std::atomic<bool> done{false};
    std::atomic<unsigned> progress{0};
    std::vector<std::vector<uint64_t>> seen(kReaders);
    std::vector<uint64_t> taken(kReaders, 0);
    std::vector<std::thread> readers;
    for (unsigned r = 0; r < kReaders; ++r) {
        readers.emplace_back([&, r] {
            double sum = 0.0;  // what a selector composes: time differences over the pairs
            bool first = true;
            while (first || !done.load(std::memory_order_acquire)) {
                for (unsigned s = 0; s < kSlaves; ++s) {
                    const WORD16 n = slaves[s]->cs_count();
                    for (unsigned k = 0; k < n; ++k) {
                        const ClockSync copy = slaves[s]->cs_snapshot(k);
                        if (seen[r].size() < kKeepPerReader) {
                            seen[r].push_back(fingerprint(s, k, copy));
                        }
                        ++taken[r];
                        if (copy.master != nullptr) {
                            sum += copy.cs_kalman.syncTOA(1.0) - copy.cs_kalman.syncTOA(2.0);
                        }
                    }
                }
                if (first) {
                    first = false;
                    ready.fetch_add(1);
                }
                std::this_thread::yield();  // 18 readers on fewer cores: let the job run too
            }
            volatile double keep = sum;
            (void)keep;
        });
    }
    while (ready.load() < kReaders) {
        std::this_thread::yield();
    }
    std::thread control([&] {
        for (unsigned next = kResetEvery; next < kRounds; next += kResetEvery) {
            while (progress.load() < next) {
                std::this_thread::yield();
            }
            std::lock_guard<std::mutex> lock(writers);
            for (unsigned s = 0; s < kSlaves; s += 2) {
                slaves[s]->ResetCCP();  // "rtls start": the next report creates the pair again
                record(s, kMasters);
            }
        }
    });
    for (unsigned i = 3; i < kRounds; ++i) {
        round(i);
        progress.store(i);
    }
    control.join();
    for (unsigned i = kRounds; i < kRounds + 3; ++i) {
        round(i);  // after the last reset: the pairs come back and are fed again
    }
    done.store(true, std::memory_order_release);
    for (auto& t : readers) {
        t.join();
    }

    std::size_t unknown = 0;
    std::size_t total = 0;
    for (unsigned r = 0; r < kReaders; ++r) {
        EXPECT_GT(taken[r], 0u) << "reader " << r;
        total += taken[r];
        for (uint64_t f : seen[r]) {
            unknown += published.count(f) == 0 ? 1 : 0;
        }
    }
    EXPECT_EQ(unknown, 0u) << "of " << total << " copies";
    // The job really worked through resets: the reset slaves have their pairs back and fed.
    for (unsigned s = 0; s < kSlaves; ++s) {
        EXPECT_EQ(slaves[s]->cs_count(), kMasters) << s;
        EXPECT_TRUE(slaves[s]->cs_snapshot(0).cs_kalman.init) << s;
    }
}
