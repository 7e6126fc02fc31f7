// The three managers count reports of one anchor at once, as the frame router hands them
// out in turn: every report counted, no tag listed twice, every report forwarded once; and the
// road's drop counter is shared by the jobs that drop.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <map>
#include <mutex>
#include <numeric>
#include <set>
#include <thread>
#include <vector>

#include "manager_router.h"
#include "manager_test_support.h"
#include "zub_road_shed.h"
#include "zub_msg_id.h"
#include "zub_public.h"

TEST(engine_manager_Concurrency, ThreeManagersCountOneAnchorsReports)
{
    constexpr WORD16 kAnc = 21;
    constexpr int kManagers = 3;
    constexpr WORD64 kTags = 600;
    constexpr int kRounds = 30;  // reports of each tag, dealt to the managers in turn
    constexpr WORD64 kBase = 0x07FFFFFFFFFFFFF2ull;  // 18 x 0x71C71C71C71C71C7: tag kBase + t goes to selector t % 18
    Anchor& a = zub_context()->anchors[kAnc];
    a.init(0x0822614400000021ull, kAnc);

    // Report r of the whole stream goes to manager r % 3, as the router's counter deals them.
    std::vector<std::vector<std::vector<BYTE>>> queues(kManagers);
    int r = 0;
    for (int round = 0; round < kRounds; ++round) {
        for (WORD64 t = 0; t < kTags; ++t, ++r) {
            queues[static_cast<size_t>(r % kManagers)].push_back(
                mt::arrival_msg(kAnc, static_cast<BYTE>(round), kBase + t, 22));
        }
    }
    mt::RecordingOutput out;
    std::atomic<int> ready{0};
    std::vector<std::thread> managers;
    for (int m = 0; m < kManagers; ++m) {
        managers.emplace_back([&, m] {
            ManagerRouter router(out);
            ready.fetch_add(1);
            while (ready.load() < kManagers) {
            }
            for (const auto& msg : queues[static_cast<size_t>(m)]) {
                router.handle(1, ZUB_EV_SOCKET_XX_ANCHOR_MSG, msg.data(), static_cast<WORD16>(msg.size()));
            }
        });
    }
    for (auto& t : managers) {
        t.join();
    }

    ASSERT_EQ(a.blink_table_size(), kTags);
    std::set<WORD64> listed;
    for (unsigned i = 0; i < kTags; ++i) {
        const tag_blink_info_t e = a.blink_entry(i);
        EXPECT_TRUE(listed.insert(e.tag_id).second) << "tag listed twice: " << std::hex << e.tag_id;
        EXPECT_EQ(e.blink_cnt, static_cast<WORD64>(kRounds - 1)) << std::hex << e.tag_id;
    }
    std::map<unsigned, size_t> per_selector;
    for (const auto& s : out.selector_sends()) {
        ++per_selector[s.index];
    }
    EXPECT_EQ(out.raw_blinks().size(), kTags * kRounds);
    // 600 consecutive tag ids: 33 or 34 tags per selector (600 = 18 * 33 + 6).
    for (unsigned sel = 0; sel < 18; ++sel) {
        const size_t tags_here = sel < 600 % 18 ? 34 : 33;
        EXPECT_EQ(per_selector[sel], tags_here * kRounds) << sel;
    }
}

// The socket job, three managers and the clock-sync job drop and count at once: every drop is
// counted, the lines come at most one a second of the drops' clock, and each line's counts since
// the one before add up to its totals.
TEST(engine_manager_Concurrency, DropsCountedFromFiveThreads)
{
    constexpr int kThreads = 5;
    constexpr WORD64 kDropsEach = 40000;  // one a millisecond of the clock below
    RoadShedCounter counter;
    std::mutex lines_lock;
    std::vector<RoadShedLine> lines;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            const auto kind = static_cast<RoadLoad>(t % kRoadLoadKinds);
            for (WORD64 ms = 0; ms < kDropsEach; ++ms) {
                RoadShedLine line;
                if (counter.count(kind, ms, &line)) {
                    std::lock_guard<std::mutex> guard(lines_lock);
                    lines.push_back(line);
                }
            }
        });
    }
    for (auto& th : threads) {
        th.join();
    }
    // Threads 0 and 4 drop tag reports, 1 clock reports, 2 display records, 3 anchor replies.
    EXPECT_EQ(counter.total(RoadLoad::tag_report), 2 * kDropsEach);
    EXPECT_EQ(counter.total(RoadLoad::calibration_report), kDropsEach);
    EXPECT_EQ(counter.total(RoadLoad::display_copy), kDropsEach);
    EXPECT_EQ(counter.total(RoadLoad::anchor_reply), kDropsEach);
    ASSERT_FALSE(lines.empty());
    EXPECT_LE(lines.size(), kDropsEach / RoadShedCounter::kLinePeriodMs + 1);
    // The threads record their lines after the counter has let go of them, so the vector may hold
    // them out of turn. In turn, the totals never fall, and of lines with equal totals only the
    // first can carry counts since the one before.
    const auto sum_of = [](const std::array<WORD64, kRoadLoadKinds>& a) {
        return std::accumulate(a.begin(), a.end(), WORD64{0});
    };
    std::sort(lines.begin(), lines.end(), [&](const RoadShedLine& a, const RoadShedLine& b) {
        const WORD64 ta = sum_of(a.total), tb = sum_of(b.total);
        return ta != tb ? ta < tb : sum_of(a.since_last) > sum_of(b.since_last);
    });
    std::array<WORD64, kRoadLoadKinds> sum{};
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_TRUE(i == 0 || lines[i].ms_since_last >= RoadShedCounter::kLinePeriodMs) << i;
        for (unsigned k = 0; k < kRoadLoadKinds; ++k) {
            sum[k] += lines[i].since_last[k];
            EXPECT_EQ(sum[k], lines[i].total[k]) << "line " << i << " kind " << k;
        }
    }
}
