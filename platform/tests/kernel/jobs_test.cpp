// Job table, control tasks, the current job and messages between jobs of one process.
#include <gtest/gtest.h>

#include <cstring>
#include <sched.h>
#include <unistd.h>

#include "kernel_test_support.h"

using namespace std::chrono_literals;
using kt::Recorder;

namespace {

class PlatformKernelJobs : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(kt::start_platform()); }
    void TearDown() override { kt::stop_platform(); }
};

bool same_jid(const JID& a, const JID& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST_F(PlatformKernelJobs, BuildsJobsFromTheTableOnTheirTasks)
{
    struct Expect {
        WORD16 row, type, task;
    } expect[] = {{0, kt::kTypeScs, 1}, {1, kt::kTypeNotExist, 1}, {2, kt::kTypeA, 2}, {3, kt::kTypeB, 3},
                  {4, kt::kTypeB2, 3}, {5, kt::kTypeC, 4},      {6, kt::kTypeD, 5}, {7, kt::kTypeBackComm, 6}};
    for (const Expect& e : expect) {
        CN_Job_Base* job = CNCtrlTask::g_JobObj[e.row];
        ASSERT_NE(job, nullptr) << "row " << e.row;
        EXPECT_EQ(job->GetJobType(), e.type);
        EXPECT_EQ(job->GetParentTask(), CNCtrlTask::gaCNCtrlTask[e.task]);
        EXPECT_EQ(job->SelfJID().dwJno, (static_cast<WORD32>(e.type) << 16) + 1);
        EXPECT_EQ(job->SelfJID().dwDevId, (1u << 24) + 1); // bureau 1
        EXPECT_EQ(job->SelfJID().wModule, _thisModuleNo);
        EXPECT_EQ(job->SelfJID().wUnit, 0xFFFF);
        EXPECT_EQ(job->GetCurState(), 0u);
        // The owner recorded by the task thread is that task's thread.
        EXPECT_TRUE(job->IsOwnerThrNoSet());
        EXPECT_TRUE(pthread_equal(job->GetOwnerThrNo(), CNCtrlTask::thisThrNo[e.task].load()));
    }
    EXPECT_EQ(CNCtrlTask::g_JobObj[8], nullptr); // END row
    // Every task has a thread of its own, also those without jobs (28 here, as in the engine).
    for (WORD16 i = 1; i <= kt::kTaskCount; ++i) {
        ASSERT_NE(CNCtrlTask::gaCNCtrlTask[i], nullptr);
        EXPECT_EQ(CNCtrlTask::gaCNCtrlTask[i]->GetSchIndex(), i);
        EXPECT_EQ(CNCtrlTask::gaCNCtrlTask[i]->GetTaskType(), 0x600 | i);
        EXPECT_EQ(CNCtrlTask::gaCNCtrlTask[i]->thr_count(), 1u);
        EXPECT_EQ(CNCtrlTask::gaCNCtrlTask[i]->msg_queue()->high_water_mark(), 0x20000000u);
        for (WORD16 j = 1; j < i; ++j) {
            EXPECT_FALSE(pthread_equal(CNCtrlTask::thisThrNo[i].load(), CNCtrlTask::thisThrNo[j].load()));
        }
    }
    for (CN_Job_Base* job : CNCtrlTask::g_JobObj) {
        if (job != nullptr) {
            EXPECT_NE(job->GetParentTask(), CNCtrlTask::gaCNCtrlTask[28]);
        }
    }
    EXPECT_EQ(CNCtrlTask::gaCNCtrlTask[29], nullptr);
}

TEST_F(PlatformKernelJobs, NoCurrentJobOffTaskThreads)
{
    EXPECT_EQ(CN_Job_Base::GetPCB(), nullptr);
    EXPECT_EQ(XOS_GetSelfJNO(), 0u);
    EXPECT_EQ(XOS_GetCurState(), 0);
    EXPECT_EQ(XOS_GetMsgType(), 255);
    EXPECT_EQ(OSS_GetMsgId(), 0xFFFFFFFFu);
    EXPECT_EQ(OSS_GetMsgDataLen(), 0);
    WORD16 len = 0;
    EXPECT_EQ(XOS_GetMsgDataLen(&len), 1u);
    JID jid{};
    EXPECT_EQ(XOS_Sender(&jid), 1u);
    EXPECT_EQ(XOS_GetSelfJID(&jid), 1u);
    JID dest = kt::local_jid(kt::kTypeB);
    EXPECT_EQ(XOS_SendAsynMsg(1, nullptr, 0, 0, 0, &dest), 1u);
    JID other = dest;
    other.wModule = static_cast<WORD16>(_thisModuleNo + 1);
    EXPECT_EQ(XOS_SendAsynMsg(1, nullptr, 0, 0, 0, &other), 0xFFFFFFFFu);
    EXPECT_EQ(XOS_SetRelativeTimer(1, 10, 0), XOS_INVALID_TIMER_ID);
    EXPECT_EQ(XOS_GetTidOfCurTimer(), 1u);
    EXPECT_EQ(XOS_GetParaOfCurTimer(), 0u);
}

TEST_F(PlatformKernelJobs, RoundTripBetweenJobsOnDifferentTasks)
{
    const BYTE request[] = {1, 2, 3, 4, 5};
    const BYTE answer[] = {9, 8, 7};
    WORD16 stateSeenInCall = 0;
    // B answers the request and changes state; the new state is visible within the same call.
    Recorder::instance().set_reaction(kt::kTypeB, [&](const kt::Call& c) {
        if (c.msgId != 0x1234) {
            return;
        }
        XOS_SetNextState(7);
        stateSeenInCall = XOS_GetCurState();
        JID back{};
        XOS_Sender(&back);
        XOS_SendAsynMsg(0x1235, const_cast<BYTE*>(answer), sizeof answer, 0, 2, &back);
    });
    WORD32 sendResult = 99;
    ASSERT_TRUE(kt::run_on_job(kt::kTypeA, [&] {
        JID dest = kt::local_jid(kt::kTypeB);
        sendResult = XOS_SendAsynMsg(0x1234, const_cast<BYTE*>(request), sizeof request, 0, 0, &dest);
    }));
    EXPECT_EQ(sendResult, 0u);
    ASSERT_TRUE(Recorder::instance().wait_for(kt::kTypeA, 0x1235, 1, 5s));

    auto atB = Recorder::instance().calls(kt::kTypeB, 0x1234);
    ASSERT_EQ(atB.size(), 1u);
    EXPECT_TRUE(same_jid(atB[0].sender, kt::local_jid(kt::kTypeA)));
    EXPECT_TRUE(same_jid(atB[0].self, kt::local_jid(kt::kTypeB)));
    EXPECT_EQ(atB[0].len, sizeof request);
    EXPECT_EQ(atB[0].type, CN_MSG_TYPE_JOB);
    EXPECT_EQ(atB[0].body, std::vector<BYTE>(request, request + sizeof request));
    EXPECT_EQ(atB[0].state, 0);
    EXPECT_TRUE(pthread_equal(atB[0].thread, CNCtrlTask::thisThrNo[3].load()));
    EXPECT_EQ(stateSeenInCall, 7);
    EXPECT_EQ(kt::job_of(kt::kTypeB)->GetCurState(), 7u);
    EXPECT_EQ(XOS_GetJobAppState(static_cast<WORD32>(kt::kTypeB) << 16), 7);

    auto atA = Recorder::instance().calls(kt::kTypeA, 0x1235);
    ASSERT_EQ(atA.size(), 1u);
    EXPECT_TRUE(same_jid(atA[0].sender, kt::local_jid(kt::kTypeB)));
    EXPECT_EQ(atA[0].len, sizeof answer);
    EXPECT_EQ(atA[0].body, std::vector<BYTE>(answer, answer + sizeof answer));
    EXPECT_TRUE(pthread_equal(atA[0].thread, CNCtrlTask::thisThrNo[2].load()));
    // The receiver is set only by the route-type-5 diversion.
    EXPECT_TRUE(same_jid(atA[0].receiver, JID{}));
}

TEST_F(PlatformKernelJobs, AccessorsInsideAJob)
{
    JID self{}, byNo{};
    PID pid{};
    WORD32 jno = 0;
    BYTE logic[12];
    ASSERT_TRUE(kt::run_on_job(kt::kTypeD, [&] {
        XOS_GetSelfJID(&self);
        OSS_GetSelfPID(&pid);
        jno = XOS_GetSelfJNO();
        XOS_GetJIDByJNO(0x77770001, &byNo);
        OSS_GetLogicAddress(logic);
    }));
    JID expect = kt::local_jid(kt::kTypeD);
    EXPECT_TRUE(same_jid(self, expect));
    EXPECT_EQ(std::memcmp(&pid, &expect, sizeof pid), 0);
    EXPECT_EQ(jno, expect.dwJno);
    EXPECT_EQ(byNo.dwJno, 0x77770001u);
    EXPECT_EQ(byNo.wModule, expect.wModule);
    EXPECT_EQ(byNo.dwDevId, expect.dwDevId);
    // Logical address: 0xFF everywhere but the module word at byte 2 and the unit word at 4.
    WORD16 module = 0, unit = 0;
    std::memcpy(&module, logic + 2, 2);
    std::memcpy(&unit, logic + 4, 2);
    EXPECT_EQ(module, _thisModuleNo);
    EXPECT_EQ(unit, 0xFFFF);
    EXPECT_EQ(logic[0], 0xFF);
    EXPECT_EQ(logic[1], 0xFF);
    for (int i = 6; i < 12; ++i) {
        EXPECT_EQ(logic[i], 0xFF);
    }
    // Off a task thread the same calls see no job.
    JID none{};
    none.dwJno = 5;
    EXPECT_EQ(XOS_GetJIDByJNO(0x42, &none), 0u);
    EXPECT_EQ(none.dwJno, 0x42u);
    EXPECT_EQ(none.wModule, 0);
    EXPECT_EQ(XOS_GetJIDByJNO(0x42, nullptr), 1u);
}

TEST_F(PlatformKernelJobs, UnknownTypeReachesNotexistWhichAcknowledgesOnce)
{
    WORD32 rc1 = 99, rc2 = 99, rc3 = 99;
    ASSERT_TRUE(kt::run_on_job(kt::kTypeA, [&] {
        JID endRow = kt::local_jid(0x5FFF);
        JID unknown = kt::local_jid(0x7777);
        rc1 = XOS_SendAsynMsg(CN_MSG_POWER_ON, nullptr, 0, 0, 0, &endRow);
        rc2 = XOS_SendAsynMsg(CN_MSG_POWER_ON, nullptr, 0, 0, 0, &unknown);
        rc3 = XOS_SendAsynMsg(0x55, nullptr, 0, 0, 0, &unknown);
    }));
    EXPECT_EQ(rc1, 0u);
    EXPECT_EQ(rc2, 0u);
    EXPECT_EQ(rc3, 0u);
    ASSERT_TRUE(Recorder::instance().wait_for(kt::kTypeA, CN_MSG_POWER_ON_ACK, 1, 5s));
    // notexist shares task 1 with T_SCS: once T_SCS ran, the other two messages were handled.
    ASSERT_TRUE(kt::run_on_job(kt::kTypeScs, [] {}));
    auto acks = Recorder::instance().calls(kt::kTypeA, CN_MSG_POWER_ON_ACK);
    ASSERT_EQ(acks.size(), 1u);
    EXPECT_TRUE(same_jid(acks[0].sender, kt::local_jid(kt::kTypeNotExist)));
    EXPECT_EQ(acks[0].len, 0);
    EXPECT_EQ(XOS_GetJobAppState(static_cast<WORD32>(kt::kTypeNotExist) << 16), 1);
    // Unknown types answer 0; row 0's type answers its job's state.
    EXPECT_EQ(XOS_GetJobAppState(0x7777u << 16), 0);
    EXPECT_EQ(XOS_GetJobAppState(0), 0);
    EXPECT_EQ(CN_Job_Base::GetJobHandlerByJid(nullptr), nullptr);
    JID unknown = kt::local_jid(0x7777);
    EXPECT_EQ(CN_Job_Base::GetJobHandlerByJid(&unknown), CNCtrlTask::g_JobObj[1]);
}

TEST_F(PlatformKernelJobs, RowZeroStateIsReported)
{
    ASSERT_TRUE(kt::run_on_job(kt::kTypeScs, [] { XOS_SetNextState(3); }));
    EXPECT_EQ(XOS_GetJobAppState(0x0000FFFF), 3);
}

TEST_F(PlatformKernelJobs, ForeignModuleIsDroppedWithALogLine)
{
    JID foreign = kt::local_jid(kt::kTypeB);
    foreign.wModule = static_cast<WORD16>(_thisModuleNo + 7);
    EXPECT_EQ(CN_Job_Base::GetJobHandlerByJid(&foreign), nullptr);
    std::string log = kt::log_text();
    std::string expected = "GetJobHandlerByJid: JID not local, wModule=" + std::to_string(foreign.wModule) +
                           "(own " + std::to_string(_thisModuleNo) + "), wUnit=65535(own 65535)";
    EXPECT_NE(log.find(expected), std::string::npos) << log;

    // A block that names a foreign job and reaches a task anyway is logged and released.
    T_CNMessageHead head{};
    head.DestJID = foreign;
    head.dwMsgID = 0x99;
    ACE_Message_Block* mb = new ACE_Message_Block(sizeof head, MB_USER_JOB_MESSAGE);
    std::memcpy(mb->wr_ptr(), &head, sizeof head);
    mb->wr_ptr(sizeof head);
    ASSERT_EQ(CNCtrlTask::gaCNCtrlTask[3]->PutBlock(mb, false), 0);
    ASSERT_TRUE(kt::run_on_job(kt::kTypeB, [] {})); // same task: the bad block has been handled
    EXPECT_NE(kt::log_text().find(" CNCtrlTask:not local msg!!!!"), std::string::npos);
    EXPECT_TRUE(Recorder::instance().calls(kt::kTypeB, 0x99).empty());
}

TEST_F(PlatformKernelJobs, InvalidBlockKindsAreDropped)
{
    ACE_Message_Block* mb = new ACE_Message_Block(64, MB_USER_PKT);
    mb->wr_ptr(64);
    ASSERT_EQ(CNCtrlTask::gaCNCtrlTask[5]->PutBlock(mb, false), 0);
    // An unresolvable timer block goes silently.
    ACE_Message_Block* tb = new ACE_Message_Block(sizeof(T_CNTimerMessage), MB_USER_TIMER);
    T_CNTimerMessage tm{};
    tm.tHead.DestJID = kt::local_jid(kt::kTypeD);
    tm.tHead.DestJID.wUnit = 3;
    std::memcpy(tb->wr_ptr(), &tm, sizeof tm);
    tb->wr_ptr(sizeof tm);
    size_t before = kt::log_text().size();
    ASSERT_EQ(CNCtrlTask::gaCNCtrlTask[5]->PutBlock(tb, false), 0);
    ASSERT_TRUE(kt::run_on_job(kt::kTypeD, [] {}));
    std::string log = kt::log_text();
    EXPECT_NE(log.find(" CNCtrlTask:Invalid msg!!!!"), std::string::npos);
    EXPECT_EQ(log.find("JID not local", before), std::string::npos);
    EXPECT_TRUE(Recorder::instance().calls(kt::kTypeD).empty());
}

TEST_F(PlatformKernelJobs, LocalSendRefusals)
{
    WORD32 nullData = 99, tooLong = 99, nullReceiver = 99;
    static BYTE big[21505];
    ASSERT_TRUE(kt::run_on_job(kt::kTypeA, [&] {
        JID dest = kt::local_jid(kt::kTypeB);
        nullData = XOS_SendAsynMsg(1, nullptr, 1, 0, 0, &dest);
        tooLong = XOS_SendAsynMsg(1, big, 21505, 0, 0, &dest);
        nullReceiver = XOS_SendAsynMsg(1, big, 1, 0, 0, nullptr);
    }));
    EXPECT_EQ(nullData, 1u);
    EXPECT_EQ(tooLong, 1u);
    EXPECT_EQ(nullReceiver, 0xFFFFFFFFu);
    EXPECT_EQ(XOS_PowerOnAck(0, nullptr, 0, 0), 1u); // no current job
    // The largest message stays whole in the process.
    WORD32 largest = 99;
    ASSERT_TRUE(kt::run_on_job(kt::kTypeA, [&] {
        JID dest = kt::local_jid(kt::kTypeB);
        big[0] = 0x5A;
        big[21503] = 0xA5;
        largest = XOS_SendAsynMsg(2, big, 21504, 0, 0, &dest);
    }));
    EXPECT_EQ(largest, 0u);
    ASSERT_TRUE(Recorder::instance().wait_for(kt::kTypeB, 2, 1, 5s));
    auto c = Recorder::instance().calls(kt::kTypeB, 2)[0];
    ASSERT_EQ(c.len, 21504);
    EXPECT_EQ(c.body[0], 0x5A);
    EXPECT_EQ(c.body[21503], 0xA5);
}

TEST_F(PlatformKernelJobs, ASendUnderAMarkGivesWayToAReceiverThatIsBehind)
{
    // Job B is held inside a call, so what A sends it stays queued. Each message carries 55 data
    // bytes: a block of 44 + 55 + 1 = 100 bytes. A send under mark M is taken while fewer than
    // M bytes wait for B's task, and given up (nothing queued) from then on; a mark of 0 is none.
    // The backlog read from any thread is what waits for the job's task.
    const JID dest_b = kt::local_jid(kt::kTypeB);
    const JID dest_b2 = kt::local_jid(kt::kTypeB2);
    const JID dest_c = kt::local_jid(kt::kTypeC);
    kt::JobHold hold;
    ASSERT_TRUE(hold.hold(kt::kTypeB));
    struct Row {
        size_t mark;
        WORD32 expected;  // 0 sent, CN_SEND_SHED given up
    } rows[] = {{300, 0}, {300, 0}, {300, 0}, {300, CN_SEND_SHED},  // 300 bytes wait
                {301, 0}, {301, CN_SEND_SHED}, {400, CN_SEND_SHED},      // 400
                {0, 0},                                                  // 500
                {500, CN_SEND_SHED}, {501, 0}};                          // 600
    std::vector<WORD32> got;
    ASSERT_TRUE(kt::run_on_job(kt::kTypeA, [&] {
        JID dest = kt::local_jid(kt::kTypeB);
        BYTE data[55] = {};
        for (size_t i = 0; i < std::size(rows); ++i) {
            data[0] = static_cast<BYTE>(i);
            got.push_back(CN_SendAsynMsgUnderMark(0x500, data, sizeof data, 0, 2, &dest, rows[i].mark));
        }
    }));
    ASSERT_EQ(got.size(), std::size(rows));
    EXPECT_EQ(CN_JobBacklogBytes(&dest_b), 600u);
    EXPECT_EQ(CN_JobBacklogBytes(&dest_b2), 600u);  // the same task's queue
    EXPECT_EQ(CN_JobBacklogBytes(&dest_c), 0u);
    EXPECT_EQ(CN_JobBacklogBytes(nullptr), 0u);
    EXPECT_EQ(CN_JobQueue(&dest_b), CN_JobQueue(&dest_b2));
    EXPECT_EQ(CN_JobQueue(&dest_b)->backlog_bytes(), 600u);
    std::vector<BYTE> sent;
    for (size_t i = 0; i < std::size(rows); ++i) {
        EXPECT_EQ(got[i], rows[i].expected) << "row " << i;
        if (rows[i].expected == 0) sent.push_back(static_cast<BYTE>(i));
    }
    hold.release();
    ASSERT_TRUE(Recorder::instance().wait_for(kt::kTypeB, 0x500, sent.size(), 5s));
    std::vector<BYTE> arrived;
    for (const auto& c : Recorder::instance().calls(kt::kTypeB, 0x500)) arrived.push_back(c.body[0]);
    EXPECT_EQ(arrived, sent);
}

TEST_F(PlatformKernelJobs, ExplicitSenderFormsDeliverFromAnyThread)
{
    JID sender = kt::local_jid(0x0AAA);
    JID dest = kt::local_jid(kt::kTypeB2);
    BYTE data[] = {0x11, 0x22};
    EXPECT_EQ(XOS_SendAsynMsgNJ(0x300, data, 2, 0, 0, &sender, &dest), 0u);
    EXPECT_EQ(OSS_SendFromTask(0x301, data, 1, &sender, &dest), 0u);
    EXPECT_EQ(XOS_SendAsynMsgNJ(0x302, data, 2, 0, 0, nullptr, &dest), 1u);
    EXPECT_EQ(OSS_SendFromTask(0x303, nullptr, 2, &sender, &dest), 1u);
    ASSERT_TRUE(Recorder::instance().wait_for(kt::kTypeB2, 0x301, 1, 5s));
    auto calls = Recorder::instance().calls(kt::kTypeB2);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].msgId, 0x300u);
    EXPECT_TRUE(same_jid(calls[0].sender, sender));
    EXPECT_EQ(calls[0].len, 2);
    EXPECT_EQ(calls[1].msgId, 0x301u);
    EXPECT_EQ(calls[1].body, std::vector<BYTE>{0x11});
    // Both jobs of task 3 run on the one task thread.
    EXPECT_TRUE(pthread_equal(calls[0].thread, CNCtrlTask::thisThrNo[3].load()));
}

TEST_F(PlatformKernelJobs, StateApiTwinsAndConstructors)
{
    WORD16 seen = 0;
    ASSERT_TRUE(kt::run_on_job(kt::kTypeC, [&] {
        OSS_SetNextState(42);
        seen = OSS_GetCurState();
    }));
    EXPECT_EQ(seen, 42);
    BYTE st = 0;
    EXPECT_EQ(XOS_GetJobState(123, &st), 0u);
    EXPECT_EQ(st, 1);
    EXPECT_EQ(XOS_GetJobState(123, nullptr), 1u);
    EXPECT_EQ(XOS_ConstructJNO(0x4005, 0x10001), 0x40050001u);
    EXPECT_EQ(OSS_ConstructPNO(0x12, 3), 0x120003u);
    PID pid;
    std::memset(&pid, 0xEE, sizeof pid);
    EXPECT_EQ(OSS_ConstructPID(1, 2, 3, 4, 5, 6, 7, &pid), 0u);
    EXPECT_EQ(pid.dwPno, 1u);
    EXPECT_EQ(pid.dwDevId, 2u);
    EXPECT_EQ(pid.wModule, 3);
    EXPECT_EQ(pid.wUnit, 4);
    EXPECT_EQ(pid.ucSUnit, 5);
    EXPECT_EQ(pid.ucSubSystem, 6);
    EXPECT_EQ(pid.ucRouteType, 7);
    EXPECT_EQ(pid.ucExtendFlag, 0xEE);
    EXPECT_EQ(OSS_ConstructPID(1, 2, 3, 4, 5, 6, 7, nullptr), 1542u);
    JID j{};
    j.dwJno = 0x40190001;
    EXPECT_EQ(XOS_GetJobType(&j), 0x4019u);
    EXPECT_EQ(XOS_GetJobType(nullptr), 0u);
    EXPECT_FALSE(XOS_IsOmp());
}

TEST_F(PlatformKernelJobs, DumpWritesTheJobAndTaskLines)
{
    kt::job_of(kt::kTypeC)->dump();
    std::string log = kt::log_text();
    EXPECT_NE(log.find("\n===\nJob name =T_C\n"), std::string::npos);
    EXPECT_NE(log.find("dwJobType_=0X103\n"), std::string::npos);
    EXPECT_NE(log.find("tSelfJID_: dwJno=0X1030001|wModule=" + std::to_string(_thisModuleNo) + "|wUnit=65535\n===\n"),
              std::string::npos);
    EXPECT_NE(log.find("\n===\nwSchIndex=4|ThrNo="), std::string::npos);
}

TEST_F(PlatformKernelJobs, ExceptionFromAnEntryIsContained)
{
    Recorder::instance().set_reaction(kt::kTypeC, [](const kt::Call& c) {
        if (c.msgId == 0x666) {
            throw std::runtime_error("boom");
        }
    });
    JID sender = kt::local_jid(kt::kTypeA);
    JID dest = kt::local_jid(kt::kTypeC);
    ASSERT_EQ(XOS_SendAsynMsgNJ(0x666, nullptr, 0, 0, 0, &sender, &dest), 0u);
    ASSERT_EQ(XOS_SendAsynMsgNJ(0x667, nullptr, 0, 0, 0, &sender, &dest), 0u);
    ASSERT_TRUE(Recorder::instance().wait_for(kt::kTypeC, 0x667, 1, 5s));
    EXPECT_NE(kt::log_text().find("exception from its entry on message 0x666: boom"), std::string::npos);
}

} // namespace

namespace {

TEST_F(PlatformKernelJobs, WakeUpMessageReachesRowZero)
{
    ASSERT_EQ(CN_WakeSequencer(), 0);
    ASSERT_TRUE(Recorder::instance().wait_for(kt::kTypeScs, 0, 1, 5s));
    kt::Call c = Recorder::instance().calls(kt::kTypeScs, 0)[0];
    EXPECT_EQ(c.len, 0);
    EXPECT_EQ(c.type, CN_MSG_TYPE_JOB);
    EXPECT_EQ(c.sender.dwJno, 1u);
    EXPECT_EQ(c.sender.wModule, _thisModuleNo);
    EXPECT_TRUE(pthread_equal(c.thread, CNCtrlTask::thisThrNo[1].load()));
}

TEST_F(PlatformKernelJobs, ScheduleIndexOutsideTheRangeGetsNoJobsAndNoQueueSettings)
{
    size_t defaultMark = ACE_Message_Queue<ACE_MT_SYNCH>().high_water_mark();
    CNCtrlTask outside(0x600 | 31);
    EXPECT_EQ(outside.GetSchIndex(), 31);
    EXPECT_EQ(outside.msg_queue()->high_water_mark(), defaultMark);
    CNCtrlTask zero(0x600);
    EXPECT_EQ(zero.msg_queue()->high_water_mark(), defaultMark);
    for (CN_Job_Base* job : CNCtrlTask::g_JobObj) {
        if (job != nullptr) {
            EXPECT_NE(job->GetParentTask(), &outside);
            EXPECT_NE(job->GetParentTask(), &zero);
        }
    }
}

class PlatformKernelModuleType : public ::testing::Test {
protected:
    void TearDown() override { kt::stop_platform(); }
};

TEST_F(PlatformKernelModuleType, BitOneGivesEveryTaskButTheFirst120MiB)
{
    ASSERT_TRUE(kt::start_platform([](CN_PlatformProfile& p) { p.dwModuleType = 2; }));
    EXPECT_EQ(CNCtrlTask::gaCNCtrlTask[1]->msg_queue()->high_water_mark(), 0x20000000u);
    for (WORD16 i = 2; i <= kt::kTaskCount; ++i) {
        EXPECT_EQ(CNCtrlTask::gaCNCtrlTask[i]->msg_queue()->high_water_mark(), 0x7800000u) << i;
    }
}

TEST_F(PlatformKernelModuleType, BitTwoGivesTasksAboveThree512MiB)
{
    ASSERT_TRUE(kt::start_platform([](CN_PlatformProfile& p) {
        p.dwModuleType = 4 | 2;
        p.qwHighWaterMark = 0x2800000;
    }));
    for (WORD16 i = 1; i <= 3; ++i) {
        EXPECT_EQ(CNCtrlTask::gaCNCtrlTask[i]->msg_queue()->high_water_mark(), 0x2800000u) << i;
    }
    for (WORD16 i = 4; i <= kt::kTaskCount; ++i) {
        EXPECT_EQ(CNCtrlTask::gaCNCtrlTask[i]->msg_queue()->high_water_mark(), 0x20000000u) << i;
    }
}

TEST(PlatformKernelCoreBind, ReadsBothSectionsInOrder)
{
    char path[] = "/tmp/platform_kernel_corebind_XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    const char text[] = "[SMP]\nthread2core=3\nthread2core= 5\nother=9\n[SMPEND]\nthread2core=7\n"
                        "[UP]\nthread2core=0\n[UPEND]\n";
    ASSERT_EQ(write(fd, text, sizeof text - 1), static_cast<ssize_t>(sizeof text - 1));
    close(fd);
    EXPECT_EQ(LoadCoreBindCfg(path), 3);
    EXPECT_EQ(g_SMP_CoreBindCfg[0], 3);
    EXPECT_EQ(g_SMP_CoreBindCfg[1], 5);
    EXPECT_EQ(g_UP_CoreBindCfg[0], 0);
    EXPECT_EQ(LoadCoreBindCfg("/nonexistent/corebind.cfg"), -1);
    EXPECT_EQ(bindthread2core(pthread_self(), 5000), -1);
    EXPECT_EQ(bindthread2core(pthread_self(), static_cast<unsigned>(sched_getcpu())), 0);
    unlink(path);
}

} // namespace
