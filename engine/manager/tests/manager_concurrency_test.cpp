// The three managers count reports of one anchor at once, as the frame router hands them
// out in turn: every report counted, no tag listed twice, every report forwarded once.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <set>
#include <thread>

#include "manager_router.h"
#include "manager_test_support.h"
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
