// The back-communication job on the real platform: power-on, the peer-to-job and job-to-peer
// directions through the intra-board transport and the route-type-5 diversion. The process
// runs in a network namespace of its own (the intra-board port 20010 and port 5059 are fixed);
// where that is refused every case is skipped.
#include <gtest/gtest.h>

#include <ace/INET_Addr.h>

#include <atomic>
#include <csignal>
#include <cstring>
#include <functional>
#include <mutex>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "CNBackComm.h"
#include "VorlenComm.h"
#include "proxy_harness.h"

namespace {

using namespace std::chrono_literals;

constexpr WORD16 kProbeType = 0x4000;
constexpr WORD32 kRunFn = 0xFEED0001;

bool g_netns = false;

struct Seen {
    WORD32 id;
    JID sender;
    Bytes body;
};

std::mutex g_seen_lock;
std::condition_variable g_seen_cv;
std::vector<Seen> g_seen;

void probe_entry(WORD16, WORD32 dwMsgId, void* pMsgBody, void*, BYTE) {
    if (dwMsgId == kRunFn) {
        std::function<void()>* fn = nullptr;
        std::memcpy(&fn, pMsgBody, sizeof fn);
        (*fn)();
        return;
    }
    Seen s{dwMsgId, {}, {}};
    XOS_Sender(&s.sender);
    const BYTE* body = static_cast<const BYTE*>(pMsgBody);
    s.body.assign(body, body + OSS_GetMsgDataLen());
    std::lock_guard<std::mutex> g(g_seen_lock);
    g_seen.push_back(s);
    g_seen_cv.notify_all();
}

const T_JobCreatReg kTable[] = {
    {0x0000, 10, 1, 1, "CN_SCS_JOB", probe_entry, 0, 0x400, 0},
    {0x0001, 10, 1, 1, "notexist", notexist_Job_Entry, 0, 0x1000, 0x10000},
    {kBackCommJobType, 11, 2, 1, "BackComm", backComm_Job_Entry, 0, 0x1000, 0},
    {kProbeType, 10, 1, 1, "PROBE", probe_entry, 0, 0x400, 0},
    {0x5FFF, 1, 1, 1, "END", nullptr, 0, 0, 0},
};

JID own_jid(WORD16 type) { return local_jid(type, 1); }

// Sends from outside any job (the local path needs no current job).
void send_to(WORD16 type, WORD32 id, const Bytes& data, const JID& sender) {
    const JID receiver = own_jid(type);
    ASSERT_EQ(XOS_SendAsynMsgNJ(id, const_cast<BYTE*>(data.data()), static_cast<WORD16>(data.size()), 0, 0, &sender,
                                &receiver),
              0u);
}

// Runs fn as the probe job, on its thread.
void run_as_probe(std::function<void()> fn) {
    std::atomic<bool> done{false};
    std::function<void()> wrapped = [&] {
        fn();
        done = true;
    };
    std::function<void()>* p = &wrapped;
    Bytes body(sizeof p);
    std::memcpy(body.data(), &p, sizeof p);
    send_to(kProbeType, kRunFn, body, own_jid(kProbeType));
    ASSERT_TRUE(eventually([&] { return done.load(); }, 5s));
}

std::vector<Seen> wait_seen(std::size_t n, std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> g(g_seen_lock);
    g_seen_cv.wait_for(g, limit, [&] { return g_seen.size() >= n; });
    return g_seen;
}

class BackCommJob : public testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!g_netns) {
            return;
        }
        CN_PlatformProfile prof = CN_OmpProfile(kTable);
        ASSERT_EQ(CN_PlatformInit(&prof), 0);
        CN_StampPowerOnTime();
        ASSERT_EQ(CN_StartControlTasks(), CN_START_OK);
        ASSERT_EQ(CN_StartReactorThread(), 0);
        const JID from = own_jid(0x0000);
        send_to(kBackCommJobType, CN_MSG_POWER_ON, {}, from);
        ASSERT_TRUE(eventually([] { return XOS_GetJobAppState(own_jid(kBackCommJobType).dwJno) == 1; }, 5s));
    }
    static void TearDownTestSuite() {
        if (g_netns) {
            CN_PlatformShutdown();
        }
    }
    void SetUp() override {
        if (!g_netns) {
            GTEST_SKIP() << "no network namespace of our own";
        }
        std::lock_guard<std::mutex> g(g_seen_lock);
        g_seen.clear();
    }

    std::unique_ptr<Peer> registered(WORD16 module) {
        auto peer = std::make_unique<Peer>(kBackCommPort);
        EXPECT_TRUE(peer->connected());
        EXPECT_EQ(peer->recv_exact(48, 2s).size(), 48u);
        peer->send(registration(module));
        EXPECT_TRUE(eventually([&] { return static_cast<bool>(backcomm_connections().find(module)); }, 2s));
        return peer;
    }
};

TEST_F(BackCommJob, PowerOnStartsTheServerAndIgnoresSigpipe) {
    Peer peer(kBackCommPort);
    ASSERT_TRUE(peer.connected());
    const Bytes hello = peer.recv_exact(48, 2s);
    ASSERT_EQ(hello.size(), 48u);
    EXPECT_EQ(omc_head_decode(hello.data()).dwMsgId, kOmcMsgHello);
    struct sigaction current{};
    ASSERT_EQ(sigaction(SIGPIPE, nullptr, &current), 0);
    EXPECT_EQ(current.sa_handler, SIG_IGN);
}

TEST_F(BackCommJob, PeerMessageReachesTheLocalJobAsThePeerSentIt) {
    auto peer = registered(33);
    const Bytes body = {0xDE, 0xAD, 0xBE, 0xEF, 0x00, 0x01};
    peer->send(peer_frame(0x00050007, peer_jid(33), own_jid(kProbeType), body));
    const auto seen = wait_seen(1, 3s);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].id, 0x00050007u);
    EXPECT_EQ(seen[0].body, body);
    const JID expected_sender = peer_jid(33);
    EXPECT_EQ(std::memcmp(&seen[0].sender, &expected_sender, sizeof(JID)), 0);
}

TEST_F(BackCommJob, JobAnswerToAPeerJidGoesOutOnThatPeersLink) {
    auto peer = registered(34);
    const Bytes body = bytes_of("answer");
    const JID to_peer = peer_jid(34);
    run_as_probe([&] {
        EXPECT_EQ(XOS_SendAsynMsg(0x00060001, const_cast<BYTE*>(body.data()), static_cast<WORD16>(body.size()), 0, 0,
                                  &to_peer),
                  0u);
    });
    const Bytes got = next_message(*peer, 3s);
    ASSERT_EQ(got.size(), 48 + body.size());
    const T_OMCMsgHead h = omc_head_decode(got.data());
    EXPECT_EQ(h.dwMsgId, 0x00060001u);
    EXPECT_EQ(h.wMsgSize, body.size());
    EXPECT_EQ(h.dwEndian, kOmcEndianMark);
    const JID probe = own_jid(kProbeType);
    EXPECT_EQ(std::memcmp(&h.tSender, &probe, sizeof(JID)), 0);
    EXPECT_EQ(std::memcmp(&h.tReceiver, &to_peer, sizeof(JID)), 0);
    EXPECT_EQ(Bytes(got.begin() + 48, got.end()), body);
}

TEST_F(BackCommJob, MalformedPeerHandOverIsDroppedAndLaterOnesStillPass) {
    const JID from_peer = peer_jid(35);
    send_to(kBackCommJobType, 1, Bytes(20, 0), from_peer); // shorter than a head
    T_OMCMsgHead h = omc_link_head(0x77);
    h.wMsgSize = 10;
    h.tSender = from_peer;
    h.tReceiver = own_jid(kProbeType);
    Bytes short_body = head_bytes(h);
    short_body.resize(48 + 4);                             // announces 10 body bytes, holds 4
    send_to(kBackCommJobType, 0x77, short_body, from_peer);
    h.wMsgSize = 4;
    Bytes good = head_bytes(h);
    good.insert(good.end(), {1, 2, 3, 4});
    send_to(kBackCommJobType, 0x78, good, from_peer);
    const auto seen = wait_seen(1, 3s);
    std::this_thread::sleep_for(100ms);
    ASSERT_EQ(wait_seen(1, 0ms).size(), 1u);
    EXPECT_EQ(seen[0].id, 0x77u); // the id comes from the head
    EXPECT_EQ(seen[0].body, (Bytes{1, 2, 3, 4}));
}

TEST_F(BackCommJob, SendingToAModuleWithoutLinkFails) {
    const JID receiver = peer_jid(99);
    const JID sender = own_jid(kProbeType);
    BYTE data[3] = {1, 2, 3};
    EXPECT_EQ(sendBackCommMsg(1, data, 3, 0, 2, &receiver, &sender), 1u);
}

} // namespace

int main(int argc, char** argv) {
    if (unshare(CLONE_NEWNET) == 0) {
        const int fd = socket(AF_INET, SOCK_DGRAM, 0);
        ifreq ifr{};
        std::strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
        g_netns = fd >= 0 && ioctl(fd, SIOCGIFFLAGS, &ifr) == 0;
        ifr.ifr_flags = static_cast<short>(ifr.ifr_flags | IFF_UP | IFF_RUNNING);
        g_netns = g_netns && ioctl(fd, SIOCSIFFLAGS, &ifr) == 0;
        if (fd >= 0) {
            close(fd);
        }
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
