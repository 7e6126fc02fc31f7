// Clients of all eight report lists connecting and leaving at random while another thread walks
// the lists under their guard and sends to every listed client, and the controller reconnecting
// in the middle of lines. Bounded in count; ends by itself.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <random>
#include <set>
#include <string>
#include <thread>

#include "socket_rig.h"
#include "zub_context.h"
#include "zub_ctrl_flow.h"

using namespace std::chrono_literals;

namespace {

using Ports = std::array<WORD16, ZUB_SOCKET_TYPE_COUNT>;

// Fresh probe records and the servers running on free ports.
bool start_servers(srig::Servers& servers, Ports* ports)
{
    ct::Recorder::instance().clear();
    srig::take_ctrl_lines();
    *ports = srig::free_ports();
    srig::configure_ports(*ports);
    return servers.create() && servers.run();
}

TEST(engine_socket_Stress, ClientsComeAndGoWhileListsAreWalkedAndTheControllerReconnects)
{
    srig::Servers servers;
    Ports ports{};
    ASSERT_TRUE(start_servers(servers, &ports));
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

// Writes what the link takes of `text` from `at` without blocking, until it has taken nothing for
// `quiet`; the new position.
size_t write_until_held(int fd, const std::string& text, size_t at, std::chrono::milliseconds quiet)
{
    auto last = std::chrono::steady_clock::now();
    while (at < text.size() && std::chrono::steady_clock::now() - last < quiet) {
        const ssize_t n = send(fd, text.data() + at, text.size() - at, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n > 0) {
            at += static_cast<size_t>(n);
            last = std::chrono::steady_clock::now();
        } else {
            std::this_thread::sleep_for(1ms);
        }
    }
    return at;
}

// A controller writing far more than the control job takes while the control job is busy: the
// socket job stops reading it with no more than a few lines in flight, so TCP holds it back.
// Either every line then arrives once and in order, or, when the controller resets its link while
// held back, no more of its lines run than were in flight, and the next controller's all do.
TEST(engine_socket_Stress, AControllerIsHeldBackWhileTheControlJobIsBusy)
{
    struct Row {
        const char* name;
        bool reset_while_held;
    };
    const Row rows[] = {
        {"the control job goes on: every line once, in order", false},
        {"the controller resets its link meanwhile", true},
    };
    constexpr int kLines = 50000;
    std::string text;
    for (int i = 0; i < kLines; ++i) {
        text += "<l n=\"" + std::to_string(i) + "\"/>\n";
    }
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        srig::Servers servers;
        Ports ports{};
        ASSERT_TRUE(start_servers(servers, &ports));
        srig::hold_ctrl_lines(true);
        const int c = srig::connect_to(ports[0]);
        ASSERT_GE(c, 0);
        const int small = 32 * 1024;
        setsockopt(c, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
        const size_t taken = write_until_held(c, text, 0, 300ms);
        EXPECT_LT(taken, text.size());
        EXPECT_TRUE(srig::wait_until([] { return zub_ctrl_flow().paused(); }, 5s));
        EXPECT_LE(zub_ctrl_flow().in_flight(), CtrlFlow::kLinesInFlight);
        if (!row.reset_while_held) {
            srig::hold_ctrl_lines(false);
            EXPECT_EQ(write_until_held(c, text, taken, 20s), text.size());
            ASSERT_TRUE(srig::wait_ctrl_lines(kLines, 60s));
            const auto lines = srig::ctrl_lines();
            ASSERT_EQ(lines.size(), static_cast<size_t>(kLines));
            for (int i = 0; i < kLines; ++i) {
                ASSERT_EQ(lines[static_cast<size_t>(i)], "<l n=\"" + std::to_string(i) + "\"/>");
            }
        } else {
            const linger reset{1, 0};
            setsockopt(c, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
            close(c);
            srig::hold_ctrl_lines(false);
            EXPECT_TRUE(srig::wait_until([] { return srig::listed(ZUB_SOCKET_TYPE_CTRL) == 0; }, 10s));
            const int next = srig::connect_to(ports[0]);
            ASSERT_GE(next, 0);
            ASSERT_EQ(send(next, "<next/>\n", 8, MSG_NOSIGNAL), 8);
            EXPECT_TRUE(srig::wait_until([] {
                const auto lines = srig::ctrl_lines();
                return !lines.empty() && lines.back() == "<next/>";
            }, 10s));
            const auto lines = srig::ctrl_lines();
            EXPECT_GE(lines.size(), 2u);
            EXPECT_LE(lines.size(), CtrlFlow::kLinesInFlight + 1);
            close(next);
        }
        if (!row.reset_while_held) {
            close(c);
        }
        servers.stop();
    }
}

}  // namespace
