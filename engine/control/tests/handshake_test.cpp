// The start handshake's bookkeeping as plain code: directory rows, answers, passes and the
// retry timer, on fake sends and timers.
#include <gtest/gtest.h>

#include <cstring>

#include "control_test_support.h"
#include "zub_job_dir.h"
#include "zub_msg_id.h"
#include "zub_start_handshake.h"

namespace {

JID jid_of(WORD16 type)
{
    JID j{};
    j.dwJno = (static_cast<WORD32>(type) << 16) | 1u;
    return j;
}

class engine_control_Handshake : public ::testing::Test {
protected:
    ctl::FakePorts ports;
    ctl::Prints prints;

    void SetUp() override
    {
        T_qeJobInfo& d = g_tMPAllJobInitInfo;
        std::memset(&d, 0, sizeof d);
        const WORD16 types[] = {0x4000, 0x4001, 0x4004};
        const char* names[] = {"CONTROL", "MANAGER1", "SOCKET"};
        for (unsigned i = 0; i < 3; ++i) {
            d.tJobInfo[i].wJobType = types[i];
            d.tJobInfo[i].tJID = jid_of(types[i]);
            std::strcpy(d.tJobInfo[i].szJobName, names[i]);
        }
        d.wRealJOBNumber = 3;
        d.init_timer = QE_NO_INIT_TIMER;
    }

    std::vector<WORD16> started_types() const
    {
        std::vector<WORD16> out;
        for (const auto& e : ports.events) {
            EXPECT_EQ(e.first, ZUB_EV_CTRL_XX_INIT_START);
            out.push_back(static_cast<WORD16>(e.second.dwJno >> 16));
        }
        return out;
    }

    void answer(WORD16 type)
    {
        const JID j = jid_of(type);
        zub_recordMPJobInitInfo(&j, 1);
    }
};

TEST_F(engine_control_Handshake, PassesAskOnlyTheSilentJobsUntilAllAnswered)
{
    zub_notifyJobsInit();
    EXPECT_EQ(started_types(), (std::vector<WORD16>{0x4000, 0x4001, 0x4004}));
    EXPECT_EQ(prints.count_of("zub_asyn_msg_send(ZUB_EV_CTRL_XX_INIT_START) is called! szJobName=MANAGER1."), 1u);
    ASSERT_EQ(ports.timers_set.size(), 1u);
    EXPECT_EQ(ports.timers_set[0], (std::pair<BYTE, WORD32>{120, 5}));
    EXPECT_EQ(g_tMPAllJobInitInfo.init_timer, 100u);

    answer(0x4000);
    answer(0x4001);
    EXPECT_EQ(prints.count_of("MANAGER1 process record,wIndex = [1]"), 1u);
    EXPECT_EQ(prints.count_of("MANAGER1 process init OK, FailTimes=0."), 1u);
    EXPECT_EQ(zub_isJobsInitOK(), 0);

    // The retry timer fires: only the socket job is asked again, and the timer is re-armed.
    ports.events.clear();
    zub_control_timeout((120u << 24) | 0xFFFFFF);
    EXPECT_EQ(started_types(), (std::vector<WORD16>{0x4004}));
    EXPECT_EQ(g_tMPAllJobInitInfo.init_timer, 101u);

    answer(0x4004);
    EXPECT_EQ(zub_isJobsInitOK(), 1);
    EXPECT_EQ(ports.timers_deleted, std::vector<WORD32>{101});
    EXPECT_EQ(g_tMPAllJobInitInfo.init_timer, QE_NO_INIT_TIMER);
    EXPECT_EQ(g_tMPAllJobInitInfo.wJobInitOKNum, 3);

    // Complete: a later pass sends nothing and arms nothing.
    ports.events.clear();
    zub_notifyJobsInit();
    EXPECT_TRUE(ports.events.empty());
    EXPECT_EQ(ports.timers_set.size(), 2u);
}

TEST_F(engine_control_Handshake, RepeatedAndStrayAnswersAreNotCounted)
{
    struct Row { WORD16 type; WORD16 ok_count; const char* line; };
    const Row rows[] = {
        {0x4001, 1, "MANAGER1 process init OK, FailTimes=0."},
        {0x4001, 1, "MANAGER1 process init OK again, not counted."},
        {0x4001, 1, "MANAGER1 process init OK again, not counted."},
        {0x4010, 1, "start answer of job type 0x4010, which has no row, not counted."},
        {0x4000, 2, "CONTROL process init OK, FailTimes=0."},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.line);
        prints.clear();
        answer(r.type);
        EXPECT_EQ(g_tMPAllJobInitInfo.wJobInitOKNum, r.ok_count);
        EXPECT_EQ(prints.count_of(r.line), 1u);
    }
    // The socket job is still silent, so the handshake is not complete.
    EXPECT_EQ(zub_isJobsInitOK(), 0);
}

TEST_F(engine_control_Handshake, NegativeAnswerCountsAFailure)
{
    const JID j = jid_of(0x4004);
    zub_recordMPJobInitInfo(&j, 0);
    zub_recordMPJobInitInfo(&j, 0);
    EXPECT_EQ(g_tMPAllJobInitInfo.tJobInfo[2].dwInitFailNum, 2u);
    EXPECT_EQ(g_tMPAllJobInitInfo.wJobInitOKNum, 0);
    EXPECT_EQ(prints.count_of("SOCKET process init failed, FailTimes=2."), 1u);
}

TEST_F(engine_control_Handshake, FailedArmingIsHealedAtTheNextEvent)
{
    ports.refuse_timers = true;
    zub_notifyJobsInit();
    EXPECT_EQ(g_tMPAllJobInitInfo.init_timer, QE_NO_INIT_TIMER);
    EXPECT_EQ(prints.count_of("start retry timer not set; tried again at the next event."), 1u);

    // Still refused at the next event: logged again, nothing armed.
    zub_control_heal_retry();
    EXPECT_EQ(g_tMPAllJobInitInfo.init_timer, QE_NO_INIT_TIMER);

    ports.refuse_timers = false;
    zub_control_heal_retry();
    EXPECT_EQ(g_tMPAllJobInitInfo.init_timer, 100u);
    ASSERT_EQ(ports.timers_set.size(), 1u);
    // With a timer running, healing leaves it alone.
    zub_control_heal_retry();
    EXPECT_EQ(ports.timers_set.size(), 1u);
}

TEST_F(engine_control_Handshake, NoHealingOnceEveryJobAnswered)
{
    answer(0x4000);
    answer(0x4001);
    answer(0x4004);
    zub_control_heal_retry();
    EXPECT_TRUE(ports.timers_set.empty());
}

TEST_F(engine_control_Handshake, OtherTimerTypesAreIgnored)
{
    zub_control_timeout((77u << 24) | 1);
    EXPECT_TRUE(ports.events.empty());
    EXPECT_TRUE(ports.timers_set.empty());
}

}  // namespace
