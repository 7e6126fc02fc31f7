// Selectors composing on their own threads while another thread rebuilds g_distance and
// moves the clock-sync slots between two states.
#include <atomic>
#include <cmath>
#include <thread>

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
