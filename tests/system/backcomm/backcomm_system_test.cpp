// The maintenance program's proxy on port 5059, seen from outside: a fake peer on its TCP port
// and a stand-in location engine on the engine's intra-board UDP port 20110 (in one case the real
// engine).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <thread>

#include "proxy_harness.h"
#include "sandbox/daemon.h"
#include "sandbox/files.h"
#include "sandbox/harness.h"
#include "sandbox/udp_probe.h"

namespace {

using namespace std::chrono_literals;
using vorlen::sandbox::Daemon;
using vorlen::sandbox::UdpProbe;
using Clock = std::chrono::steady_clock;

constexpr std::uint16_t kProxyPort = 5059;
constexpr std::uint16_t kOmpPort = 20010;
constexpr std::uint16_t kEnginePort = 20110;
const char* const kLog = "/qvx/omp/log/QES_OMP.log";

const Bytes kHello = {0, 0, 0, 0, 0, 0, 0, 0, 0x69, 0x42, 0, 0, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                      0, 0, 0, 0, 0, 0, 0, 0, 0,    0,    0, 0, 0,    0,    0, 0, 0, 0, 0, 0, 0, 0, 0, 0};

// The engine's control job as the peers address it: job 0x4000, bureau 1, module 11.
JID engine_jid() {
    JID j{};
    j.dwJno = 0x40000001;
    j.dwDevId = 0x01000001;
    j.wModule = 11;
    j.wUnit = 0xFFFF;
    return j;
}

// An intra-board datagram as the engine sends one: header, then data.
Bytes datagram(const JID& dest, const JID& src, WORD32 id, const Bytes& data) {
    T_CNMessageHead h{};
    h.DestJID = dest;
    h.SrcJID = src;
    h.dwMsgID = id;
    h.dwMsgLen = static_cast<WORD32>(data.size());
    Bytes b(sizeof h);
    std::memcpy(b.data(), &h, sizeof h);
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

double seconds_since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

// The program's timer queue and this test read different clocks (each rounded on its own).
constexpr double kTickClockSlack = 0.05;

class BackCommSystem : public vorlen::sandbox::SandboxTest {
protected:
    void SetUp() override {
        SandboxTest::SetUp();
        if (IsSkipped()) {
            return;
        }
        start_program();
    }

    void start_program() {
        daemon_.emplace(Daemon::start(vorlen::sandbox::install_program(QES_OMP_BIN, "/qvx/omp")));
        ASSERT_GT(daemon_->pid(), 0);
        const bool listening = eventually(
            [] {
                Peer probe(kProxyPort);
                return probe.connected();
            },
            10s);
        ASSERT_TRUE(listening) << vorlen::sandbox::read_file(kLog);
    }

    // A peer that has read its hello and sent its registration.
    std::unique_ptr<Peer> registered(WORD16 module, bool big_endian = false, int rcvbuf = 0) {
        // A module may have registered before (and closed): wait for this registration's line.
        const std::string line = "registered wModule[" + std::to_string(module) + "]";
        const size_t before = vorlen::sandbox::count_of(vorlen::sandbox::read_file(kLog), line);
        auto peer = std::make_unique<Peer>(kProxyPort, rcvbuf);
        EXPECT_TRUE(peer->connected());
        EXPECT_EQ(peer->recv_exact(48, 2s), kHello);
        peer->send(registration(module, big_endian));
        EXPECT_TRUE(vorlen::sandbox::wait_for_text(kLog, line, 2s, before + 1));
        return peer;
    }

    std::optional<Daemon> daemon_;
};

TEST_F(BackCommSystem, HelloAtOnceAndUnregisteredLinkClosedAfter14s) {
    // Taken before the connect: the link is accepted, and its ticks counted, after this however
    // late this thread runs again.
    const auto before = Clock::now();
    Peer peer(kProxyPort);
    ASSERT_TRUE(peer.connected());
    EXPECT_EQ(peer.recv_exact(48, 2s), kHello);  // long before a tick-driven send could come
    ASSERT_TRUE(peer.closed_within(16s));
    // The 15th tick, 14 s after the accept; a 16th would be a whole second later.
    const double after = seconds_since(before);
    EXPECT_GT(after, 14.0 - kTickClockSlack);
    EXPECT_LT(after, 15.0);
    EXPECT_TRUE(daemon_->running());
    EXPECT_NE(vorlen::sandbox::read_file(kLog).find("Accept link overtime, so to close socket!"), std::string::npos);
}

TEST_F(BackCommSystem, RegisteredLinkGetsHeartbeatsEvery3sAndIsClosedAfter15To16sOfSilence) {
    // Taken before the registration: its ticks, and so the heartbeats, all come after this.
    const auto before = Clock::now();
    auto peer = registered(21);
    std::vector<Clock::time_point> beats;
    Clock::time_point last_from_peer = Clock::now();
    bool sent_own_heartbeat = false;
    while (!sent_own_heartbeat || beats.size() < 4) {
        const Bytes head = peer->recv_exact(48, 5s);
        ASSERT_EQ(head.size(), 48u) << "heartbeat missing";
        const T_OMCMsgHead h = omc_head_decode(head.data());
        ASSERT_EQ(h.dwMsgId, kOmcMsgHeartbeat);
        EXPECT_EQ(head, head_bytes(omc_link_head(kOmcMsgHeartbeat)));
        beats.push_back(Clock::now());
        if (beats.size() == 3) { // about 8 s in: one heartbeat from the peer keeps the link
            last_from_peer = Clock::now();  // before the send: the silence is counted after it
            peer->send(peer_frame(kOmcMsgHeartbeat, peer_jid(21), JID{}, {}));
            sent_own_heartbeat = true;
        }
    }
    // Every third tick from the registration: the n-th heartbeat is no sooner than 3n - 1 s after
    // it (the first tick may follow the registration at once). Late ticks only come later, so
    // the fourth's upper bound leaves room for them; every fourth tick would give 15 s.
    for (std::size_t i = 0; i < beats.size(); ++i) {
        const double at = std::chrono::duration<double>(beats[i] - before).count();
        EXPECT_GT(at, 3.0 * static_cast<double>(i + 1) - 1.0 - kTickClockSlack) << "heartbeat " << i;
    }
    EXPECT_LT(std::chrono::duration<double>(beats[3] - before).count(), 14.0);
    // Silent from here on: heartbeats keep coming until the link is closed.
    while (true) {
        const Bytes head = peer->recv_exact(48, 5s);
        if (head.size() < 48) {
            break;
        }
        EXPECT_EQ(omc_head_decode(head.data()).dwMsgId, kOmcMsgHeartbeat);
    }
    const double silent = seconds_since(last_from_peer);
    EXPECT_GT(silent, 15.0 - kTickClockSlack);
    EXPECT_LT(silent, 16.6);
    EXPECT_TRUE(daemon_->running());
}

class BackCommForwarding : public BackCommSystem, public testing::WithParamInterface<bool> {};

TEST_P(BackCommForwarding, BothWaysWithExactHeadsWhateverTheSegments) {
    const bool big_endian = GetParam();
    UdpProbe engine(kEnginePort);
    ASSERT_TRUE(engine.ok());
    auto peer = registered(33, big_endian);

    // Peer -> engine: two messages in one segment, then one split over three.
    Bytes two = peer_frame(0x00030001, peer_jid(33), engine_jid(), bytes_of("ping"), big_endian);
    const Bytes second = peer_frame(0x00030002, peer_jid(33), engine_jid(), {1, 2, 3, 4, 5}, big_endian);
    two.insert(two.end(), second.begin(), second.end());
    peer->send(two);
    Bytes body3(1000);
    for (std::size_t i = 0; i < body3.size(); ++i) {
        body3[i] = static_cast<BYTE>(i * 7);
    }
    const Bytes split = peer_frame(0x00030003, peer_jid(33), engine_jid(), body3, big_endian);
    peer->send(Bytes(split.begin(), split.begin() + 30));
    std::this_thread::sleep_for(50ms);
    peer->send(Bytes(split.begin() + 30, split.begin() + 600));
    std::this_thread::sleep_for(50ms);
    peer->send(Bytes(split.begin() + 600, split.end()));

    const Bytes expected1 = {
        0x01, 0x00, 0x00, 0x40, 0x01, 0x00, 0x00, 0x01, 0x0B, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, // engine
        0x01, 0x00, 0x00, 0x7F, 0x01, 0x00, 0x00, 0x02, 0x21, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0x05, 0x00, // peer
        0x01, 0x00, 0x03, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,                         // id, len
        'p',  'i',  'n',  'g',
    };
    const auto d1 = engine.receive(3s);
    ASSERT_TRUE(d1.has_value());
    EXPECT_EQ(d1->bytes, expected1);
    const auto d2 = engine.receive(3s);
    ASSERT_TRUE(d2.has_value());
    EXPECT_EQ(d2->bytes, datagram(engine_jid(), peer_jid(33), 0x00030002, {1, 2, 3, 4, 5}));
    const auto d3 = engine.receive(3s);
    ASSERT_TRUE(d3.has_value());
    EXPECT_EQ(d3->bytes, datagram(engine_jid(), peer_jid(33), 0x00030003, body3));
    EXPECT_FALSE(engine.receive(200ms).has_value()) << "each message is forwarded once";

    // Engine -> peer: the answer to the peer's JID comes back on its link, in our byte order.
    ASSERT_TRUE(engine.send_to(kOmpPort, datagram(peer_jid(33), engine_jid(), 0x00040001, bytes_of("pong!!"))));
    const Bytes expected_out = {
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x06, 0x00, 0x01, 0x00, 0x04, 0x00, 0xFF, 0xFF, 0x00, 0x00,
        0x01, 0x00, 0x00, 0x40, 0x01, 0x00, 0x00, 0x01, 0x0B, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, // engine
        0x01, 0x00, 0x00, 0x7F, 0x01, 0x00, 0x00, 0x02, 0x21, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0x05, 0x00, // peer
        'p',  'o',  'n',  'g',  '!',  '!',
    };
    EXPECT_EQ(next_message(*peer, 3s), expected_out);
}

INSTANTIATE_TEST_SUITE_P(ByteOrder, BackCommForwarding, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& p) { return p.param ? "BigEndianPeer" : "LittleEndianPeer"; });

TEST_F(BackCommSystem, SecondRegistrationOfAModuleIsRefusedAndTheFirstKeepsIt) {
    UdpProbe engine(kEnginePort);
    ASSERT_TRUE(engine.ok());
    auto first = registered(40);
    Peer second(kProxyPort);
    ASSERT_EQ(second.recv_exact(48, 2s), kHello);
    second.send(registration(40));
    EXPECT_TRUE(second.closed_within(2s));
    EXPECT_TRUE(vorlen::sandbox::wait_for_text(kLog, "fail to regConection [wModule=40]", 1s));
    ASSERT_TRUE(engine.send_to(kOmpPort, datagram(peer_jid(40), engine_jid(), 0x11, bytes_of("first"))));
    const Bytes got = next_message(*first, 3s);
    ASSERT_EQ(got.size(), 53u);
    EXPECT_EQ(Bytes(got.begin() + 48, got.end()), bytes_of("first"));
}

TEST_F(BackCommSystem, ModuleZeroRegistersClosesAndRegistersAgain) {
    UdpProbe engine(kEnginePort);
    ASSERT_TRUE(engine.ok());
    for (int round = 0; round < 2; ++round) {
        auto peer = std::make_unique<Peer>(kProxyPort);
        ASSERT_EQ(peer->recv_exact(48, 2s), kHello);
        peer->send(registration(0));
        ASSERT_TRUE(vorlen::sandbox::wait_for_text(kLog, "registered wModule[0]", 2s, static_cast<size_t>(round + 1)))
            << "round " << round;
        const BYTE tag = static_cast<BYTE>('A' + round);
        ASSERT_TRUE(engine.send_to(kOmpPort, datagram(peer_jid(0), engine_jid(), 0x22, {tag})));
        const Bytes got = next_message(*peer, 3s);
        ASSERT_EQ(got.size(), 49u) << "round " << round;
        EXPECT_EQ(got[48], tag);
        peer.reset();
        ASSERT_TRUE(vorlen::sandbox::wait_for_text(kLog, "handle_close, wModule[0]", 2s, static_cast<size_t>(round + 1)));
    }
}

// Small TCP send buffers in this sandbox's network namespace, so that the program's output waits
// in the link's own queue, part sent, instead of in the kernel.
class BackCommBurst : public BackCommSystem {
protected:
    void SetUp() override {
        if (vorlen::sandbox::inside() && !vorlen::sandbox::refused()) {
            std::ofstream("/proc/sys/net/ipv4/tcp_wmem") << "4096 8192 16384\n";
            small_buffers_ = vorlen::sandbox::read_file("/proc/sys/net/ipv4/tcp_wmem").rfind("4096", 0) == 0;
        }
        BackCommSystem::SetUp();
    }
    bool small_buffers_ = false;
};

// The engine sends a 1 MB burst (52 messages of 20000 bytes) paced over about 4 s to a peer that
// reads slowly.
TEST_F(BackCommBurst, NoHeartbeatInsideALargeBurst) {
    if (!small_buffers_) {
        std::printf("send buffers left as they are: the burst mostly waits in the kernel\n");
    }
    UdpProbe engine(kEnginePort);
    ASSERT_TRUE(engine.ok());
    auto peer = registered(50, false, 4096);
    constexpr int kMessages = 52;
    constexpr std::size_t kBody = 20000;
    std::thread sender([&] {
        for (int i = 0; i < kMessages; ++i) {
            engine.send_to(kOmpPort, datagram(peer_jid(50), engine_jid(), 0x1000 + static_cast<WORD32>(i),
                                              Bytes(kBody, static_cast<BYTE>(i))));
            std::this_thread::sleep_for(75ms);
        }
    });
    int messages = 0;
    int heartbeats_inside = 0;
    const auto start = Clock::now();
    [&] {
        while (messages < kMessages) {
            const Bytes wire = peer->recv_exact(48, 5s);
            ASSERT_EQ(wire.size(), 48u) << "after " << messages << " messages";
            const T_OMCMsgHead h = omc_head_decode(wire.data());
            ASSERT_EQ(h.dwEndian, kOmcEndianMark);
            if (h.dwMsgId == kOmcMsgHeartbeat) {
                ASSERT_EQ(h.wMsgSize, 0);
                heartbeats_inside += messages > 0 ? 1 : 0;
                continue;
            }
            ASSERT_EQ(h.dwMsgId, 0x1000u + static_cast<WORD32>(messages));
            ASSERT_EQ(h.wMsgSize, kBody);
            Bytes body;
            while (body.size() < kBody) {
                const Bytes part = peer->recv_exact(std::min<std::size_t>(4096, kBody - body.size()), 5s);
                ASSERT_FALSE(part.empty());
                body.insert(body.end(), part.begin(), part.end());
                if (seconds_since(start) < 6.0) {
                    std::this_thread::sleep_for(20ms);
                }
            }
            ASSERT_TRUE(body == Bytes(kBody, static_cast<BYTE>(messages))) << "body of message " << messages << " corrupted";
            ++messages;
        }
    }();
    sender.join();
    EXPECT_EQ(messages, kMessages);
    EXPECT_GE(heartbeats_inside, 1);
    EXPECT_TRUE(daemon_->running());
}

TEST_F(BackCommSystem, PeerResettingMidSendLeavesTheProgramRunning) {
    UdpProbe engine(kEnginePort);
    ASSERT_TRUE(engine.ok());
    auto peer = registered(51, false, 4096);
    for (int i = 0; i < 52; ++i) {
        engine.send_to(kOmpPort, datagram(peer_jid(51), engine_jid(), 0x2000, Bytes(20000, 0x44)));
        if (i == 10) {
            EXPECT_FALSE(peer->recv_exact(10000, 1s).empty());
            peer->reset();
        }
        std::this_thread::sleep_for(5ms);
    }
    ASSERT_TRUE(vorlen::sandbox::wait_for_text(kLog, "handle_close, wModule[51]", 3s));
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(daemon_->running());
    auto again = registered(51);
    ASSERT_TRUE(engine.send_to(kOmpPort, datagram(peer_jid(51), engine_jid(), 0x2001, bytes_of("alive"))));
    const Bytes got = next_message(*again, 3s);
    ASSERT_EQ(got.size(), 53u);
    EXPECT_EQ(Bytes(got.begin() + 48, got.end()), bytes_of("alive"));
}

// Both ways through the real engine: a peer's registration to the engine's sequencer crosses from
// qes_omp's port to the engine, and the engine's answer to the peer's JID (route type 5) crosses
// back from the engine's port; a message from any other port to either program acts on nothing.
TEST_F(BackCommSystem, RelaysBetweenAPeerAndTheRealEngineAndNothingFromAnotherPort) {
    ASSERT_TRUE(vorlen::sandbox::write_file("/qvx/omp/omp.cfg", "[QES]\nbureau=1\n[EndQES]\n"));
    Daemon engine = Daemon::start(vorlen::sandbox::install_program(VORLEN_BIN, "/qvx/zub"));
    const char* const zub_log = "/qvx/zub/log/uwb_zub.log";
    ASSERT_TRUE(vorlen::sandbox::wait_for_text(zub_log, "Power on success line=", 20s))
        << vorlen::sandbox::read_file(zub_log);
    JID engine_scs = engine_jid();
    engine_scs.dwJno = 0x00000001;  // CN_SCS_JOB
    struct Row {
        const char* road;
        bool relayed;  // through 5059, else a datagram from another port
        WORD16 module;
    };
    for (const Row& r : {Row{"a peer on 5059", true, 60}, Row{"a datagram from port 20300", false, 61}}) {
        SCOPED_TRACE(r.road);
        auto peer = registered(r.module);
        if (r.relayed) {
            peer->send(peer_frame(1, peer_jid(r.module), engine_scs, {}));
        } else {
            // The registration to the engine, and the engine's answer to the peer as if it came from
            // the engine: either, taken, would reach the peer.
            UdpProbe stranger(20300);
            ASSERT_TRUE(stranger.ok());
            ASSERT_TRUE(stranger.send_to(kEnginePort, datagram(engine_scs, peer_jid(r.module), 1, {})));
            ASSERT_TRUE(stranger.send_to(kOmpPort, datagram(peer_jid(r.module), engine_scs, 2, {})));
        }
        const Bytes got = next_message(*peer, r.relayed ? 5s : 2s);
        if (!r.relayed) {
            EXPECT_TRUE(got.empty());
            continue;
        }
        ASSERT_EQ(got.size(), 48u);
        const T_OMCMsgHead h = omc_head_decode(got.data());
        EXPECT_EQ(h.dwMsgId, 2u);  // the sequencer's answer to a registration
        EXPECT_EQ(std::memcmp(&h.tSender, &engine_scs, sizeof(JID)), 0);
        const JID to = peer_jid(r.module);
        EXPECT_EQ(std::memcmp(&h.tReceiver, &to, sizeof(JID)), 0);
    }
    EXPECT_TRUE(engine.running());
    EXPECT_TRUE(daemon_->running());
    EXPECT_NE(vorlen::sandbox::read_file(zub_log).find("CNIntraMsgHandler: datagram of 44 bytes from "
                                                       "127.0.0.1:20300 is not from the partner program "
                                                       "(127.0.0.1:20010), dropped (1 so far)"),
              std::string::npos);
    EXPECT_NE(vorlen::sandbox::read_file(kLog).find("CNIntraMsgHandler: datagram of 44 bytes from 127.0.0.1:20300 "
                                                    "is not from the partner program (127.0.0.1:20110), dropped "
                                                    "(1 so far)"),
              std::string::npos);
}

} // namespace
