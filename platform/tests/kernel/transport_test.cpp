// Intra-board UDP transport: the bytes of each send form, input dispatch, malformed datagrams,
// the port rule, and waiting and non-waiting puts against a small high-water mark.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <unistd.h>

#include "CNPlatLogLimit.h"
#include "kernel_test_support.h"

using namespace std::chrono_literals;
using kt::Recorder;
using Bytes = std::vector<BYTE>;

namespace {

class PlatformKernelTransport : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!kt::in_private_netns()) {
            GTEST_SKIP() << "needs a network namespace of its own (fixed ports 20010, 20110, 20120)";
        }
        ASSERT_TRUE(kt::start_platform());
        ASSERT_EQ(_thisModuleNo, 11);
    }
    void TearDown() override
    {
        for (int fd : fds_) {
            close(fd);
        }
        kt::stop_platform();
    }
    int listen_on(WORD16 port)
    {
        int fd = kt::bind_udp(port);
        EXPECT_GE(fd, 0) << port;
        fds_.push_back(fd);
        return fd;
    }
    std::vector<int> fds_;
};

void put_le32(Bytes& b, WORD32 v)
{
    for (int i = 0; i < 4; ++i) {
        b.push_back(static_cast<BYTE>(v >> (8 * i)));
    }
}
void put_le16(Bytes& b, WORD16 v)
{
    b.push_back(static_cast<BYTE>(v));
    b.push_back(static_cast<BYTE>(v >> 8));
}
void put_jid(Bytes& b, WORD32 jno, WORD32 dev, WORD16 module, WORD16 unit, BYTE route = 0)
{
    put_le32(b, jno);
    put_le32(b, dev);
    put_le16(b, module);
    put_le16(b, unit);
    b.insert(b.end(), {0, 0, route, 0});
}

// Header and data as the definition lays them out (little-endian host order).
Bytes wire(const Bytes& dest, const Bytes& src, WORD32 id, const Bytes& data, BYTE ver)
{
    Bytes b = dest;
    b.insert(b.end(), src.begin(), src.end());
    put_le32(b, id);
    put_le32(b, static_cast<WORD32>(data.size()));
    b.insert(b.end(), {0, ver, 0, 0});
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

JID jid_of(WORD32 jno, WORD16 module, WORD16 unit, BYTE route = 0)
{
    JID j{};
    j.dwJno = jno;
    j.dwDevId = 0x01000001;
    j.wModule = module;
    j.wUnit = unit;
    j.ucRouteType = route;
    return j;
}

Bytes jid_bytes(const JID& j)
{
    Bytes b;
    put_jid(b, j.dwJno, j.dwDevId, j.wModule, j.wUnit, j.ucRouteType);
    return b;
}

const JID kPeer = jid_of(0x40050001, 12, 0xFFFF);
const Bytes kPeerBytes = {0x01, 0x00, 0x05, 0x40, 0x01, 0x00, 0x00, 0x01, 0x0C, 0x00, 0xFF, 0xFF, 0, 0, 0, 0};
// Job A: type 0x100, instance 1, bureau 1, module 11, whole module.
const Bytes kJobABytes = {0x01, 0x00, 0x00, 0x01, 0x01, 0x00, 0x00, 0x01, 0x0B, 0x00, 0xFF, 0xFF, 0, 0, 0, 0};

TEST_F(PlatformKernelTransport, PortRule)
{
    EXPECT_EQ(CN_IntraBoardPort(11, 0xFFFF), 20110);
    EXPECT_EQ(CN_IntraBoardPort(1, 0xFFFF), 20010);
    EXPECT_EQ(CN_IntraBoardPort(11, 3), 20113);
    EXPECT_EQ(CN_IntraBoardPort(11, 12), CN_IntraBoardPort(12, 2)); // 20122 both
    EXPECT_EQ(CN_IntraBoardPort(5000, 0), static_cast<WORD16>(70000 - 65536));
    EXPECT_EQ(CNCtrlTask::get_intramsghandler()->LocalPort(), 20110);
}

TEST_F(PlatformKernelTransport, SendAsynMsgWritesHeaderVersionAndData)
{
    int peer = listen_on(20120);
    WORD32 rc1 = 99, rc2 = 99;
    ASSERT_TRUE(kt::run_on_job(kt::kTypeA, [&] {
        BYTE data[] = {0xDE, 0xAD, 0xBE};
        rc1 = XOS_SendAsynMsg(0x11223344, data, 3, 0x5A, 2, &kPeer);
        rc2 = OSS_SendAsynMsg(0x55, data, 1, 7, &kPeer);
    }));
    EXPECT_EQ(rc1, 0u);
    EXPECT_EQ(rc2, 0u);
    Bytes expected = {0x01, 0x00, 0x05, 0x40, 0x01, 0x00, 0x00, 0x01, 0x0C, 0x00, 0xFF, 0xFF, 0, 0, 0, 0,
                      0x01, 0x00, 0x00, 0x01, 0x01, 0x00, 0x00, 0x01, 0x0B, 0x00, 0xFF, 0xFF, 0, 0, 0, 0,
                      0x44, 0x33, 0x22, 0x11, 0x03, 0x00, 0x00, 0x00, 0x00, 0x5A, 0x00, 0x00, 0xDE, 0xAD, 0xBE};
    EXPECT_EQ(kt::recv_datagram(peer, 2s), expected);
    EXPECT_EQ(kt::recv_datagram(peer, 2s), wire(kPeerBytes, kJobABytes, 0x55, {0xDE}, 0));
}

TEST_F(PlatformKernelTransport, ExplicitSenderFormsOverUdp)
{
    int peer = listen_on(20120);
    JID sender = jid_of(0x12340001, 77, 4, 5);
    JID localSender = kt::local_jid(kt::kTypeB);
    WORD32 rc1 = 99, rc2 = 99;
    ASSERT_TRUE(kt::run_on_job(kt::kTypeA, [&] {
        BYTE data[] = {1, 2};
        rc1 = XOS_SendAsynMsgNJ(0x66, data, 2, 0x33, 9, &sender, &kPeer);
        // OSS_SendFromTask leaves over UDP as the current job, whatever sender it was given.
        rc2 = OSS_SendFromTask(0x67, data, 1, &localSender, &kPeer);
    }));
    EXPECT_EQ(rc1, 0u);
    EXPECT_EQ(rc2, 0u);
    EXPECT_EQ(kt::recv_datagram(peer, 2s), wire(kPeerBytes, jid_bytes(sender), 0x66, {1, 2}, 0));
    EXPECT_EQ(kt::recv_datagram(peer, 2s), wire(kPeerBytes, kJobABytes, 0x67, {1}, 0));
    // Off a task thread the UDP path has no job to send as.
    EXPECT_EQ(XOS_SendAsynMsgNJ(0x68, nullptr, 0, 0, 0, &sender, &kPeer), 0xFFFFFFFFu);
}

TEST_F(PlatformKernelTransport, PowerOnAckAnswersTheSenderOverUdp)
{
    int peer = listen_on(20120);
    Recorder::instance().set_reaction(kt::kTypeA, [](const kt::Call& c) {
        if (c.msgId == CN_MSG_POWER_ON) {
            BYTE data[] = {0xAB, 0xCD};
            XOS_PowerOnAck(1, data, 2, 0x117);
        }
    });
    Bytes in = wire(kJobABytes, kPeerBytes, CN_MSG_POWER_ON, {}, 0);
    ASSERT_TRUE(kt::send_datagram(in.data(), in.size(), 20110));
    // Message id 6003 whatever id was passed; the version byte cut to 8 bits.
    EXPECT_EQ(kt::recv_datagram(peer, 2s), wire(kPeerBytes, kJobABytes, CN_MSG_POWER_ON_ACK, {0xAB, 0xCD}, 0x17));
}

TEST_F(PlatformKernelTransport, RouteTypeFiveGoesToPort20010AndUnitFfffCountsAsZero)
{
    int omp = listen_on(20010);
    int unit3 = listen_on(20123);
    int ownUnit3 = listen_on(20113);
    JID route5 = jid_of(0x77770001, 12, 5, 5);
    JID peerUnit3 = jid_of(0x40050001, 12, 3);
    JID ownModuleUnit3 = jid_of(0x01010001, 11, 3);
    WORD32 rc[3] = {9, 9, 9};
    ASSERT_TRUE(kt::run_on_job(kt::kTypeA, [&] {
        rc[0] = XOS_SendAsynMsg(1, nullptr, 0, 0, 0, &route5);
        rc[1] = XOS_SendAsynMsg(2, nullptr, 0, 0, 0, &peerUnit3);
        rc[2] = XOS_SendAsynMsg(3, nullptr, 0, 0, 0, &ownModuleUnit3);
    }));
    EXPECT_EQ(rc[0] + rc[1] + rc[2], 0u);
    EXPECT_EQ(kt::recv_datagram(omp, 2s), wire(jid_bytes(route5), kJobABytes, 1, {}, 0));
    EXPECT_EQ(kt::recv_datagram(unit3, 2s).size(), 44u);
    EXPECT_EQ(kt::recv_datagram(ownUnit3, 2s).size(), 44u);
}

TEST_F(PlatformKernelTransport, RouteTypeFiveToTheOwnModuleStaysInTheProcess)
{
    int omp = listen_on(20010);
    JID ownRoute5 = kt::local_jid(kt::kTypeB);
    ownRoute5.ucRouteType = 5;
    WORD32 rc = 9;
    ASSERT_TRUE(kt::run_on_job(kt::kTypeA, [&] { rc = XOS_SendAsynMsg(0x505, nullptr, 0, 0, 0, &ownRoute5); }));
    EXPECT_EQ(rc, 0u);
    ASSERT_TRUE(Recorder::instance().wait_for(kt::kTypeB, 0x505, 1, 2s));
    EXPECT_TRUE(pthread_equal(Recorder::instance().calls(kt::kTypeB, 0x505)[0].thread, CNCtrlTask::thisThrNo[3].load()));
    EXPECT_TRUE(kt::recv_datagram(omp, 100ms).empty());
}

TEST_F(PlatformKernelTransport, NullDataAndOversizeRules)
{
    int peer = listen_on(20120);
    static BYTE big[21505];
    WORD32 bare = 9, nullWithLen = 9, tooBigForBuffer = 9, fits = 9, tooLong = 9;
    ASSERT_TRUE(kt::run_on_job(kt::kTypeA, [&] {
        bare = XOS_SendAsynMsg(0x10, nullptr, 0, 0, 0, &kPeer);
        nullWithLen = XOS_SendAsynMsg(0x11, nullptr, 1, 0, 0, &kPeer);
        tooBigForBuffer = XOS_SendAsynMsg(0x12, big, 20437, 0, 0, &kPeer);
        fits = XOS_SendAsynMsg(0x13, big, 20436, 0, 0, &kPeer);
        tooLong = XOS_SendAsynMsg(0x14, big, 21505, 0, 0, &kPeer);
    }));
    EXPECT_EQ(bare, 0u);
    EXPECT_EQ(nullWithLen, 1u);
    EXPECT_EQ(tooBigForBuffer, 1u);
    EXPECT_EQ(fits, 0u);
    EXPECT_EQ(tooLong, 0xFFFFFFFFu);
    EXPECT_EQ(kt::recv_datagram(peer, 2s), wire(kPeerBytes, kJobABytes, 0x10, {}, 0));
    Bytes full = kt::recv_datagram(peer, 2s);
    ASSERT_EQ(full.size(), 20480u);
    EXPECT_EQ(full[32], 0x13);
    EXPECT_TRUE(kt::recv_datagram(peer, 100ms).empty());
    EXPECT_NE(kt::log_text().find("SendIntraBoardMsg: message 0x12 of 20437 bytes does not fit a 20480-byte datagram"),
              std::string::npos);
}

TEST_F(PlatformKernelTransport, InputIsDispatchedToTheNamedJob)
{
    Bytes payload(20436);
    for (size_t i = 0; i < payload.size(); ++i) {
        payload[i] = static_cast<BYTE>(i * 7);
    }
    Bytes toB = wire(jid_bytes(kt::local_jid(kt::kTypeB)), kPeerBytes, 0x4242, payload, 3);
    ASSERT_EQ(toB.size(), 20480u);
    ASSERT_TRUE(kt::send_datagram(toB.data(), toB.size(), 20110));
    ASSERT_TRUE(Recorder::instance().wait_for(kt::kTypeB, 0x4242, 1, 2s));
    kt::Call c = Recorder::instance().calls(kt::kTypeB, 0x4242)[0];
    EXPECT_EQ(c.len, 20436);
    EXPECT_EQ(c.body, payload);
    EXPECT_EQ(c.sender.wModule, 12);
    EXPECT_EQ(c.sender.dwJno, 0x40050001u);
    EXPECT_TRUE(pthread_equal(c.thread, CNCtrlTask::thisThrNo[3].load()));
}

TEST_F(PlatformKernelTransport, MalformedDatagramsAreDroppedWithALogLine)
{
    Bytes dest = jid_bytes(kt::local_jid(kt::kTypeC));
    Bytes shortOne(10, 0xAA);
    Bytes claimsMore = wire(dest, kPeerBytes, 0x71, {1, 2, 3, 4, 5}, 0);
    claimsMore[36] = 10; // says 10 data bytes, 5 follow
    Bytes claimsLess = wire(dest, kPeerBytes, 0x72, {1, 2, 3, 4, 5}, 0);
    claimsLess[36] = 3; // says 3, 5 follow
    Bytes good = wire(dest, kPeerBytes, 0x73, {6}, 0);
    for (const Bytes* d : {&shortOne, &claimsMore, &claimsLess, &good}) {
        ASSERT_TRUE(kt::send_datagram(d->data(), d->size(), 20110));
    }
    ASSERT_TRUE(Recorder::instance().wait_for(kt::kTypeC, 0x73, 1, 2s));
    auto calls = Recorder::instance().calls(kt::kTypeC);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].body, Bytes{6});
    std::string log = kt::log_text();
    EXPECT_NE(log.find("datagram of 10 bytes is shorter than a message header, dropped"), std::string::npos);
    EXPECT_NE(log.find("datagram of 49 bytes announces dwMsgLen=10, dropped"), std::string::npos);
    EXPECT_NE(log.find("datagram of 49 bytes announces dwMsgLen=3, dropped"), std::string::npos);
}

TEST_F(PlatformKernelTransport, InputForAForeignModuleIsDroppedWithTheLookupLine)
{
    Bytes in = wire(kPeerBytes, kJobABytes, 0x80, {}, 0);
    ASSERT_TRUE(kt::send_datagram(in.data(), in.size(), 20110));
    // Follow with a good datagram: once it is handled, the first one has been read.
    Bytes good = wire(jid_bytes(kt::local_jid(kt::kTypeC)), kPeerBytes, 0x81, {}, 0);
    ASSERT_TRUE(kt::send_datagram(good.data(), good.size(), 20110));
    ASSERT_TRUE(Recorder::instance().wait_for(kt::kTypeC, 0x81, 1, 2s));
    EXPECT_NE(kt::log_text().find("JID not local, wModule=12(own 11), wUnit=65535(own 65535)"), std::string::npos);
}

TEST_F(PlatformKernelTransport, RouteTypeFiveInputRunsTheJobOnItsOwnTask)
{
    // In a process without the diversion, a route-type-5 message is delivered by its DestJID,
    // and the job runs on its own task's thread, not on that of the placeholder job.
    JID toD = kt::local_jid(kt::kTypeD);
    toD.ucRouteType = 5;
    Bytes in = wire(jid_bytes(toD), kPeerBytes, 0x90, {4}, 0);
    ASSERT_TRUE(kt::send_datagram(in.data(), in.size(), 20110));
    ASSERT_TRUE(Recorder::instance().wait_for(kt::kTypeD, 0x90, 1, 2s));
    EXPECT_TRUE(pthread_equal(Recorder::instance().calls(kt::kTypeD, 0x90)[0].thread, CNCtrlTask::thisThrNo[5].load()));
}

TEST_F(PlatformKernelTransport, OnlyThePartnersDatagramsAndTheOwnAreTaken)
{
    CN_LogLimit::restart_all();  // the drop lines below are each written, whatever ran before
    EXPECT_EQ(CN_GetPlatformProfile()->wPartnerPort, 20010);
    CNIntraMsgHandler* handler = CNCtrlTask::get_intramsghandler();
    struct Row {
        bool socket;  // a real datagram, else handed to Deliver with this source
        const char* ip;
        WORD16 port;  // 0: an ephemeral port
        bool taken;
    };
    const Row rows[] = {
        {false, "127.0.0.1", 20010, true},  {false, "127.0.0.1", 20011, false}, {false, "127.0.0.2", 20010, false},
        {false, "127.0.0.1", 20110, true},  {false, "127.0.0.2", 20110, false}, {false, "10.0.0.1", 20010, false},
        {true, "127.0.0.1", 20010, true},   {true, "127.0.0.1", 0, false},      {true, "127.0.0.3", 20010, false},
        {true, "127.0.0.1", 20012, false},
    };
    const WORD64 before = handler->ForeignDrops();
    const JID dest = kt::local_jid(kt::kTypeC);
    for (size_t i = 0; i < std::size(rows); ++i) {
        const Row& r = rows[i];
        Bytes d = wire(jid_bytes(dest), kPeerBytes, 0xA0, {static_cast<BYTE>(i)}, 0);
        if (r.socket) {
            ASSERT_TRUE(kt::send_datagram_from(d.data(), d.size(), 20110, r.ip, r.port)) << i;
        } else {
            handler->Deliver(d.data(), static_cast<ssize_t>(d.size()), ACE_INET_Addr(r.port, r.ip));
        }
    }
    // One socket queue: once the last datagram is handled, every earlier one has been read.
    Bytes last = wire(jid_bytes(dest), kPeerBytes, 0xA1, {}, 0);
    ASSERT_TRUE(kt::send_datagram(last.data(), last.size(), 20110));
    ASSERT_TRUE(Recorder::instance().wait_for(kt::kTypeC, 0xA1, 1, 5s));
    std::vector<BYTE> seen;
    for (const kt::Call& c : Recorder::instance().calls(kt::kTypeC, 0xA0)) {
        seen.push_back(c.body.at(0));
    }
    std::vector<BYTE> taken;
    for (size_t i = 0; i < std::size(rows); ++i) {
        if (rows[i].taken) {
            taken.push_back(static_cast<BYTE>(i));
        }
    }
    EXPECT_EQ(seen, taken);
    EXPECT_EQ(handler->ForeignDrops() - before, std::size(rows) - taken.size());
    const std::string log = kt::log_text();
    EXPECT_NE(log.find("CNIntraMsgHandler: datagram of 45 bytes from 127.0.0.2:20010 is not from the partner "
                       "program (127.0.0.1:20010), dropped ("),
              std::string::npos);
    EXPECT_NE(log.find("datagram of 45 bytes from 10.0.0.1:20010 is not from the partner"), std::string::npos);
}

TEST(PlatformKernelStart, TakenPortEndsStartWithPortTaken)
{
    if (!kt::in_private_netns()) {
        GTEST_SKIP() << "needs a network namespace of its own";
    }
    int fd = kt::bind_udp(20110);
    ASSERT_GE(fd, 0);
    char path[] = "/tmp/platform_kernel_port_XXXXXX";
    int lf = mkstemp(path);
    ASSERT_GE(lf, 0);
    FILE* log = fdopen(lf, "w+");
    CN_PlatformProfile prof = CN_EngineProfile(kt::probe_table());
    ASSERT_EQ(CN_PlatformInit(&prof), 0);
    CN_SetPlatLogFile(log);
    EXPECT_EQ(CN_StartControlTasks(), CN_START_PORT_TAKEN);
    EXPECT_EQ(CNCtrlTask::gaCNCtrlTask[2], nullptr); // stopped before task 2
    EXPECT_EQ(CNCtrlTask::gaCNCtrlTask[1]->thr_count(), 0u);
    CN_PlatformShutdown();
    CN_SetPlatLogFile(nullptr);
    fflush(log);
    rewind(log);
    char buf[4096] = {};
    size_t n = fread(buf, 1, sizeof buf - 1, log);
    buf[n] = 0;
    EXPECT_NE(std::string(buf).find("can't open socket with port[20110], Reason:Another process for this "
                                    "module[11]/unit[65535] is running\n"),
              std::string::npos);
    fclose(log);
    unlink(path);
    close(fd);
}

// ---- queue high-water mark --------------------------------------------------------------

class PlatformKernelQueue : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(kt::start_platform()); }
    void TearDown() override { kt::stop_platform(); }

    // Holds job C inside its entry until release() so that its queue only fills.
    void hold_c() { ASSERT_TRUE(hold_.hold(kt::kTypeC)); }
    void release() { hold_.release(); }
    kt::JobHold hold_;
};

TEST_F(PlatformKernelQueue, NonWaitingPutsFailOnAFullQueueWaitingPutsWait)
{
    hold_c();
    ACE_Message_Queue<ACE_MT_SYNCH>* q = CNCtrlTask::gaCNCtrlTask[4]->msg_queue();
    q->high_water_mark(1000);
    q->low_water_mark(1000);
    JID sender = kt::local_jid(kt::kTypeA);
    JID dest = kt::local_jid(kt::kTypeC);
    BYTE data[100] = {};
    // Blocks of 44 + 100 bytes: puts are taken while fewer than 1000 bytes wait, so 7 go in.
    std::vector<WORD32> results;
    for (int i = 0; i < 9; ++i) {
        data[0] = static_cast<BYTE>(i);
        results.push_back(XOS_SendAsynMsgNJ(0x200, data, sizeof data, 0, 0, &sender, &dest));
    }
    EXPECT_EQ(results, (std::vector<WORD32>{0, 0, 0, 0, 0, 0, 0, 1, 1}));
    EXPECT_NE(kt::log_text().find("XOS_SendAsynMsgNJ: msg que fulled, dropped!"), std::string::npos);
    EXPECT_EQ(OSS_SendFromTask(0x201, data, 1, &sender, &dest), 1u);
    EXPECT_NE(kt::log_text().find("err!msg que fulled! ptDstJid->dwJno=1030001,dwMsgId =513, wMsgLen=1"),
              std::string::npos);

    // A job's own send waits until the receiver makes room.
    std::atomic<bool> sent{false};
    std::atomic<WORD32> rc{99};
    std::function<void()> sendFromA = [&] {
        BYTE one = 0xEE;
        rc = XOS_SendAsynMsg(0x202, &one, 1, 0, 0, &dest);
        sent = true;
    };
    ASSERT_TRUE(kt::post_to_job(kt::kTypeA, &sendFromA));
    std::this_thread::sleep_for(200ms);
    EXPECT_FALSE(sent.load());
    release();
    ASSERT_TRUE(Recorder::instance().wait_for(kt::kTypeC, 0x202, 1, 5s));
    // C may take the message before A's send has returned; the lambda on A's thread must
    // finish before its captures go out of scope.
    for (int i = 0; i < 500 && !sent.load(); ++i) std::this_thread::sleep_for(10ms);
    ASSERT_TRUE(sent.load());
    EXPECT_EQ(rc.load(), 0u);
    auto calls = Recorder::instance().calls(kt::kTypeC);
    ASSERT_EQ(calls.size(), 8u); // the 7 queued ones in order, then the waiting one
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(calls[i].msgId, 0x200u);
        EXPECT_EQ(calls[i].body[0], i);
    }
    EXPECT_EQ(calls[7].msgId, 0x202u);
}

TEST_F(PlatformKernelQueue, UdpInputIsDroppedOnAFullQueue)
{
    hold_c();
    ACE_Message_Queue<ACE_MT_SYNCH>* q = CNCtrlTask::gaCNCtrlTask[4]->msg_queue();
    q->high_water_mark(100);
    q->low_water_mark(100);
    JID sender = kt::local_jid(kt::kTypeA);
    JID dest = kt::local_jid(kt::kTypeC);
    BYTE data[100] = {};
    ASSERT_EQ(XOS_SendAsynMsgNJ(0x300, data, sizeof data, 0, 0, &sender, &dest), 0u);
    // Input for C now finds the queue full; the reactor thread never waits for it.
    T_CNMessageHead head{};
    head.DestJID = dest;
    head.SrcJID = sender;
    head.dwMsgID = 0x301;
    CNCtrlTask::get_intramsghandler()->Deliver(reinterpret_cast<BYTE*>(&head), sizeof head, kt::partner_addr());
    EXPECT_NE(kt::log_text().find("CNIntraMsgHandler input but msg queue is full err!\n"), std::string::npos);
    release();
    ASSERT_TRUE(Recorder::instance().wait_for(kt::kTypeC, 0x300, 1, 5s));
    ASSERT_TRUE(kt::run_on_job(kt::kTypeC, [] {}));
    EXPECT_TRUE(Recorder::instance().calls(kt::kTypeC, 0x301).empty());
}

} // namespace

// ---- messages that only an in-process send may deliver ---------------------------------------

namespace local_only {

// The program's list: job B takes message 2 as an address, and so does BackComm, the target of
// the route-type-5 diversion, with message 0x17.
constexpr WORD32 kAddrMsg = 0x2;
constexpr WORD32 kDivertedAddrMsg = 0x17;
const CN_LocalOnlyMsg kList[] = {{kt::kTypeB, kAddrMsg}, {kt::kTypeBackComm, kDivertedAddrMsg}};

enum class Road { datagram, send, send_nj };

struct Row {
    Road road;
    WORD16 destType;  // DestJID's job type
    BYTE route;       // DestJID's route type
    WORD32 id;
    WORD16 jobType;   // the job that runs it (after the diversion)
    bool arrives;
    const char* dropLine; // the log line of a dropped datagram
};

// Each row's one data byte is its number, so what arrives is told apart.
void send_row(const Row& r, BYTE mark)
{
    JID dest = kt::local_jid(r.destType);
    dest.ucRouteType = r.route;
    const JID src = kt::local_jid(kt::kTypeA);
    if (r.road == Road::datagram) {
        Bytes d = wire(jid_bytes(dest), jid_bytes(src), r.id, {mark}, 0);
        CNCtrlTask::get_intramsghandler()->Deliver(d.data(), static_cast<ssize_t>(d.size()),
                                                   kt::partner_addr());
        return;
    }
    ASSERT_TRUE(kt::run_on_job(kt::kTypeA, [&] {
        BYTE data = mark;
        EXPECT_EQ(r.road == Road::send ? XOS_SendAsynMsg(r.id, &data, 1, 0, 0, &dest)
                                       : XOS_SendAsynMsgNJ(r.id, &data, 1, 0, 0, &src, &dest),
                  0u);
    }));
}

size_t count_of(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

} // namespace local_only

class PlatformKernelLocalOnly : public ::testing::Test {
protected:
    void TearDown() override { kt::stop_platform(); }
};

TEST_F(PlatformKernelLocalOnly, DatagramsOfListedMessagesAreDroppedEverythingElseArrives)
{
    using namespace local_only;
    ASSERT_TRUE(kt::start_platform([](CN_PlatformProfile& p) {
        p.ptLocalOnlyMsgs = kList;
        p.wLocalOnlyMsgCount = 2;
        p.bDivertRouteType5 = TRUE;
    }));
    const Row rows[] = {
        {Road::datagram, kt::kTypeB, 0, kAddrMsg, kt::kTypeB, false,
         "msg 0x2 for job T_B is taken from in-process sends only, datagram of 45 bytes dropped"},
        {Road::datagram, kt::kTypeB2, 0, kAddrMsg, kt::kTypeB2, true, nullptr},  // same task as B
        {Road::datagram, kt::kTypeC, 0, kAddrMsg, kt::kTypeC, true, nullptr},
        {Road::datagram, kt::kTypeB, 0, 0x3, kt::kTypeB, true, nullptr},
        {Road::datagram, kt::kTypeB, 0, 0x10002, kt::kTypeB, true, nullptr},
        {Road::datagram, kt::kTypeB, 5, kAddrMsg, kt::kTypeBackComm, true, nullptr},  // diverted from B
        {Road::datagram, kt::kTypeC, 5, kDivertedAddrMsg, kt::kTypeBackComm, false,
         "msg 0x17 for job BackComm is taken from in-process sends only, datagram of 45 bytes dropped"},
        {Road::datagram, kt::kTypeC, 0, kDivertedAddrMsg, kt::kTypeC, true, nullptr},
        {Road::send, kt::kTypeB, 0, kAddrMsg, kt::kTypeB, true, nullptr},
        {Road::send_nj, kt::kTypeB, 0, kAddrMsg, kt::kTypeB, true, nullptr},
        {Road::send, kt::kTypeBackComm, 0, kDivertedAddrMsg, kt::kTypeBackComm, true, nullptr},
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        send_row(rows[i], static_cast<BYTE>(i + 1));
    }
    // A job's own empty turn comes after everything queued for it before.
    for (WORD16 type : {kt::kTypeB, kt::kTypeB2, kt::kTypeC, kt::kTypeBackComm}) {
        ASSERT_TRUE(kt::run_on_job(type, [] {}));
    }
    const std::string log = kt::log_text();
    for (size_t i = 0; i < std::size(rows); ++i) {
        const Row& r = rows[i];
        SCOPED_TRACE(i);
        size_t seen = 0;
        for (const kt::Call& c : Recorder::instance().calls(r.jobType, r.id)) {
            seen += c.body == Bytes{static_cast<BYTE>(i + 1)} ? 1 : 0;
        }
        EXPECT_EQ(seen, r.arrives ? 1u : 0u);
        if (r.dropLine != nullptr) {
            EXPECT_NE(log.find(r.dropLine), std::string::npos);
        }
    }
    EXPECT_EQ(count_of(log, "is taken from in-process sends only"), 2u);
}
