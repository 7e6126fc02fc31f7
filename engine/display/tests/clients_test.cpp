// The display job's output on real loopback sockets through the socket job's client lists:
// a client that stops reading is closed once its queue overflows while the others get every
// frame, and clients joining and leaving while positions flow always see whole frames in order.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <random>
#include <thread>

#include "display_fakes.h"
#include "zub_client_link.h"
#include "zub_context.h"
#include "zub_display_job.h"

namespace {

using dt::Bytes;

// A listener on an ephemeral loopback port; each connect() gives the client's end and the
// server's end (non-blocking, as the socket job leaves it).
class loopback_server {
public:
    loopback_server()
    {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd_, 64) != 0 ||
            getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
            close(fd_);
            fd_ = -1;
        }
        addr_ = a;
    }
    ~loopback_server()
    {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    bool ok() const { return fd_ >= 0; }

    // false when the connection could not be made.
    bool connect_pair(int* client, int* server, int buffer = 0)
    {
        *client = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (buffer > 0) {
            setsockopt(*client, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
        }
        if (connect(*client, reinterpret_cast<const sockaddr*>(&addr_), sizeof addr_) != 0) {
            close(*client);
            return false;
        }
        *server = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (*server < 0) {
            close(*client);
            return false;
        }
        if (buffer > 0) {
            setsockopt(*server, SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
        }
        return true;
    }

private:
    int fd_ = -1;
    sockaddr_in addr_{};
};

class no_platform final : public display_platform {
public:
    void power_on_ack() override {}
    void start_ok() override {}
    void start_loop_timer_ms(BYTE, WORD32) override {}
};

msg_position_t position(SWORD32 n) { return msg_position_t{4, 0x1122334455667788ull, 0xB1, n, -n, 7}; }

Bytes location_stream(SWORD32 from, SWORD32 to)
{
    Bytes out;
    BYTE f[ZUB_FRAME_TAG_LOC_LEN];
    for (SWORD32 n = from; n < to; ++n) {
        zub_frame_tag_loc(position(n), f);
        out.insert(out.end(), f, f + sizeof f);
    }
    return out;
}

// Reads what is there now (or, with wait, up to end of stream); true at end of stream.
bool read_available(int fd, Bytes* out, bool wait)
{
    BYTE buf[65536];
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, wait ? 5000 : 0) != 1) {
            return false;
        }
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) {
            return true;
        }
        out->insert(out->end(), buf, buf + n);
    }
}

void clear_lists()
{
    reactor_info_t& info = zub_context()->reactor_info;
    std::lock_guard<GuardMutex> lock(info.clients_lock);
    for (sock_info_t* l : {info.tag_loc_client, info.dsply_client}) {
        for (unsigned i = 0; i < ZUB_CLIENTS_PER_LIST; ++i) {
            l[i] = sock_info_t{};
        }
    }
}

TEST(engine_display_Clients, AClientThatStopsReadingIsClosedWhileTheOthersGetEveryFrame)
{
    loopback_server server;
    ASSERT_TRUE(server.ok());
    clear_lists();
    reactor_info_t& info = zub_context()->reactor_info;
    int c[3], s[3];
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(server.connect_pair(&c[i], &s[i], i == 1 ? 4096 : 0));
        ASSERT_TRUE(zub_clients_save(info, info.tag_loc_client, s[i], nullptr));
    }
    dt::print_capture prints;
    reactor_display_clients clients(info);
    no_platform platform;
    display_core core(*zub_context(), clients, platform, [] { return WORD64{1}; }, "/nonexistent");

    constexpr SWORD32 kPositions = 20000;  // 660,000 bytes: far more than the slow client's room
    Bytes got[3];
    std::atomic<size_t> got_size[3] = {0, 0, 0};  // what the test thread may look at meanwhile
    std::atomic<bool> done{false};
    std::thread readers([&] {
        while (!done.load()) {
            for (int i : {0, 2}) {
                read_available(c[i], &got[i], false);
                got_size[i] = got[i].size();
            }
            std::this_thread::yield();
        }
    });
    for (SWORD32 n = 0; n < kPositions; ++n) {
        core.on_tag_loc(position(n));
        if (n % 64 == 0) {
            core.on_timer(ZUB_DISPLAY_TIMER_TAG_LOC);
        }
    }
    const Bytes all = location_stream(0, kPositions);
    for (int tick = 0; tick < 10000 && (core.output().pending(display_stream::tag_loc, 0) != 0 ||
                                         core.output().pending(display_stream::tag_loc, 2) != 0);
         ++tick) {
        core.on_timer(ZUB_DISPLAY_TIMER_TAG_LOC);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    for (int tries = 0; tries < 5000 && (got_size[0] < all.size() || got_size[2] < all.size()); ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    done = true;
    readers.join();
    EXPECT_TRUE(got[0] == all);
    EXPECT_TRUE(got[2] == all);

    // The slow one was closed through the client list: what it got is the stream's beginning.
    EXPECT_TRUE(read_available(c[1], &got[1], true));
    ASSERT_LT(got[1].size(), all.size());
    EXPECT_TRUE(std::equal(got[1].begin(), got[1].end(), all.begin()));
    EXPECT_EQ(prints.count_of("client sock " + std::to_string(s[1]) + " stopped reading: 262144 bytes queued, closed"),
              1u);
    {
        std::lock_guard<GuardMutex> lock(info.clients_lock);
        EXPECT_EQ(info.tag_loc_client[1].flag, 0);
        EXPECT_EQ(info.tag_loc_client[0].sock, s[0]);
    }
    for (int i : {0, 2}) {
        zub_socket_reactor_delete(s[i], ZUB_SOCKET_KIND_TAG_LOC);
    }
    for (int fd : c) {
        close(fd);
    }
}

// Checks a client's stream frame by frame: each frame whole and well-formed, positions in
// order; a cut frame may only end a stream that the server closed.
struct stream_check {
    size_t frame_len;
    BYTE third;  // 0x00 location, 0x65 display
    Bytes bytes;
    size_t checked = 0;
    SWORD32 last = -1;
    bool bad = false;

    void take()
    {
        while (bytes.size() - checked >= frame_len) {
            const BYTE* f = bytes.data() + checked;
            SWORD32 x = 0;
            std::memcpy(&x, f + (frame_len == ZUB_FRAME_TAG_LOC_LEN ? 20 : 3), sizeof x);
            bad = bad || f[0] != 0xA8 || f[1] != 0x1D || f[2] != third || f[frame_len - 1] != 0xA8 || x <= last;
            last = x;
            checked += frame_len;
        }
    }
};

TEST(engine_display_Clients, ClientsJoiningAndLeavingWhilePositionsFlowSeeWholeFramesInOrder)
{
    loopback_server server;
    ASSERT_TRUE(server.ok());
    clear_lists();
    reactor_info_t& info = zub_context()->reactor_info;
    zub_context()->displayer_type = ZUB_DISPLAYER_TYPE_NORVAT;
    reactor_display_clients clients(info);
    no_platform platform;
    display_core core(*zub_context(), clients, platform, [] { return WORD64{1}; }, "/nonexistent");

    // Positions flow until enough clients have come and gone, however the threads are scheduled
    // (a loaded machine may let the display thread run far ahead of the joining one).
    std::atomic<bool> done{false};
    std::atomic<unsigned> joined{0};
    constexpr unsigned kJoins = 16;
    std::thread display([&] {
        for (SWORD32 n = 0; n < 20000 || (joined.load() < kJoins && n < 4000000); ++n) {
            core.on_tag_loc(position(n));
            if (n % 32 == 0) {
                core.on_timer(ZUB_DISPLAY_TIMER_TAG_LOC);
            }
        }
        done = true;
    });

    struct client {
        int fd, server_fd;
        WORD32 kind;
        stream_check check;
    };
    std::vector<client> live;
    std::vector<stream_check> finished;
    std::mt19937 rng(17);
    auto finish = [&](client& cl) {
        zub_socket_reactor_delete(cl.server_fd, cl.kind);  // the socket job's removal
        read_available(cl.fd, &cl.check.bytes, true);
        close(cl.fd);
        cl.check.take();
        finished.push_back(cl.check);
    };
    while (!done.load()) {
        if (live.size() < 24 && rng() % 2 == 0) {
            client cl{};
            const bool display_list = rng() % 2 == 0;
            cl.kind = display_list ? ZUB_SOCKET_KIND_DSPLY : ZUB_SOCKET_KIND_TAG_LOC;
            cl.check = display_list ? stream_check{ZUB_FRAME_DISPLAY_NORVAT_LEN, 0x65, {}}
                                    : stream_check{ZUB_FRAME_TAG_LOC_LEN, 0x00, {}};
            ASSERT_TRUE(server.connect_pair(&cl.fd, &cl.server_fd));
            if (zub_clients_save(info, display_list ? info.dsply_client : info.tag_loc_client, cl.server_fd, nullptr)) {
                live.push_back(std::move(cl));
                ++joined;
            } else {
                close(cl.fd);
                close(cl.server_fd);
            }
        } else if (!live.empty() && rng() % 3 == 0) {
            const size_t i = rng() % live.size();
            finish(live[i]);
            live.erase(live.begin() + static_cast<std::ptrdiff_t>(i));
        }
        for (client& cl : live) {
            read_available(cl.fd, &cl.check.bytes, false);
            cl.check.take();
        }
    }
    display.join();
    for (client& cl : live) {
        finish(cl);
    }
    EXPECT_GE(joined.load(), kJoins);
    size_t frames = 0;
    for (const stream_check& ch : finished) {
        EXPECT_FALSE(ch.bad);
        frames += ch.checked / ch.frame_len;
    }
    EXPECT_GT(frames, 0u);
    zub_context()->displayer_type = ZUB_DISPLAYER_TYPE_ORIGINAL;
}

}  // namespace
