// The anchor TCP client against stand-in anchors listening on 127.0.0.x:3000, with the socket
// job's reactor running on the socket job's thread and the reconnection job receiving the link
// reports.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include "CNPlatLogLimit.h"
#include "comm_test_support.h"
#include "zub_comm.h"
#include "zub_context.h"

using namespace std::chrono_literals;
using ct::FakeAnchor;
using ct::Recorder;
using ct::SocketJobReactor;
using Clock = std::chrono::steady_clock;

namespace {

struct ConStat {
    WORD16 anc_id;
    WORD16 con_stat;
    bool operator==(const ConStat& o) const { return anc_id == o.anc_id && con_stat == o.con_stat; }
};

std::ostream& operator<<(std::ostream& os, const ConStat& s)
{
    return os << "{" << s.anc_id << ", " << s.con_stat << "}";
}

class engine_comm_AnchorLinks : public ct::ReactorTest {
protected:
    engine_comm_AnchorLinks() : ReactorTest(8) {}

    static bool open_link(Anchor* a)
    {
        bool ok = false;
        EXPECT_TRUE(ct::run_on_job(QE_JOBTYPE_ZUB_RECON, [&] { ok = zub_socket_tcp_client_create(a); }));
        return ok;
    }

    static bool send_from_control(Anchor* a, const std::vector<BYTE>& bytes)
    {
        bool ok = false;
        EXPECT_TRUE(ct::run_on_job(QE_JOBTYPE_ZUB_CONTROL, [&] {
            ok = zub_socket_msg_send_to_anc(bytes.data(), static_cast<WORD16>(bytes.size()), a);
        }));
        return ok;
    }

    // The link reports the reconnection job has received so far, in order.
    static std::vector<ConStat> reports()
    {
        std::vector<ConStat> out;
        for (const ct::Call& c : Recorder::instance().calls(QE_JOBTYPE_ZUB_RECON, ZUB_EV_XX_RECON_ANCHOR_CON_STATE)) {
            EXPECT_EQ(c.body.size(), 4u);
            if (c.body.size() == 4) {
                out.push_back({static_cast<WORD16>(c.body[0] | c.body[1] << 8),
                               static_cast<WORD16>(c.body[2] | c.body[3] << 8)});
            }
        }
        return out;
    }

    static bool wait_reports(size_t n)
    {
        return Recorder::instance().wait_for(QE_JOBTYPE_ZUB_RECON, ZUB_EV_XX_RECON_ANCHOR_CON_STATE, n, 5s);
    }

    static int int_option(int fd, int level, int name)
    {
        int v = -1;
        socklen_t len = sizeof v;
        getsockopt(fd, level, name, &v, &len);
        return v;
    }

};

std::vector<BYTE> pattern(size_t n, unsigned seed)
{
    std::vector<BYTE> v(n);
    for (size_t i = 0; i < n; ++i) {
        v[i] = static_cast<BYTE>((i * 131 + seed * 7 + (i >> 8)) & 0xFF);
    }
    return v;
}

TEST_F(engine_comm_AnchorLinks, OpenConnectsAttachesAndReportsTheLink)
{
    FakeAnchor anchor_at(2);
    ASSERT_TRUE(anchor_at.ok());
    Anchor* a = ct::configure_anchor(5, 2);
    ASSERT_TRUE(open_link(a));
    const int peer = anchor_at.accept_one(2s);
    ASSERT_GE(peer, 0);

    const AnchorLinkState st = a->link_state();
    const int fd = static_cast<int>(st.sock);
    ASSERT_GT(fd, 0);
    EXPECT_NE(a->tcp_sock.ev, nullptr);
    EXPECT_TRUE(st.ever_connected);
    ASSERT_TRUE(wait_reports(1));
    EXPECT_EQ(reports(), (std::vector<ConStat>{{5, 1}}));
    EXPECT_EQ(Recorder::instance().calls(QE_JOBTYPE_ZUB_RECON, 0x20002)[0].body,
              (std::vector<BYTE>{0x05, 0x00, 0x01, 0x00}));

    // Blocking from here on, with the link's options.
    EXPECT_EQ(fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
    EXPECT_EQ(int_option(fd, IPPROTO_TCP, TCP_NODELAY), 1);
    EXPECT_NE(int_option(fd, SOL_SOCKET, SO_REUSEADDR), 0);
    EXPECT_NE(int_option(fd, SOL_SOCKET, SO_KEEPALIVE), 0);
    EXPECT_EQ(int_option(fd, IPPROTO_TCP, TCP_KEEPIDLE), 100);
    EXPECT_EQ(int_option(fd, IPPROTO_TCP, TCP_KEEPINTVL), 10);
    EXPECT_EQ(int_option(fd, IPPROTO_TCP, TCP_KEEPCNT), 10);

    // What the anchor sends reaches the reactor's read callback with the anchor as argument.
    const std::vector<BYTE> frame = {0x02, 0x03, 0x00, 'B', 0x11, 0x22, 0x03};
    ASSERT_EQ(send(peer, frame.data(), frame.size(), 0), static_cast<ssize_t>(frame.size()));
    ASSERT_TRUE(SocketJobReactor::wait_bytes(a, frame.size(), 2s));
    const ct::ReadLog log = SocketJobReactor::read_log(a);
    EXPECT_EQ(log.bytes, frame);
    EXPECT_EQ(log.fds.front(), fd);

    // A second open while the link is up changes nothing.
    ct::PrintCapture prints;
    EXPECT_FALSE(open_link(a));
    EXPECT_EQ(a->link_socket(), static_cast<WORD32>(fd));
    EXPECT_EQ(prints.count_of("anchor link already open, not opened again. anc_id = 5"), 1u);
    EXPECT_EQ(anchor_at.accept_one(100ms), -1);
    EXPECT_EQ(reports().size(), 1u);
}

TEST_F(engine_comm_AnchorLinks, ReadCallbackThatFiresAtOnceFindsTheLinkRecorded)
{
    FakeAnchor anchor_at(2);
    ASSERT_TRUE(anchor_at.ok());
    Anchor* a = ct::configure_anchor(6, 2);
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        // The anchor speaks as soon as it has accepted, before the engine has attached the link.
        std::thread greeter([&] {
            const int peer = anchor_at.accept_one(5s);
            const BYTE hello = 'B';
            if (peer >= 0) {
                (void)!send(peer, &hello, 1, 0);
            }
        });
        const bool opened = open_link(a);
        greeter.join();
        ASSERT_TRUE(opened);
        const WORD32 fd = a->link_socket();
        ASSERT_TRUE(SocketJobReactor::wait_bytes(a, static_cast<size_t>(round) + 1, 2s));
        const ct::ReadLog log = SocketJobReactor::read_log(a);
        EXPECT_EQ(log.link_socket_seen.back(), fd);
        ct::run_on_job(QE_JOBTYPE_ZUB_RECON, [a] { zub_socket_anchor_close(a); });
    }
}

TEST_F(engine_comm_AnchorLinks, RefusedConnectFailsWithoutReportOrLeftoverSocket)
{
    Anchor* a = ct::configure_anchor(1, 3);  // nothing listens on 127.0.0.3
    ct::PrintCapture prints;
    const int fds_before = ct::open_fd_count();
    EXPECT_FALSE(open_link(a));
    EXPECT_EQ(ct::open_fd_count(), fds_before);
    EXPECT_EQ(a->link_socket(), 0u);
    EXPECT_EQ(a->tcp_sock.ev, nullptr);
    EXPECT_FALSE(a->link_state().ever_connected);
    EXPECT_EQ(prints.count_of("connect to anchor(127.0.0.3:3000) failed.anc_id = 1 errno is 111"), 1u);
    std::this_thread::sleep_for(50ms);
    EXPECT_TRUE(reports().empty());
}

TEST_F(engine_comm_AnchorLinks, ReactorNotYetCreatedFailsCleanlyWithoutConnecting)
{
    FakeAnchor anchor_at(2);
    ASSERT_TRUE(anchor_at.ok());
    reactor_.reset();  // the socket job has not created its reactor yet
    Anchor* a = ct::configure_anchor(2, 2);
    ct::PrintCapture prints;
    EXPECT_FALSE(open_link(a));
    EXPECT_EQ(prints.count_of("qk_reactor_attach tcp failed.\n"), 1u);
    EXPECT_EQ(anchor_at.accept_one(200ms), -1);
    EXPECT_EQ(a->link_socket(), 0u);
    EXPECT_TRUE(reports().empty());

    // Once the reactor exists, the next check's open heals it.
    reactor_ = std::make_unique<SocketJobReactor>();
    ASSERT_TRUE(reactor_->ok());
    EXPECT_TRUE(open_link(a));
    EXPECT_GE(anchor_at.accept_one(2s), 0);
}

TEST_F(engine_comm_AnchorLinks, SendsArriveByteForByte)
{
    FakeAnchor anchor_at(4);
    ASSERT_TRUE(anchor_at.ok());
    Anchor* a = ct::configure_anchor(3, 4);
    ASSERT_TRUE(open_link(a));
    const int peer = anchor_at.accept_one(2s);
    ASSERT_GE(peer, 0);

    // The commands the control job sends: 'D', 'V', 'W', 'Z', '[', 'X', 'Y', a diagnostics-sized one.
    std::vector<BYTE> all;
    std::vector<size_t> sizes;
    for (int round = 0; round < 40; ++round) {
        sizes.insert(sizes.end(), {26, 1, 2, 17, 27, 4, 18, 146});
    }
    std::vector<BYTE> received;
    size_t total = 0;
    for (size_t n : sizes) {
        total += n;
    }
    std::thread reader([&] { received = ct::read_exactly(peer, total, 10s); });
    for (size_t i = 0; i < sizes.size(); ++i) {
        const std::vector<BYTE> chunk = pattern(sizes[i], static_cast<unsigned>(i));
        all.insert(all.end(), chunk.begin(), chunk.end());
        EXPECT_TRUE(send_from_control(a, chunk)) << i;
    }
    reader.join();
    ASSERT_EQ(received.size(), all.size());
    EXPECT_TRUE(received == all);
}

TEST_F(engine_comm_AnchorLinks, SendWithoutLinkOrBufferFailsQuietly)
{
    Anchor* a = ct::configure_anchor(4, 2);
    ct::PrintCapture prints;
    const BYTE frame[3] = {1, 2, 3};
    EXPECT_FALSE(zub_socket_msg_send_to_anc(frame, 3, a));
    EXPECT_FALSE(zub_socket_msg_send_to_anc(nullptr, 3, a));
    EXPECT_FALSE(zub_socket_msg_send_to_anc(frame, 3, nullptr));
    EXPECT_FALSE(zub_socket_tcp_client_create(nullptr));
    zub_socket_anchor_close(nullptr);
    zub_socket_anchor_close(a);  // no link: nothing happens
    EXPECT_TRUE(prints.lines().empty());
    std::this_thread::sleep_for(20ms);
    EXPECT_TRUE(reports().empty());
}

TEST_F(engine_comm_AnchorLinks, EpipeOnSendClosesTheLinkAndReportsIt)
{
    FakeAnchor anchor_at(2);
    ASSERT_TRUE(anchor_at.ok());
    Anchor* a = ct::configure_anchor(7, 2);
    SocketJobReactor::set_close_on_eof(false);  // let the send be the one that finds it gone
    ASSERT_TRUE(open_link(a));
    const int peer = anchor_at.accept_one(2s);
    ASSERT_GE(peer, 0);
    const int fd = static_cast<int>(a->link_socket());
    anchor_at.close_peer(peer);
    ASSERT_TRUE(SocketJobReactor::wait_eof(a, 2s));

    ct::PrintCapture prints;
    const std::vector<BYTE> frame = pattern(40, 1);
    bool sent = true;
    for (int i = 0; i < 50 && sent; ++i) {
        sent = send_from_control(a, frame);  // the first write draws the anchor's reset
        if (sent) {
            std::this_thread::sleep_for(10ms);
        }
    }
    ASSERT_FALSE(sent);
    EXPECT_EQ(fcntl(fd, F_GETFD), -1);  // closed
    EXPECT_EQ(a->link_socket(), 0u);
    EXPECT_EQ(a->tcp_sock.ev, nullptr);
    const AnchorLinkState st = a->link_state();
    EXPECT_NE(st.timeDisconnected.tv_sec, 0);
    EXPECT_EQ(prints.count_of("qk_send to anchor failed.errno is 32"), 1u);
    EXPECT_EQ(prints.count_of("errno = ECONNRESET or EPIPE,close socket anc_id = 7"), 1u);
    ASSERT_TRUE(wait_reports(2));
    EXPECT_EQ(reports(), (std::vector<ConStat>{{7, 1}, {7, 0}}));
    // Later sends find no link and stay quiet.
    EXPECT_FALSE(send_from_control(a, frame));
    EXPECT_EQ(prints.lines().size(), 2u);
}

TEST_F(engine_comm_AnchorLinks, ConcurrentClosersCloseTheLinkExactlyOnce)
{
    FakeAnchor anchor_at(5);
    ASSERT_TRUE(anchor_at.ok());
    Anchor* a = ct::configure_anchor(0, 5);
    const int fds_before = ct::open_fd_count();
    constexpr int kRounds = 30;
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE(round);
        ASSERT_TRUE(open_link(a));
        const int peer = anchor_at.accept_one(2s);
        ASSERT_GE(peer, 0);
        // The socket job (end of stream), the reconnection job and the control job close at once.
        std::atomic<int> ready{0};
        auto closer = [&](WORD16 job) {
            return std::thread([&, job] {
                ct::run_on_job(job, [&] {
                    ready.fetch_add(1);
                    while (ready.load() < 3) {
                    }
                    zub_socket_anchor_close(a);
                });
            });
        };
        std::thread recon = closer(QE_JOBTYPE_ZUB_RECON);
        std::thread control = closer(QE_JOBTYPE_ZUB_CONTROL);
        while (ready.load() < 2) {
        }
        ready.fetch_add(1);
        anchor_at.close_peer(peer);
        recon.join();
        control.join();
        ASSERT_TRUE(wait_reports(static_cast<size_t>(2 * (round + 1))));
        EXPECT_EQ(a->link_socket(), 0u);
    }
    std::this_thread::sleep_for(50ms);  // a late third report would show here
    const std::vector<ConStat> got = reports();
    ASSERT_EQ(got.size(), static_cast<size_t>(2 * kRounds));
    for (int i = 0; i < kRounds; ++i) {
        EXPECT_EQ(got[2 * i], (ConStat{0, 1})) << i;
        EXPECT_EQ(got[2 * i + 1], (ConStat{0, 0})) << i;
    }
    EXPECT_EQ(ct::open_fd_count(), fds_before);
}

// An anchor that stops reading never holds the control job: once its link takes nothing, a
// command is dropped at once and said so, and the link stays (a slow anchor is not a dead one);
// a command the link took only part of closes the link, since the anchor would read every later
// command out of step. What the anchor finally reads is whole commands, then at most the part.
TEST_F(engine_comm_AnchorLinks, SendToAnAnchorThatStopsReadingDropsTheCommand)
{
    struct Row {
        const char* name;
        WORD16 size;
        bool may_cut;  // a command this large may find room for a part of it
    } rows[] = {
        {"start frames", 2, false},
        {"commands larger than the room left", 60000, true},
    };
    FakeAnchor anchor_at(6);
    ASSERT_TRUE(anchor_at.ok());
    const int small = 4096;
    setsockopt(anchor_at.listen_fd(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    Anchor* a = ct::configure_anchor(8, 6);
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        ASSERT_TRUE(open_link(a));
        const int peer = anchor_at.accept_one(2s);  // accepted, not read for now
        ASSERT_GE(peer, 0);
        // A small send buffer, so that it fills after a few thousand commands.
        setsockopt(static_cast<int>(a->link_socket()), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
        ct::PrintCapture prints;
        CN_LogLimit::restart_all();
        const std::vector<BYTE> command = pattern(r.size, 5);
        size_t sent = 0;
        bool refused = false;
        ASSERT_TRUE(ct::run_on_job(QE_JOBTYPE_ZUB_CONTROL, [&] {
            for (; sent < 1000000 && !refused; ++sent) {
                refused = !zub_socket_msg_send_to_anc(command.data(), r.size, a);
            }
        }));
        ASSERT_TRUE(refused);
        --sent;
        // Further sends go or fail at once (the kernel may still move some bytes on meanwhile):
        // together they cost less than one wait of the blocking send they replace (3 s).
        const auto started = Clock::now();
        size_t refusals = 1;
        for (int i = 0; i < 4 && a->link_socket() != 0; ++i) {
            if (send_from_control(a, command)) {
                ++sent;
            } else {
                ++refusals;
            }
        }
        EXPECT_LT(Clock::now() - started, 3s);
        const bool kept = a->link_socket() != 0;
        // Kept: the commands taken, whole. Closed: those and the part, then the end of the stream.
        const std::vector<BYTE> got = ct::read_exactly(peer, (sent + (kept ? 0 : 1)) * r.size, 5s);
        const size_t whole = got.size() / r.size * r.size;
        for (size_t at = 0; at < got.size(); at += r.size) {
            ASSERT_TRUE(std::equal(got.begin() + static_cast<long>(at),
                                   got.begin() + static_cast<long>(std::min(at + r.size, got.size())),
                                   command.begin()))
                << "at " << at;
        }
        char code[8];
        std::snprintf(code, sizeof code, "0x%02X", command[0]);
        const std::string where = "anchor(127.0.0.6) link ";
        if (kept) {
            EXPECT_EQ(got.size(), sent * r.size);
            EXPECT_EQ(prints.count_of(where + "takes nothing, command " + code + " of " +
                                      std::to_string(r.size) + " bytes dropped. anc_id = 8"),
                      refusals);
            ct::run_on_job(QE_JOBTYPE_ZUB_RECON, [a] { zub_socket_anchor_close(a); });
        } else {
            ASSERT_TRUE(r.may_cut);
            EXPECT_EQ(whole, sent * r.size);
            EXPECT_GT(got.size(), whole);
            EXPECT_EQ(prints.count_of(where + "took " + std::to_string(got.size() - whole) + " of " +
                                      std::to_string(r.size) + " bytes of command " + code +
                                      ", close socket anc_id = 8"),
                      1u);
        }
        ASSERT_TRUE(wait_reports(2));
        Recorder::instance().clear();
        anchor_at.close_peer(peer);
    }
}

TEST_F(engine_comm_AnchorLinks, DescriptorsAbove1023AreWaitedForWithoutOverrun)
{
    rlimit lim{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &lim), 0);
    if (lim.rlim_max < 1200) {
        GTEST_SKIP() << "descriptor limit too low";
    }
    const rlimit saved = lim;
    lim.rlim_cur = std::max<rlim_t>(lim.rlim_cur, 1200);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &lim), 0);
    std::vector<int> filler;
    for (int fd = open("/dev/null", O_RDONLY); fd >= 0 && fd < 1100; fd = open("/dev/null", O_RDONLY)) {
        filler.push_back(fd);
    }
    FakeAnchor anchor_at(2);
    ASSERT_TRUE(anchor_at.ok());
    Anchor* a = ct::configure_anchor(2, 2);
    EXPECT_TRUE(open_link(a));
    EXPECT_GT(a->link_socket(), 1023u);
    EXPECT_GE(anchor_at.accept_one(2s), 0);
    ct::run_on_job(QE_JOBTYPE_ZUB_RECON, [a] { zub_socket_anchor_close(a); });
    for (int fd : filler) {
        close(fd);
    }
    setrlimit(RLIMIT_NOFILE, &saved);
}

// One slow real-time case: an anchor that never answers the connect.
TEST_F(engine_comm_AnchorLinks, ConnectThatNeverCompletesFailsAfterTenSeconds)
{
    FakeAnchor anchor_at(7, 0);
    ASSERT_TRUE(anchor_at.ok());
    // Fill the stand-in's accept queue, so that the engine's SYN goes unanswered.
    std::vector<int> fillers;
    for (int i = 0; i < 3; ++i) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(ct::kAnchorPort);
        addr.sin_addr = anchor_at.address();
        connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        fillers.push_back(fd);
    }
    std::this_thread::sleep_for(100ms);
    Anchor* a = ct::configure_anchor(3, 7);
    ct::PrintCapture prints;
    const int fds_before = ct::open_fd_count();
    const auto started = Clock::now();
    EXPECT_FALSE(open_link(a));
    const auto took = Clock::now() - started;
    EXPECT_GE(took, 9900ms);
    EXPECT_LT(took, 12s);
    EXPECT_EQ(prints.count_of("connect to anchor(127.0.0.7:3000) failed.anc_id = 3 errno is 110"), 1u);
    EXPECT_EQ(ct::open_fd_count(), fds_before);
    EXPECT_EQ(a->link_socket(), 0u);
    EXPECT_TRUE(reports().empty());
    for (int fd : fillers) {
        close(fd);
    }
}

}  // namespace
