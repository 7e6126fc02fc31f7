// Clients of all eight report lists connecting and leaving at random while another thread walks
// the lists under their guard and sends to every listed client, and the controller reconnecting
// in the middle of lines. Bounded in count; ends by itself.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <random>
#include <set>
#include <string>
#include <thread>

#include "socket_rig.h"
#include "zub_context.h"

using namespace std::chrono_literals;

namespace {

TEST(engine_socket_Stress, ClientsComeAndGoWhileListsAreWalkedAndTheControllerReconnects)
{
    ct::Recorder::instance().clear();
    srig::take_ctrl_lines();
    const auto ports = srig::free_ports();
    srig::configure_ports(ports);
    srig::Servers servers;
    ASSERT_TRUE(servers.create());
    ASSERT_TRUE(servers.run());
    const int fds_before = ct::open_fd_count();

    std::atomic<bool> done{false};
    std::atomic<long> sends{0};
    std::thread walker([&] {
        reactor_info_t& info = zub_context()->reactor_info;
        const BYTE report[] = {0xA8, 0x01, 0x00, 0x55, 0xA8};
        while (!done.load()) {
            for (WORD32 t = 1; t < ZUB_SOCKET_TYPE_COUNT; ++t) {
                zub_clients_for_each(info, zub_client_list(info, t), [&](int sock) {
                    (void)!send(sock, report, sizeof report, MSG_DONTWAIT | MSG_NOSIGNAL);
                    ++sends;
                });
            }
        }
    });

    std::vector<std::thread> churners;
    for (unsigned w = 0; w < 4; ++w) {
        churners.emplace_back([&, w] {
            std::mt19937 rng(1000 + w);
            std::vector<int> mine;
            for (int step = 0; step < 300; ++step) {
                if (mine.size() < 6 && (mine.empty() || rng() % 2 == 0)) {
                    const BYTE t = static_cast<BYTE>(1 + rng() % 8);
                    const int fd = srig::connect_to(ports[t]);
                    if (fd >= 0) {
                        if (rng() % 3 == 0) {
                            (void)!send(fd, "xyz", 3, MSG_NOSIGNAL);
                        }
                        mine.push_back(fd);
                    }
                } else {
                    const size_t i = rng() % mine.size();
                    close(mine[i]);
                    mine.erase(mine.begin() + static_cast<long>(i));
                }
            }
            for (int fd : mine) {
                close(fd);
            }
        });
    }

    // The controller: each connection sends whole lines and leaves in the middle of one.
    std::set<std::string> sent;
    for (int k = 0; k < 40; ++k) {
        int c = -1;
        ASSERT_TRUE(srig::wait_until(
            [&] {
                c = srig::connect_to(ports[0]);
                if (c >= 0 && !srig::peer_closed(c, 5ms)) {
                    return true;
                }
                if (c >= 0) {
                    close(c);
                }
                return false;
            },
            5s));
        std::string text;
        for (int i = 0; i < 5; ++i) {
            const std::string line = "<c k=\"" + std::to_string(k) + "\" i=\"" + std::to_string(i) + "\"/>";
            sent.insert(line);
            text += line + "\n";
        }
        text += "<c k=\"" + std::to_string(k) + "\" half";
        (void)!send(c, text.data(), text.size(), MSG_NOSIGNAL);
        ASSERT_TRUE(srig::wait_ctrl_lines(static_cast<size_t>(5 * (k + 1)), 5s));
        close(c);
        ASSERT_TRUE(srig::wait_until([] { return srig::listed(ZUB_SOCKET_TYPE_CTRL) == 0; }, 5s));
    }
    for (std::thread& t : churners) {
        t.join();
    }
    done = true;
    walker.join();

    // Every line whole and from one controller; no half line joined to another's.
    const auto lines = srig::ctrl_lines();
    EXPECT_EQ(lines.size(), sent.size());
    for (const std::string& l : lines) {
        EXPECT_EQ(sent.count(l), 1u) << l;
    }
    // Every client gone from the lists and every descriptor closed.
    for (BYTE t = 1; t < ZUB_SOCKET_TYPE_COUNT; ++t) {
        EXPECT_TRUE(srig::wait_until([t] { return srig::listed(t) == 0; }, 5s)) << static_cast<int>(t);
    }
    EXPECT_TRUE(srig::wait_until([&] { return ct::open_fd_count() == fds_before; }, 5s));
    EXPECT_GT(sends.load(), 0);
    servers.stop();
}

}  // namespace
