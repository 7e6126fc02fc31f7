// Anchor links opened through the anchor TCP client to stand-in anchors on 127.0.0.x:3000 and
// read by the socket job's frame reader on its own thread; the routed payloads arrive at the
// probe jobs.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "frame_test_support.h"
#include "socket_rig.h"
#include "zub_anchor_link.h"
#include "zub_context.h"
#include "zub_msg_id.h"

using namespace std::chrono_literals;
using ct::Recorder;
using ft::Bytes;

namespace {

constexpr WORD16 kAnchor = 3;

class engine_socket_AnchorRead : public ::testing::Test {
protected:
    void SetUp() override
    {
        CT_REQUIRE_PRIVATE_NETNS();
        Recorder::instance().clear();
        srig::configure_ports(srig::free_ports());
        ASSERT_TRUE(servers_.create());
        ASSERT_TRUE(servers_.run());
        anchor_ = ct::configure_anchor(kAnchor, 2);
    }
    void TearDown() override
    {
        if (anchor_ != nullptr) {
            Anchor* a = anchor_;
            ct::run_on_job(QE_JOBTYPE_ZUB_RECON, [a] { zub_socket_anchor_close(a); });
        }
        servers_.stop();
    }
    int open_link(ct::FakeAnchor& at)
    {
        bool ok = false;
        Anchor* a = anchor_;
        EXPECT_TRUE(ct::run_on_job(QE_JOBTYPE_ZUB_RECON, [&] { ok = zub_socket_tcp_client_create(a); }));
        return ok ? at.accept_one(2s) : -1;
    }
    static bool write_all(int fd, const Bytes& b)
    {
        return send(fd, b.data(), b.size(), 0) == static_cast<ssize_t>(b.size());
    }
    // The payloads the control job has received from the anchor, in order.
    static std::vector<Bytes> control_payloads()
    {
        std::vector<Bytes> out;
        for (const ct::Call& c : Recorder::instance().calls(QE_JOBTYPE_ZUB_CONTROL, ZUB_EV_SOCKET_XX_ANCHOR_MSG)) {
            EXPECT_GE(c.body.size(), 4u);
            EXPECT_EQ(c.body[0] | c.body[1] << 8, kAnchor);
            EXPECT_EQ(static_cast<size_t>(c.body[2] | c.body[3] << 8), c.body.size() - 4);
            out.emplace_back(c.body.begin() + 4, c.body.end());
        }
        return out;
    }

    srig::Servers servers_;
    Anchor* anchor_ = nullptr;
};

Bytes numbered(BYTE code, int n) { return Bytes{code, static_cast<BYTE>(n), static_cast<BYTE>(n >> 8), 0xEE}; }

TEST_F(engine_socket_AnchorRead, FramesInPiecesBurstsAndAfterGarbageArriveInOrder)
{
    ct::FakeAnchor at(2);
    ASSERT_TRUE(at.ok());
    const int peer = open_link(at);
    ASSERT_GE(peer, 0);
    std::vector<Bytes> want;

    // One frame in three writes.
    const Bytes f0 = ft::frame(numbered(0x42, 0));
    want.push_back(numbered(0x42, 0));
    ASSERT_TRUE(write_all(peer, Bytes(f0.begin(), f0.begin() + 1)));
    std::this_thread::sleep_for(20ms);
    ASSERT_TRUE(write_all(peer, Bytes(f0.begin() + 1, f0.begin() + 3)));
    std::this_thread::sleep_for(20ms);
    ASSERT_TRUE(write_all(peer, Bytes(f0.begin() + 3, f0.end())));

    // A burst of 64 frames in one write.
    Bytes burst;
    for (int i = 1; i <= 64; ++i) {
        const Bytes f = ft::frame(numbered(0x42, i));
        burst.insert(burst.end(), f.begin(), f.end());
        want.push_back(numbered(0x42, i));
    }
    ASSERT_TRUE(write_all(peer, burst));
    ASSERT_TRUE(Recorder::instance().wait_for(QE_JOBTYPE_ZUB_CONTROL, ZUB_EV_SOCKET_XX_ANCHOR_MSG, 65, 5s));

    // Garbage empties the buffer; the next write starts afresh.
    ct::PrintCapture prints;
    ASSERT_TRUE(write_all(peer, Bytes{0x55, 0x02, 0x10}));
    ASSERT_TRUE(srig::wait_until([&] { return prints.count_of("fist byte is not 0x02.reset buff") == 1; }, 2s));
    const Bytes f66 = ft::frame(numbered(0x42, 66));
    want.push_back(numbered(0x42, 66));
    ASSERT_TRUE(write_all(peer, f66));
    ASSERT_TRUE(Recorder::instance().wait_for(QE_JOBTYPE_ZUB_CONTROL, ZUB_EV_SOCKET_XX_ANCHOR_MSG, 66, 5s));
    EXPECT_EQ(control_payloads(), want);

    // Six arrival reports: two to each manager, each manager's in the order sent.
    Bytes reports;
    for (int i = 0; i < 6; ++i) {
        const Bytes f = ft::frame(numbered(0x32, i));
        reports.insert(reports.end(), f.begin(), f.end());
    }
    ASSERT_TRUE(write_all(peer, reports));
    const WORD16 managers[3] = {QE_JOBTYPE_ZUB_MANAGER_BEGIN, QE_JOBTYPE_ZUB_MANAGER_1, QE_JOBTYPE_ZUB_MANAGER_END};
    for (WORD16 m : managers) {
        ASSERT_TRUE(Recorder::instance().wait_for(m, ZUB_EV_SOCKET_XX_ANCHOR_MSG, 2, 5s));
        const auto calls = Recorder::instance().calls(m, ZUB_EV_SOCKET_XX_ANCHOR_MSG);
        ASSERT_EQ(calls.size(), 2u);
        EXPECT_EQ(calls[1].body[5] - calls[0].body[5], 3);
    }
}

TEST_F(engine_socket_AnchorRead, ClosedAnchorIsReportedAndAStaleHalfFrameDoesNotSurviveTheReconnect)
{
    ct::FakeAnchor at(2);
    ASSERT_TRUE(at.ok());
    int peer = open_link(at);
    ASSERT_GE(peer, 0);
    const Bytes f = ft::frame(numbered(0x42, 7));
    ct::PrintCapture prints;
    ASSERT_TRUE(write_all(peer, Bytes(f.begin(), f.begin() + 5)));  // half a frame, held
    ASSERT_TRUE(srig::wait_until([&] { return prints.count_of("rcv len = 5") == 1; }, 2s));

    at.close_peer(peer);
    ASSERT_TRUE(Recorder::instance().wait_for(QE_JOBTYPE_ZUB_RECON, ZUB_EV_XX_RECON_ANCHOR_CON_STATE, 2, 5s));
    const auto states = Recorder::instance().calls(QE_JOBTYPE_ZUB_RECON, ZUB_EV_XX_RECON_ANCHOR_CON_STATE);
    EXPECT_EQ(states[0].body, (Bytes{kAnchor, 0, 1, 0}));
    EXPECT_EQ(states[1].body, (Bytes{kAnchor, 0, 0, 0}));
    EXPECT_EQ(anchor_->link_socket(), 0u);
    EXPECT_EQ(anchor_->tcp_sock.rcv_len, 0u);  // cleared before the close was reported

    peer = open_link(at);
    ASSERT_GE(peer, 0);
    ASSERT_TRUE(write_all(peer, f));
    ASSERT_TRUE(Recorder::instance().wait_for(QE_JOBTYPE_ZUB_CONTROL, ZUB_EV_SOCKET_XX_ANCHOR_MSG, 1, 5s));
    EXPECT_EQ(control_payloads(), std::vector<Bytes>{numbered(0x42, 7)});
}

}  // namespace

namespace {

TEST_F(engine_socket_AnchorRead, LinkOfAnAnchorNobodyMayReadIsClosedAtItsFirstRead)
{
    struct Row {
        const char* name;
        WORD64 hardware_id;
        WORD16 id;
        std::string line;  // with %d for the socket
    };
    const Row rows[] = {
        {"slot not in use", 0, kAnchor, "close socket(%d) for anchor,because anchor_id(3) is unused"},
        {"id beyond the table", 0x00AB000000000003ull, 10000, "close socket(%d) for anchor,because anchor_id is 10000"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Recorder::instance().clear();
        ct::FakeAnchor at(2);
        ASSERT_TRUE(at.ok());
        anchor_ = ct::configure_anchor(kAnchor, 2);
        const int peer = open_link(at);
        ASSERT_GE(peer, 0);
        const int sock = static_cast<int>(anchor_->link_socket());
        // The record changes under a live link (set on the reconnection job, which opened it).
        Anchor* a = anchor_;
        ASSERT_TRUE(ct::run_on_job(QE_JOBTYPE_ZUB_RECON, [a, row] {
            a->hardware_id = row.hardware_id;
            a->id = row.id;
        }));
        ct::PrintCapture prints;
        ASSERT_TRUE(write_all(peer, ft::frame(numbered(0x42, 1))));
        EXPECT_TRUE(srig::peer_closed(peer, 2s));
        char line[160];
        std::snprintf(line, sizeof line, row.line.c_str(), sock);
        EXPECT_EQ(prints.count_of(line), 1u);
        EXPECT_EQ(anchor_->link_socket(), 0u);
        EXPECT_TRUE(Recorder::instance().calls(QE_JOBTYPE_ZUB_CONTROL, ZUB_EV_SOCKET_XX_ANCHOR_MSG).empty());
    }
}

TEST_F(engine_socket_AnchorRead, ConnectToAnchorOpensEveryConfiguredLinkAndNamesTheOnesThatFail)
{
    ct::FakeAnchor at(2);
    ASSERT_TRUE(at.ok());
    Anchor* silent = ct::configure_anchor(kAnchor + 1, 9);  // nothing listens on 127.0.0.9
    ct::PrintCapture prints;
    ASSERT_TRUE(ct::run_on_job(QE_JOBTYPE_ZUB_RECON, [] { zub_socket_connect_to_anchor(zub_context()); }));
    EXPECT_GE(at.accept_one(2s), 0);
    EXPECT_NE(anchor_->link_socket(), 0u);
    EXPECT_EQ(silent->link_socket(), 0u);
    EXPECT_EQ(prints.count_of("zub connect to anchor(127.0.0.9) failed"), 1u);
    EXPECT_EQ(prints.count_of("zub connect to anchor(127.0.0.2) failed"), 0u);
    silent->hardware_id = 0;
}

}  // namespace
