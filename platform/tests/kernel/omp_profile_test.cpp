// The maintenance program's profile: two tasks, 40 MiB queues, identity module 1, and the
// diversion of route-type-5 job messages to the back-communication job, which runs only on
// its own task whatever path the message took.
#include <gtest/gtest.h>

#include <cstring>

#include "kernel_test_support.h"

using namespace std::chrono_literals;
using kt::Recorder;

namespace {

class PlatformKernelOmp : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!kt::in_private_netns()) {
            GTEST_SKIP() << "needs a network namespace of its own (port 20010)";
        }
        ASSERT_TRUE(kt::start_platform([this](CN_PlatformProfile& p) {
            p = CN_OmpProfile(kt::probe_table_omp());
            adjust(p);
        }));
    }
    void TearDown() override { kt::stop_platform(); }
    virtual void adjust(CN_PlatformProfile&) {}
};

bool same_jid(const JID& a, const JID& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

std::vector<BYTE> datagram(const JID& dest, const JID& src, WORD32 id, std::vector<BYTE> data)
{
    T_CNMessageHead head{};
    head.DestJID = dest;
    head.SrcJID = src;
    head.dwMsgID = id;
    head.dwMsgLen = static_cast<WORD32>(data.size());
    std::vector<BYTE> out(sizeof head + data.size());
    std::memcpy(out.data(), &head, sizeof head);
    for (size_t i = 0; i < data.size(); ++i) {
        out[sizeof head + i] = data[i];
    }
    return out;
}

TEST_F(PlatformKernelOmp, TwoTasksFortyMebibyteQueuesModuleOne)
{
    EXPECT_TRUE(XOS_IsOmp());
    EXPECT_EQ(CNCtrlTask::get_intramsghandler()->LocalPort(), 20010);
    EXPECT_EQ(CN_GetPlatformProfile()->wPartnerPort, 20110);  // the engine's datagrams only
    for (WORD16 i = 1; i <= 2; ++i) {
        ASSERT_NE(CNCtrlTask::gaCNCtrlTask[i], nullptr);
        EXPECT_EQ(CNCtrlTask::gaCNCtrlTask[i]->GetTaskType(), 0x100 | i);
        EXPECT_EQ(CNCtrlTask::gaCNCtrlTask[i]->msg_queue()->high_water_mark(), 0x2800000u);
    }
    EXPECT_EQ(CNCtrlTask::gaCNCtrlTask[3], nullptr);
    // Each task logs the platform's base mark, not the 40 MiB it is given.
    const std::string log = kt::log_text();
    const std::string line = "CNCtrlTask set high_water_mark 512M.\n";
    const size_t first = log.find(line);
    ASSERT_NE(first, std::string::npos);
    EXPECT_NE(log.find(line, first + 1), std::string::npos);
    EXPECT_EQ(log.find("40M"), std::string::npos);
    EXPECT_EQ(kt::job_of(kt::kTypeBackComm)->GetParentTask(), CNCtrlTask::gaCNCtrlTask[2]);
    EXPECT_EQ(kt::job_of(kt::kTypeA)->GetParentTask(), CNCtrlTask::gaCNCtrlTask[1]);
    EXPECT_EQ(kt::local_jid(kt::kTypeA).dwDevId, 1u); // bureau 0
}

TEST_F(PlatformKernelOmp, LocalRouteTypeFiveRunsBackCommOnItsOwnTask)
{
    // T_A (task 1) sends to its own job number with route type 5: the block lands on task 1's
    // queue by its DestJID, yet BackComm must run on task 2.
    JID dest = kt::local_jid(kt::kTypeA);
    dest.ucRouteType = 5;
    WORD32 rc = 99;
    ASSERT_TRUE(kt::run_on_job(kt::kTypeA, [&] {
        BYTE data[] = {7, 7};
        rc = XOS_SendAsynMsg(0x5151, data, 2, 0, 0, &dest);
    }));
    EXPECT_EQ(rc, 0u);
    ASSERT_TRUE(Recorder::instance().wait_for(kt::kTypeBackComm, 0x5151, 1, 5s));
    kt::Call c = Recorder::instance().calls(kt::kTypeBackComm, 0x5151)[0];
    EXPECT_TRUE(pthread_equal(c.thread, CNCtrlTask::thisThrNo[2].load()));
    EXPECT_TRUE(same_jid(c.receiver, dest));
    EXPECT_TRUE(same_jid(c.sender, kt::local_jid(kt::kTypeA)));
    EXPECT_EQ(c.len, 2);
    EXPECT_EQ(c.type, CN_MSG_TYPE_JOB);
    EXPECT_TRUE(Recorder::instance().calls(kt::kTypeA, 0x5151).empty());
}

TEST_F(PlatformKernelOmp, BlockPutOnTheWrongTaskIsPassedOnToBackCommsTask)
{
    // Whatever queue a route-type-5 block reaches first, BackComm runs on its own thread.
    JID dest = kt::local_jid(kt::kTypeScs);
    dest.ucRouteType = 5;
    T_CNMessageHead head{};
    head.DestJID = dest;
    head.SrcJID = kt::local_jid(kt::kTypeA);
    head.dwMsgID = 0x5252;
    ACE_Message_Block* mb = new ACE_Message_Block(sizeof head, MB_USER_JOB_MESSAGE);
    std::memcpy(mb->wr_ptr(), &head, sizeof head);
    mb->wr_ptr(sizeof head);
    ASSERT_EQ(CNCtrlTask::gaCNCtrlTask[1]->PutBlock(mb, false), 0);
    ASSERT_TRUE(Recorder::instance().wait_for(kt::kTypeBackComm, 0x5252, 1, 5s));
    kt::Call c = Recorder::instance().calls(kt::kTypeBackComm, 0x5252)[0];
    EXPECT_TRUE(pthread_equal(c.thread, CNCtrlTask::thisThrNo[2].load()));
    EXPECT_TRUE(same_jid(c.receiver, dest));
}

TEST_F(PlatformKernelOmp, UdpRouteTypeFiveGoesToBackCommWhateverTheDestination)
{
    JID unknownType = kt::local_jid(0x7777);
    unknownType.ucRouteType = 5;
    JID engineJob{};
    engineJob.dwJno = 0x40000001;
    engineJob.dwDevId = 0x01000001;
    engineJob.wModule = 11;
    engineJob.wUnit = 0xFFFF;
    engineJob.ucRouteType = 5;
    JID peer{};
    peer.dwJno = 0x00010001;
    peer.wModule = 300;
    peer.ucRouteType = 5;
    auto d1 = datagram(unknownType, peer, 0x61, {1});
    auto d2 = datagram(engineJob, peer, 0x62, {2, 3});
    ASSERT_TRUE(kt::send_datagram(d1.data(), d1.size(), 20010));
    ASSERT_TRUE(kt::send_datagram(d2.data(), d2.size(), 20010));
    ASSERT_TRUE(Recorder::instance().wait_for(kt::kTypeBackComm, 0x62, 1, 5s));
    auto calls = Recorder::instance().calls(kt::kTypeBackComm);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_TRUE(same_jid(calls[0].receiver, unknownType));
    EXPECT_TRUE(same_jid(calls[0].sender, peer));
    EXPECT_TRUE(same_jid(calls[1].receiver, engineJob));
    EXPECT_EQ(calls[1].body, (std::vector<BYTE>{2, 3}));
    for (const kt::Call& c : calls) {
        EXPECT_TRUE(pthread_equal(c.thread, CNCtrlTask::thisThrNo[2].load()));
    }
    // Without route type 5 the normal dispatch holds: an unknown type reaches notexist.
    EXPECT_EQ(XOS_GetJobAppState(0x00010000), 0);
    JID plain = kt::local_jid(0x7777);
    auto d3 = datagram(plain, peer, CN_MSG_POWER_ON, {});
    ASSERT_TRUE(kt::send_datagram(d3.data(), d3.size(), 20010));
    ASSERT_TRUE(kt::run_on_job(kt::kTypeScs, [] {}));
    for (int i = 0; i < 100 && XOS_GetJobAppState(0x00010000) != 1; ++i) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(XOS_GetJobAppState(0x00010000), 1);
}

class PlatformKernelOmpNoBackComm : public PlatformKernelOmp {
protected:
    void adjust(CN_PlatformProfile& p) override { p.wRouteType5JobType = 0xC005; }
};

TEST_F(PlatformKernelOmpNoBackComm, RouteTypeFiveWithoutItsJobIsReleasedSilently)
{
    JID dest = kt::local_jid(kt::kTypeA);
    dest.ucRouteType = 5;
    WORD32 rc = 99;
    ASSERT_TRUE(kt::run_on_job(kt::kTypeA, [&] { rc = XOS_SendAsynMsg(0x71, nullptr, 0, 0, 0, &dest); }));
    EXPECT_EQ(rc, 1u); // nothing to deliver it to
    auto d = datagram(dest, kt::local_jid(kt::kTypeA), 0x72, {});
    ASSERT_TRUE(kt::send_datagram(d.data(), d.size(), 20010));
    std::this_thread::sleep_for(100ms);
    ASSERT_TRUE(kt::run_on_job(kt::kTypeA, [] {}));
    EXPECT_TRUE(Recorder::instance().calls(kt::kTypeA).empty());
    EXPECT_TRUE(Recorder::instance().calls(kt::kTypeBackComm).empty());
    EXPECT_EQ(kt::log_text().find("not local"), std::string::npos);
}

} // namespace
