#include <gtest/gtest.h>

#include <ace/INET_Addr.h>

#include <cstring>
#include <sys/socket.h>

#include "CNBackComm.h"
#include "comm_back_acceptor.h"
#include "proxy_harness.h"

namespace {

using namespace std::chrono_literals;

const Bytes kHello = {0, 0, 0, 0, 0, 0, 0, 0, 0x69, 0x42, 0, 0, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                      0, 0, 0, 0, 0, 0, 0, 0, 0,    0,    0, 0, 0,    0,    0, 0, 0, 0, 0, 0, 0, 0, 0, 0};

class Proxy : public testing::Test {
protected:
    void SetUp() override {
        acceptor_.attach(&links_, &job_);
        ASSERT_EQ(acceptor_.listen(ACE_INET_Addr(static_cast<u_short>(0), "127.0.0.1"), reactor_.get()), 0);
        ACE_INET_Addr local;
        ASSERT_EQ(acceptor_.acceptor().get_local_addr(local), 0);
        port_ = local.get_port_number();
    }
    void TearDown() override { acceptor_.close(); }

    // A peer that has read its hello and registered under module; waits until the map has it.
    std::unique_ptr<Peer> registered_peer(WORD16 module, bool big_endian = false, int rcvbuf = 0) {
        auto peer = std::make_unique<Peer>(port_, rcvbuf);
        EXPECT_TRUE(peer->connected());
        EXPECT_EQ(peer->recv_exact(48, 2s), kHello);
        peer->send(registration(module, big_endian));
        EXPECT_TRUE(eventually([&] { return static_cast<bool>(links_.find(module)); }, 2s));
        return peer;
    }

    // The map and the job outlive the reactor: a link that sees its peer go away while the
    // fixture is torn down still unbinds itself, on the reactor thread or when the reactor
    // closes its remaining handlers.
    OmsLinkManager links_;
    FakeJobPort job_{local_jid(0xC004, 1)};
    ReactorThread reactor_;
    CommBackAcceptor acceptor_;
    std::uint16_t port_ = 0;
};

// The hand-over of message 0x12345 with body "abc" from peer module 33 to job 0x4000 of module
// 11: the platform header, then the head in host order, then the body.
Bytes expected_hand_over(BYTE endian_bytes_0, BYTE endian_bytes_2) {
    return Bytes{
        0x01, 0x00, 0x04, 0xC0, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, // DestJID
        0x01, 0x00, 0x00, 0x7F, 0x01, 0x00, 0x00, 0x02, 0x21, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0x05, 0x00, // SrcJID
        0x45, 0x23, 0x01, 0x00, 0x33, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, // id, len 48 + 3
        0x01, 0x04, 0x02, 0x00, 0x00, 0x00, 0x03, 0x00, 0x45, 0x23, 0x01, 0x00, // ver, msgver, type, size, id
        endian_bytes_0, endian_bytes_0, endian_bytes_2, endian_bytes_2,          // dwEndian as received
        0x01, 0x00, 0x00, 0x7F, 0x01, 0x00, 0x00, 0x02, 0x21, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0x05, 0x00, // tSender
        0x01, 0x00, 0x00, 0x40, 0x01, 0x00, 0x00, 0x00, 0x0B, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, // tReceiver
        'a',  'b',  'c',
    };
}

TEST_F(Proxy, HelloIsSentAtOnceOnConnect) {
    Peer peer(port_);
    ASSERT_TRUE(peer.connected());
    EXPECT_EQ(peer.recv_exact(48, 1s), kHello);
}

TEST_F(Proxy, LittleEndianPeerMessageReachesTheJobWithExactHeads) {
    auto peer = registered_peer(33);
    peer->send(peer_frame(0x12345, peer_jid(33), local_jid(0x4000, 11), bytes_of("abc")));
    const auto blocks = job_.wait_for(1, 2s);
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0], expected_hand_over(0xFF, 0x00));
}

TEST_F(Proxy, BigEndianPeerIsReadInItsOrderAndItsBodyLeftAlone) {
    auto peer = registered_peer(33, true);
    peer->send(peer_frame(0x12345, peer_jid(33), local_jid(0x4000, 11), bytes_of("abc"), true));
    const auto blocks = job_.wait_for(1, 2s);
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0], expected_hand_over(0x00, 0xFF));
}

TEST_F(Proxy, MessagesSharingASegmentOrSplitOverSeveralAreEachHandedOverOnce) {
    auto peer = registered_peer(34);
    Bytes two = peer_frame(501, peer_jid(34), local_jid(0x4000, 11), bytes_of("one"));
    const Bytes second = peer_frame(502, peer_jid(34), local_jid(0x4000, 11), bytes_of("two!"));
    two.insert(two.end(), second.begin(), second.end());
    peer->send(two);
    const Bytes split = peer_frame(503, peer_jid(34), local_jid(0x4000, 11), Bytes(3000, 0x5A));
    const std::size_t cuts[] = {0, 20, 47, 48, 1500, split.size()};
    for (std::size_t i = 0; i + 1 < std::size(cuts); ++i) {
        peer->send(Bytes(split.begin() + static_cast<long>(cuts[i]), split.begin() + static_cast<long>(cuts[i + 1])));
        std::this_thread::sleep_for(20ms);
    }
    const auto blocks = job_.wait_for(3, 2s);
    std::this_thread::sleep_for(50ms);
    ASSERT_EQ(job_.count(), 3u);
    T_CNMessageHead h[3];
    for (int i = 0; i < 3; ++i) {
        std::memcpy(&h[i], blocks[static_cast<std::size_t>(i)].data(), sizeof h[i]);
        EXPECT_EQ(h[i].dwMsgID, 501u + static_cast<WORD32>(i));
    }
    EXPECT_EQ(Bytes(blocks[0].begin() + 92, blocks[0].end()), bytes_of("one"));
    EXPECT_EQ(Bytes(blocks[1].begin() + 92, blocks[1].end()), bytes_of("two!"));
    EXPECT_EQ(Bytes(blocks[2].begin() + 92, blocks[2].end()), Bytes(3000, 0x5A));
}

TEST_F(Proxy, OnlyWhatCanBePassedOnReachesTheJob) {
    auto peer = registered_peer(35);
    JID no_route = peer_jid(35);
    no_route.ucRouteType = 0;
    peer->send(peer_frame(601, no_route, local_jid(0x4000, 11), bytes_of("echo?")));
    peer->send(peer_frame(602, peer_jid(35), local_jid(0x4000, 11), Bytes(LinkInput::kMaxBody + 1, 1)));
    peer->send(peer_frame(kOmcMsgHeartbeat, peer_jid(35), JID{}, {}));
    job_.refuse(true);
    peer->send(peer_frame(603, peer_jid(35), local_jid(0x4000, 11), bytes_of("refused")));
    std::this_thread::sleep_for(100ms);
    job_.refuse(false);
    peer->send(peer_frame(604, peer_jid(35), local_jid(0x4000, 11), bytes_of("kept")));
    const auto blocks = job_.wait_for(1, 2s);
    std::this_thread::sleep_for(50ms);
    ASSERT_EQ(job_.count(), 1u);
    T_CNMessageHead h;
    std::memcpy(&h, blocks[0].data(), sizeof h);
    EXPECT_EQ(h.dwMsgID, 604u);
    EXPECT_TRUE(links_.find(35)) << "the link stays up";
}

TEST_F(Proxy, MessagesBeforeRegistrationAreSkipped) {
    Peer peer(port_);
    ASSERT_EQ(peer.recv_exact(48, 1s), kHello);
    peer.send(peer_frame(700, peer_jid(36), local_jid(0x4000, 11), bytes_of("early")));
    peer.send(registration(36));
    ASSERT_TRUE(eventually([&] { return static_cast<bool>(links_.find(36)); }, 2s));
    peer.send(peer_frame(701, peer_jid(36), local_jid(0x4000, 11), bytes_of("late")));
    const auto blocks = job_.wait_for(1, 2s);
    ASSERT_EQ(blocks.size(), 1u);
    T_CNMessageHead h;
    std::memcpy(&h, blocks[0].data(), sizeof h);
    EXPECT_EQ(h.dwMsgID, 701u);
}

TEST_F(Proxy, JobMessageGoesToTheRegisteredPeerWithExactHead) {
    auto peer = registered_peer(33);
    const Bytes body = bytes_of("xyz");
    const JID receiver = peer_jid(33);
    const JID sender = local_jid(0x4000, 11);
    ASSERT_EQ(backcomm_send(links_, 0x00070009, body.data(), 3, &receiver, &sender), 0u);
    const Bytes expected = {
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 0x00, 0x09, 0x00, 0x07, 0x00, 0xFF, 0xFF, 0x00, 0x00,
        0x01, 0x00, 0x00, 0x40, 0x01, 0x00, 0x00, 0x00, 0x0B, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00,
        0x01, 0x00, 0x00, 0x7F, 0x01, 0x00, 0x00, 0x02, 0x21, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0x05, 0x00,
        'x',  'y',  'z',
    };
    EXPECT_EQ(next_message(*peer, 2s), expected);
}

TEST_F(Proxy, SendingWithoutARegisteredLinkFails) {
    const JID receiver = peer_jid(77);
    const JID sender = local_jid(0x4000, 11);
    const Bytes body = bytes_of("lost");
    EXPECT_EQ(backcomm_send(links_, 1, body.data(), 4, &receiver, &sender), 1u);
    Peer unregistered(port_);
    ASSERT_EQ(unregistered.recv_exact(48, 1s), kHello);
    EXPECT_EQ(backcomm_send(links_, 1, body.data(), 4, &receiver, &sender), 1u);
    EXPECT_EQ(backcomm_send(links_, 1, nullptr, 4, &receiver, &sender), 1u);
}

TEST_F(Proxy, SecondRegistrationOfAModuleIsRefusedAndTheFirstStays) {
    auto first = registered_peer(40);
    Peer second(port_);
    ASSERT_EQ(second.recv_exact(48, 1s), kHello);
    second.send(registration(40));
    EXPECT_TRUE(second.closed_within(2s));
    const JID receiver = peer_jid(40);
    const JID sender = local_jid(0x4000, 11);
    const Bytes body = bytes_of("still here");
    ASSERT_EQ(backcomm_send(links_, 9, body.data(), static_cast<WORD16>(body.size()), &receiver, &sender), 0u);
    const Bytes got = next_message(*first, 2s);
    ASSERT_EQ(got.size(), 48 + body.size());
    EXPECT_EQ(Bytes(got.begin() + 48, got.end()), body);
}

TEST_F(Proxy, ModuleZeroRegistersClosesAndRegistersAgain) {
    const JID receiver = peer_jid(0);
    const JID sender = local_jid(0x4000, 11);
    const Bytes body = bytes_of("zero");
    {
        auto peer = registered_peer(0);
        ASSERT_EQ(backcomm_send(links_, 5, body.data(), 4, &receiver, &sender), 0u);
        EXPECT_EQ(next_message(*peer, 2s).size(), 52u);
    }
    ASSERT_TRUE(eventually([&] { return links_.total_size() == 0; }, 2s)) << "a closed module 0 link is unbound";
    auto again = registered_peer(0);
    ASSERT_EQ(backcomm_send(links_, 6, body.data(), 4, &receiver, &sender), 0u);
    const Bytes got = next_message(*again, 2s);
    ASSERT_EQ(got.size(), 52u);
    EXPECT_EQ(got[8], 6);
}

struct StreamCheck {
    int messages = 0;
    int heartbeats_inside_burst = 0;
    bool sane = true;
};

TEST_F(Proxy, HeartbeatNeverLandsInsideALargeBurst) {
    auto peer = registered_peer(50, false, 4096);
    {
        LinkHold<OmsProxyService> link = links_.find(50);
        ASSERT_TRUE(link);
        const int small = 4096; // keep the burst in the link's own queue, not in the kernel
        ASSERT_EQ(::setsockopt(link->peer().get_handle(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small), 0);
    }
    const JID receiver = peer_jid(50);
    const JID sender = local_jid(0x4000, 11);
    constexpr int kMessages = 52;
    constexpr std::size_t kBody = 20000; // 52 x 20048 bytes: just over 1 MB
    // The job keeps sending for about 4 s, so heartbeats fall due while blocks are part sent.
    std::thread job_thread([&] {
        for (int i = 0; i < kMessages; ++i) {
            const Bytes body(kBody, static_cast<BYTE>(i));
            EXPECT_EQ(backcomm_send(links_, 1000 + static_cast<WORD32>(i), body.data(), kBody, &receiver, &sender), 0u);
            std::this_thread::sleep_for(75ms);
        }
    });
    // Drain slowly, so that the link's queue and socket stay busy.
    StreamCheck check;
    [&] {
        const auto start = std::chrono::steady_clock::now();
        while (check.messages < kMessages && check.sane) {
            const Bytes head_wire = peer->recv_exact(48, 5s);
            ASSERT_EQ(head_wire.size(), 48u);
            const T_OMCMsgHead head = omc_head_decode(head_wire.data());
            ASSERT_EQ(head.dwEndian, kOmcEndianMark);
            if (head.dwMsgId == kOmcMsgHeartbeat) {
                EXPECT_EQ(head.wMsgSize, 0);
                if (check.messages > 0) {
                    ++check.heartbeats_inside_burst;
                }
                continue;
            }
            ASSERT_EQ(head.dwMsgId, 1000u + static_cast<WORD32>(check.messages));
            ASSERT_EQ(head.wMsgSize, kBody);
            Bytes body;
            while (body.size() < kBody) {
                const Bytes part = peer->recv_exact(std::min<std::size_t>(4096, kBody - body.size()), 5s);
                ASSERT_FALSE(part.empty());
                body.insert(body.end(), part.begin(), part.end());
                if (std::chrono::steady_clock::now() - start < 6000ms) {
                    std::this_thread::sleep_for(20ms);
                }
            }
            check.sane = body == Bytes(kBody, static_cast<BYTE>(check.messages));
            ++check.messages;
        }
    }();
    job_thread.join();
    EXPECT_TRUE(check.sane);
    EXPECT_EQ(check.messages, kMessages);
    EXPECT_GE(check.heartbeats_inside_burst, 1) << "the burst was drained before a heartbeat fell due";
}

TEST_F(Proxy, PeerResettingMidSendClosesOnlyItsLink) {
    auto peer = registered_peer(51, false, 4096);
    {
        LinkHold<OmsProxyService> link = links_.find(51);
        ASSERT_TRUE(link);
        const int small = 4096;
        ::setsockopt(link->peer().get_handle(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    }
    auto bystander = registered_peer(52);
    const JID receiver = peer_jid(51);
    const JID sender = local_jid(0x4000, 11);
    const Bytes body(20000, 0x33);
    for (int i = 0; i < 52; ++i) {
        backcomm_send(links_, 1, body.data(), static_cast<WORD16>(body.size()), &receiver, &sender);
    }
    EXPECT_FALSE(peer->recv_exact(30000, 1s).empty());
    peer->reset();
    for (int i = 0; i < 20; ++i) { // the job keeps sending into the dying link
        backcomm_send(links_, 2, body.data(), static_cast<WORD16>(body.size()), &receiver, &sender);
    }
    EXPECT_TRUE(eventually([&] { return !links_.find(51); }, 3s));
    const JID other = peer_jid(52);
    ASSERT_EQ(backcomm_send(links_, 3, body.data(), 10, &other, &sender), 0u);
    const Bytes got = next_message(*bystander, 2s);
    ASSERT_EQ(got.size(), 58u);
    EXPECT_EQ(got[8], 3);
}

} // namespace

namespace {

TEST_F(Proxy, ReadWithNothingThereIsNotADeadLink) {
    auto peer = registered_peer(60);
    LinkHold<OmsProxyService> link = links_.find(60);
    ASSERT_TRUE(link);
    // Called on the reactor thread with nothing to read: the non-blocking receive says "try again".
    ASSERT_TRUE(run_on_reactor(reactor_.get(), [&] { link->handle_input(link->peer().get_handle()); }));
    EXPECT_FALSE(link->closed());
    peer->send(peer_frame(801, peer_jid(60), local_jid(0x4000, 11), bytes_of("still open")));
    EXPECT_EQ(job_.wait_for(1, 2s).size(), 1u);
}

} // namespace

namespace {

TEST_F(Proxy, SendBytesMarksTheCopysByteOrderAndLeavesTheCallersBuffer) {
    auto peer = registered_peer(61);
    LinkHold<OmsProxyService> link = links_.find(61);
    ASSERT_TRUE(link);
    Bytes frame = head_bytes(omc_link_head(0x31));
    frame[12] = 0x78; // a caller's stale mark
    frame[13] = 0x56;
    frame[14] = 0x34;
    frame[15] = 0x12;
    const Bytes before = frame;
    ASSERT_EQ(link->sendBytes(frame.data(), frame.size()), 1);
    EXPECT_EQ(frame, before);
    const Bytes got = next_message(*peer, 2s);
    ASSERT_EQ(got.size(), 48u);
    EXPECT_EQ(Bytes(got.begin() + 12, got.begin() + 16), (Bytes{0xFF, 0xFF, 0x00, 0x00}));
    EXPECT_EQ(got[8], 0x31);
}

} // namespace
