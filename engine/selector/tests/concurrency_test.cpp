// Selectors composing on their own threads while another thread rebuilds g_distance and
// moves the clock-sync slots between two states.
#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

#include "selector_fixture.h"

using namespace selector_test;

TEST(SelectorConcurrency, ComposingWhileSlotsAndDistancesChange)
{
    constexpr double C = 299702547.0;
    reset_context();
    const double xy[5][2] = {{0, 0}, {20, 0}, {0, 10}, {20, 10}, {10, 5}};
    for (WORD16 i = 0; i < 5; ++i) {
        set_anchor(i, 0xE000 + i, xy[i][0], xy[i][1], 0);
    }
    const WORD64 now = 1'000'000;
    // State A: slave i runs i ms ahead; state B: 1 ns more. Arrivals are fixed, so each
    // converted difference is either its state-A value or 1 ns (0.3 m) less.
    auto publish = [&](bool b) {
        for (WORD16 i = 1; i <= 4; ++i) {
            set_sync(i, 0, 0, now, 1e-3 * i + (b ? 1e-9 : 0.0));
        }
    };
    publish(false);
    ASSERT_EQ(Selector::ComputeGlobalDistanceMatrix(0), 0);
    double toa[5];
    double expect_a[5];
    for (WORD16 i = 0; i < 5; ++i) {
        const double d = anchor_distance(i, 7, 9);
        toa[i] = 3.0 + d / C + 1e-3 * i;
        expect_a[i] = (d - anchor_distance(0, 7, 9)) / C;
    }

    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int n = 0; !stop.load(); ++n) {
            publish(n % 2 == 1);
            Selector::ComputeGlobalDistanceMatrix(0);
        }
    });
    std::atomic<int> bad{0};
    std::atomic<int> rounds{0};
    std::vector<std::thread> composers;
    for (int t = 0; t < 3; ++t) {
        composers.emplace_back([&] {
            Harness h;
            h.now = now;
            for (int n = 0; n < 400; ++n) {
                Tag* tag = h.sel.find_tag(0x77);
                tag->blinkReports.nBlinks = 0;
                for (WORD16 i = 0; i < 5; ++i) {
                    h.sel.process_toa_report(&zub_context()->anchors[i], 1, 0x77, toa[i]);
                }
                if (h.sel.calculate_tdoa(tag) != 1 || h.sel.syncbl.nBlinks != 5) {
                    ++bad;
                    continue;
                }
                for (unsigned r = 0; r < 5; ++r) {
                    const double got = h.sel.tdoa(r);
                    const double a = expect_a[h.sel.syncbl.blinks[r].id];
                    const bool slave = h.sel.syncbl.blinks[r].id != 0;
                    if (!(std::fabs(got - a) < 1e-12 || (slave && std::fabs(got - (a - 1e-9)) < 1e-12))) {
                        ++bad;
                    }
                }
                ++rounds;
            }
        });
    }
    for (std::thread& t : composers) {
        t.join();
    }
    stop = true;
    writer.join();
    EXPECT_EQ(bad.load(), 0);
    EXPECT_EQ(rounds.load(), 3 * 400);
}

// Eighteen selectors on their own threads take new tags from one budget: together they hold
// exactly its limit, every other new tag is refused and counted, and nothing is held twice.
TEST(SelectorConcurrency, EighteenSelectorsShareOneTagBudget)
{
    reset_context();
    set_anchor(1, 0xE001, 0, 0, 0);
    constexpr unsigned kLimit = 500;
    constexpr WORD64 kTagsEach = 100;
    TagBudget budget(kLimit, 60000);
    std::atomic<WORD64> held_by_trees{0};
    std::atomic<unsigned> done{0};
    std::vector<std::thread> selectors;
    for (unsigned s = 0; s < TagBudget::kHolders; ++s) {
        selectors.emplace_back([&, s] {
            Harness h(&budget, s);
            for (WORD64 k = 0; k < kTagsEach; ++k) {
                const std::vector<BYTE> m = toa_msg(0x32, 1, 1, k * 18 + s, 1000, 800 << 6);
                h.sel.recv_toa_report(m.data(), static_cast<WORD32>(m.size()));
            }
            held_by_trees += h.sel.tags.count;
            ++done;
            // kept until every selector is done, so no record is given back early
            while (done.load() < TagBudget::kHolders) {
                std::this_thread::yield();
            }
        });
    }
    for (std::thread& t : selectors) {
        t.join();
    }
    EXPECT_EQ(held_by_trees.load(), kLimit);
    EXPECT_EQ(budget.refused(), TagBudget::kHolders * kTagsEach - kLimit);
    EXPECT_EQ(budget.held(), 0u);  // every selector gave its records back
}
