// Report client lists changed by the socket job and sent to by the display job.
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>
#include <vector>

#include "zub_public.h"

TEST(engine_core_ClientList, ThirtyTwoSlotsThenFullAndFreedSlotsAreReused)
{
    reactor_info_t& info = zub_context()->reactor_info;
    for (int s = 1; s <= 32; ++s) {
        ASSERT_TRUE(zub_clients_save(info, info.tag_loc_client, s, nullptr));
    }
    EXPECT_FALSE(zub_clients_save(info, info.tag_loc_client, 33, nullptr));
    EXPECT_FALSE(zub_clients_save(info, info.tag_loc_client, 0, nullptr));
    sock_info_t taken{};
    ASSERT_TRUE(zub_clients_take(info, info.tag_loc_client, 7, &taken));
    EXPECT_EQ(taken.sock, 7);
    EXPECT_EQ(taken.flag, 1);
    EXPECT_FALSE(zub_clients_take(info, info.tag_loc_client, 7, &taken));
    EXPECT_EQ(info.tag_loc_client[6].flag, 0);
    EXPECT_EQ(info.tag_loc_client[6].sock, 0);
    EXPECT_TRUE(zub_clients_save(info, info.tag_loc_client, 40, nullptr));
    EXPECT_EQ(info.tag_loc_client[6].sock, 40);
    std::vector<int> sent;
    zub_clients_for_each(info, info.tag_loc_client, [&](int sock) { sent.push_back(sock); });
    EXPECT_EQ(sent.size(), 32u);
    EXPECT_EQ(sent[6], 40);
}

// Accepts and removals on two threads while a third sends to the list: every send goes
// to a listed client, each removal succeeds exactly once, and no slot is lost.
TEST(engine_core_ClientList, ConcurrentSaveTakeAndSendKeepTheListWhole)
{
    reactor_info_t& info = zub_context()->reactor_info;
    constexpr int kRounds = 3000;
    std::atomic<bool> stop{false};
    std::atomic<int> bad_send{0};
    std::thread display([&] {
        while (!stop.load()) {
            zub_clients_for_each(info, info.dsply_client, [&](int sock) {
                if (sock < 1000 || sock >= 1000 + 2 * kRounds) {
                    bad_send.fetch_add(1);
                }
            });
        }
    });
    std::atomic<int> removed{0};
    std::vector<std::thread> jobs;
    for (int j = 0; j < 2; ++j) {
        jobs.emplace_back([&, j] {
            for (int r = 0; r < kRounds; ++r) {
                const int sock = 1000 + 2 * r + j;
                while (!zub_clients_save(info, info.dsply_client, sock, nullptr)) {
                }
                sock_info_t taken{};
                if (zub_clients_take(info, info.dsply_client, sock, &taken) && taken.sock == sock) {
                    removed.fetch_add(1);
                }
                EXPECT_FALSE(zub_clients_take(info, info.dsply_client, sock, &taken));
            }
        });
    }
    for (auto& t : jobs) {
        t.join();
    }
    stop.store(true);
    display.join();
    EXPECT_EQ(removed.load(), 2 * kRounds);
    EXPECT_EQ(bad_send.load(), 0);
    for (const sock_info_t& s : info.dsply_client) {
        EXPECT_EQ(s.flag, 0);
    }
}
