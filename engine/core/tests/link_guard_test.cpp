// An anchor's link: one opener, several closers at once, exactly one of them gets it.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "zub_public.h"

TEST(engine_core_LinkGuard, RecordThenTakeStampsBothTimesAndTakeOfNoLinkIsFalse)
{
    Anchor& a = zub_context()->anchors[60];
    a.init(0x60, 60);
    EXPECT_FALSE(a.link_state().ever_connected);
    EXPECT_FALSE(a.link_take(nullptr, nullptr));
    auto* ev = reinterpret_cast<struct event*>(0x1000);
    ASSERT_TRUE(a.link_record(17, ev));
    EXPECT_FALSE(a.link_record(18, nullptr));  // one link at a time
    EXPECT_EQ(a.link_socket(), 17u);
    AnchorLinkState s = a.link_state();
    EXPECT_TRUE(s.ever_connected);
    EXPECT_EQ(s.sock, 17u);
    EXPECT_NE(s.timeConnected.tv_sec, 0);

    WORD32 sock = 0;
    struct event* taken = nullptr;
    ASSERT_TRUE(a.link_take(&sock, &taken));
    EXPECT_EQ(sock, 17u);
    EXPECT_EQ(taken, ev);
    EXPECT_EQ(a.link_socket(), 0u);
    EXPECT_EQ(a.tcp_sock.ev, nullptr);
    EXPECT_NE(a.link_state().timeDisconnected.tv_sec, 0);
    EXPECT_FALSE(a.link_take(&sock, &taken));
}

TEST(engine_core_LinkGuard, EventJoinsTheRecordedLinkOnlyWhileItIsStillOpen)
{
    Anchor& a = zub_context()->anchors[62];
    a.init(0x62, 62);
    auto* ev = reinterpret_cast<struct event*>(0x2000);
    ASSERT_TRUE(a.link_record(21, nullptr));
    EXPECT_FALSE(a.link_set_event(22, ev));  // not this link
    EXPECT_TRUE(a.link_set_event(21, ev));
    EXPECT_FALSE(a.link_set_event(21, ev));  // it has one already
    struct event* taken = nullptr;
    ASSERT_TRUE(a.link_take(nullptr, &taken));
    EXPECT_EQ(taken, ev);
    // Closed between record and attach: the opener keeps its event and detaches it.
    ASSERT_TRUE(a.link_record(23, nullptr));
    ASSERT_TRUE(a.link_take(nullptr, &taken));
    EXPECT_EQ(taken, nullptr);
    EXPECT_FALSE(a.link_set_event(23, ev));
    EXPECT_EQ(a.link_socket(), 0u);
}

TEST(engine_core_LinkGuard, ConcurrentClosersTakeTheLinkExactlyOnce)
{
    Anchor& a = zub_context()->anchors[61];
    a.init(0x61, 61);
    constexpr int kClosers = 3;  // socket, reconnection and control jobs
    constexpr int kRounds = 3000;
    std::atomic<int> round{-1};
    std::atomic<int> arrived{0};
    std::vector<int> wins(kRounds, 0);
    std::vector<std::thread> closers;
    for (int c = 0; c < kClosers; ++c) {
        closers.emplace_back([&] {
            for (int r = 0; r < kRounds; ++r) {
                while (round.load() < r) {
                    std::this_thread::yield();  // the round's opener may need this core
                }
                WORD32 sock = 0;
                if (a.link_take(&sock, nullptr)) {
                    EXPECT_EQ(sock, static_cast<WORD32>(r + 100));
                    ++wins[r];  // only the winner writes this round's entry
                }
                arrived.fetch_add(1);
            }
        });
    }
    for (int r = 0; r < kRounds; ++r) {
        ASSERT_TRUE(a.link_record(static_cast<WORD32>(r + 100), nullptr));
        arrived.store(0);
        round.store(r);
        while (arrived.load() < kClosers) {
            std::this_thread::yield();
        }
    }
    for (auto& t : closers) {
        t.join();
    }
    for (int r = 0; r < kRounds; ++r) {
        ASSERT_EQ(wins[r], 1) << "round " << r;
    }
}
