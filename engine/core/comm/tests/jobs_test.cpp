// Engine events between jobs, the timer wrappers and the job directory, on the platform running
// the engine's job table.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "comm_test_support.h"
#include "zub_comm.h"
#include "zub_telnet_hook.h"
#include "zub_context.h"
#include "engine_jobs.h"

using namespace std::chrono_literals;
using ct::Recorder;
using Clock = std::chrono::steady_clock;

namespace {

class engine_comm_Jobs : public ::testing::Test {
protected:
    void SetUp() override { Recorder::instance().clear(); }

    template <typename F>
    auto in_job(WORD16 type, F fn)
    {
        decltype(fn()) result{};
        EXPECT_TRUE(ct::run_on_job(type, [&] { result = fn(); }));
        return result;
    }

    static bool same_jid(const JID& a, const JID& b) { return std::memcmp(&a, &b, sizeof a) == 0; }
};

constexpr BYTE kSolveTimer = 140;  // a selector's solving round

// ---- events -------------------------------------------------------------------------------

TEST_F(engine_comm_Jobs, PositionEventReachesTheDisplayJobWithItsExactBody)
{
    // msg_position_t, packed: mode 4 (multiple), tag 0x1122334455667788, anchor 0x0102030405060708,
    // x = 1500 mm, y = -2 mm, z = 0x01020304 mm, little-endian.
    const std::vector<BYTE> body = {
        0x04,                                            // anchor_mode
        0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11,  // tag_id
        0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01,  // anchor_id
        0xDC, 0x05, 0x00, 0x00,                          // x
        0xFE, 0xFF, 0xFF, 0xFF,                          // y
        0x04, 0x03, 0x02, 0x01,                          // z
    };
    ASSERT_EQ(body.size(), 29u);
    context_t* ctx = zub_context();
    const bool sent = in_job(QE_JOBTYPE_ZUB_SELECTOR_BEGIN, [&] {
        return zub_asyn_msg_send(ZUB_EV_SELECTOR_DISPLAY_TAG_LOC, body.data(), static_cast<WORD16>(body.size()),
                                 &ctx->jid_display);
    });
    ASSERT_TRUE(sent);
    ASSERT_TRUE(Recorder::instance().wait_for(QE_JOBTYPE_ZUB_DISPLAY, ZUB_EV_SELECTOR_DISPLAY_TAG_LOC, 1, 5s));
    const auto calls = Recorder::instance().calls(QE_JOBTYPE_ZUB_DISPLAY, ZUB_EV_SELECTOR_DISPLAY_TAG_LOC);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].msgId, 0x70000u);
    EXPECT_EQ(calls[0].type, CN_MSG_TYPE_JOB);
    EXPECT_EQ(calls[0].body, body);
    EXPECT_TRUE(same_jid(calls[0].sender, ct::local_jid(QE_JOBTYPE_ZUB_SELECTOR_BEGIN)));
}

TEST_F(engine_comm_Jobs, EmptyStartAcknowledgementReachesTheControlJob)
{
    const bool sent = in_job(QE_JOBTYPE_ZUB_RECON, [] {
        return zub_asyn_msg_send(ZUB_EV_XX_CTRL_JOB_START_OK, nullptr, 0, &zub_context()->jid_control);
    });
    ASSERT_TRUE(sent);
    ASSERT_TRUE(Recorder::instance().wait_for(QE_JOBTYPE_ZUB_CONTROL, 0x30001, 1, 5s));
    const auto calls = Recorder::instance().calls(QE_JOBTYPE_ZUB_CONTROL, 0x30001);
    EXPECT_TRUE(calls[0].body.empty());
    EXPECT_TRUE(same_jid(calls[0].sender, ct::local_jid(QE_JOBTYPE_ZUB_RECON)));
}

TEST_F(engine_comm_Jobs, RefusedSendsReturnFalseAndPrintTheFailure)
{
    ct::PrintCapture prints;
    const BYTE byte = 1;
    EXPECT_FALSE(in_job(QE_JOBTYPE_ZUB_CONTROL, [&] { return zub_asyn_msg_send(0x30000, &byte, 1, nullptr); }));
    EXPECT_TRUE(prints.lines().empty());  // a null destination is not printed

    // Outside any job the platform has no sender and refuses the message.
    JID display = zub_context()->jid_display;
    EXPECT_FALSE(zub_asyn_msg_send(ZUB_EV_RECON_DISPLAY_MSG, &byte, 1, &display));
    char expected[256];
    std::snprintf(expected, sizeof expected,
                  "Send message to another job, OSS send asynchronous message failed. RcvJobModule=%d, "
                  "RcvProcNo=%X, RouteType=0, MsgID=20000, MsgLen=1.",
                  display.wModule, display.dwJno);
    EXPECT_EQ(prints.count_of(expected), 1u);
    EXPECT_EQ(display.dwJno, 0x40060001u);
}

// ---- timers -------------------------------------------------------------------------------

TEST_F(engine_comm_Jobs, OneShotTimerArrivesOnceAs2029WithItsParameterWord)
{
    const auto started = Clock::now();
    const WORD32 id = in_job(QE_JOBTYPE_ZUB_CONTROL, [] { return zub_SetMSecTimer(QE_CTRL_TIMER_TYPE_WAIT_RESP, 7, 40); });
    ASSERT_NE(id, ZUB_INVALID_TIMER_ID);
    ASSERT_TRUE(Recorder::instance().wait_for(QE_JOBTYPE_ZUB_CONTROL, 2029, 1, 5s));
    std::this_thread::sleep_for(150ms);
    const auto calls = Recorder::instance().calls(QE_JOBTYPE_ZUB_CONTROL, 2029);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_GE(calls[0].at - started, 35ms);
    EXPECT_EQ(calls[0].type, CN_MSG_TYPE_TIMER);
    EXPECT_EQ(calls[0].timerPara, 0x79000007u);  // 121 << 24 | 7
    EXPECT_EQ(calls[0].body, (std::vector<BYTE>{0x07, 0x00, 0x00, 0x79}));
    EXPECT_EQ(calls[0].timerId, id);
}

TEST_F(engine_comm_Jobs, PeriodicTimerArrivesAs2030EveryPeriodUntilDeleted)
{
    const auto started = Clock::now();
    const WORD32 id = in_job(QE_JOBTYPE_ZUB_SELECTOR_BEGIN, [] { return zub_SetLoopMSecTimer(kSolveTimer, 5, 20); });
    ASSERT_NE(id, ZUB_INVALID_TIMER_ID);
    ASSERT_TRUE(Recorder::instance().wait_for(QE_JOBTYPE_ZUB_SELECTOR_BEGIN, 2030, 6, 5s));
    EXPECT_TRUE(in_job(QE_JOBTYPE_ZUB_SELECTOR_BEGIN, [id] { return zub_DelTimer(id); }));
    // Expiries queued before the delete ran are taken before this; none is queued after it.
    const auto flush = [this] { return in_job(QE_JOBTYPE_ZUB_SELECTOR_BEGIN, [] { return true; }); };
    ASSERT_TRUE(flush());
    const auto calls = Recorder::instance().calls(QE_JOBTYPE_ZUB_SELECTOR_BEGIN, 2030);
    // A periodic timer never fires early, though a late one may catch up in a burst: the n-th
    // expiry comes no sooner than n periods after the set-up (less the millisecond rounding).
    EXPECT_GE(calls[0].at - started, 15ms);
    EXPECT_GE(calls[5].at - started, 115ms);
    for (const ct::Call& c : calls) {
        EXPECT_EQ(c.timerPara, (140u << 24) | 5u);
        EXPECT_EQ(c.timerId, id);
    }
    std::this_thread::sleep_for(100ms);
    ASSERT_TRUE(flush());
    EXPECT_EQ(Recorder::instance().calls(QE_JOBTYPE_ZUB_SELECTOR_BEGIN, 2030).size(), calls.size());
    EXPECT_EQ(CN_Job_Base::GetJobByType(QE_JOBTYPE_ZUB_SELECTOR_BEGIN)->TimerCount(), 0u);
}

TEST_F(engine_comm_Jobs, JobReadsTheParameterWordOfTheTimerThatFired)
{
    // A value above 24 bits keeps its low 24 bits; the job reads the word back in its handler.
    const WORD32 id = in_job(QE_JOBTYPE_ZUB_DISPLAY, [] { return zub_SetMSecTimer(143, 0x12ABCDEF, 10); });
    ASSERT_NE(id, ZUB_INVALID_TIMER_ID);
    ASSERT_TRUE(Recorder::instance().wait_for(QE_JOBTYPE_ZUB_DISPLAY, 2029, 1, 5s));
    const auto calls = Recorder::instance().calls(QE_JOBTYPE_ZUB_DISPLAY, 2029);
    EXPECT_EQ(calls[0].timerPara, 0x8FABCDEFu);
    EXPECT_EQ(zub_timer_type(calls[0].timerPara), 143);
    EXPECT_EQ(zub_timer_value(calls[0].timerPara), 0xABCDEFu);
    // Outside a timer expiry (and outside any job) there is no word to read.
    EXPECT_EQ(zub_GetParaFromCurTimer(), 0u);
}

TEST_F(engine_comm_Jobs, SecondsFormsUseTheDefaultLengthAndMultiplyBy1000)
{
    CN_Job_Base* recon = CN_Job_Base::GetJobByType(QE_JOBTYPE_ZUB_RECON);
    auto period_of = [&](WORD32 id) {
        CN_TimerRecord rec{};
        EXPECT_TRUE(recon->mapFindPtrByID(id, &rec));
        return std::make_pair(rec.qwPeriodMs, rec.tPara);
    };
    WORD32 zero_rel = 0, none_rel = 0, zero_loop = 0, check = 0, stats = 0;
    ASSERT_TRUE(ct::run_on_job(QE_JOBTYPE_ZUB_RECON, [&] {
        zero_rel = zub_SetRelativeTimer(100, 1, 0);
        none_rel = zub_SetRelativeTimer(100, 2, 0xFFFFFFFF);
        zero_loop = zub_SetLoopTimer(101, 3, 0);
        check = zub_SetLoopTimer(100, 4, 8);
        stats = zub_SetLoopTimer(102, 5, 300);
    }));
    EXPECT_EQ(period_of(zero_rel).first, 5000);
    EXPECT_EQ(period_of(zero_rel).second.bLoop, 0);
    EXPECT_EQ(period_of(zero_rel).second.dwTimerNo, 2029u);
    EXPECT_EQ(period_of(none_rel).first, 5000);
    EXPECT_EQ(period_of(zero_loop).first, 5000);
    EXPECT_EQ(period_of(zero_loop).second.bLoop, 1);
    EXPECT_EQ(period_of(zero_loop).second.dwTimerNo, 2030u);
    EXPECT_EQ(period_of(check).first, 8000);
    EXPECT_EQ(period_of(check).second.dwPara, (100u << 24) | 4u);
    EXPECT_EQ(period_of(stats).first, 300000);
    EXPECT_EQ(zub_GetDefaultTime(120), 5u);
    bool all_deleted = true;
    ASSERT_TRUE(ct::run_on_job(QE_JOBTYPE_ZUB_RECON, [&] {
        for (WORD32 id : {zero_rel, none_rel, zero_loop, check, stats}) {
            all_deleted = zub_DelTimer(id) && all_deleted;
        }
    }));
    EXPECT_TRUE(all_deleted);
    EXPECT_EQ(recon->TimerCount(), 0u);
}

TEST_F(engine_comm_Jobs, RefusedTimersArePrintedAndReturnTheInvalidId)
{
    ct::PrintCapture prints;
    // Outside any job there is no timer owner.
    EXPECT_EQ(zub_SetLoopMSecTimer(140, 1, 10), ZUB_INVALID_TIMER_ID);
    EXPECT_EQ(prints.count_of("Set Timer failed.TimerType=140"), 1u);
    // 3,000,000 s do not fit the platform's milliseconds; the length is refused, not wrapped.
    const WORD32 id = in_job(QE_JOBTYPE_ZUB_RECON, [] { return zub_SetLoopTimer(102, 0, 3000000); });
    EXPECT_EQ(id, ZUB_INVALID_TIMER_ID);
    EXPECT_EQ(prints.count_of("Set Timer failed.TimerType=102"), 1u);
    EXPECT_EQ(CN_Job_Base::GetJobByType(QE_JOBTYPE_ZUB_RECON)->TimerCount(), 0u);
    // No timer: nothing to delete, and nothing is asked of the platform.
    EXPECT_TRUE(in_job(QE_JOBTYPE_ZUB_RECON, [] { return zub_DelTimer(ZUB_INVALID_TIMER_ID); }));
    EXPECT_FALSE(in_job(QE_JOBTYPE_ZUB_RECON, [] { return zub_DelTimer(0x7FFFFFF0); }));
}

// ---- job directory --------------------------------------------------------------------------

TEST_F(engine_comm_Jobs, DirectoryHoldsEveryEngineRowOfTheTableWithItsNameAndJid)
{
    // Built by the test environment inside the control job, as the control job does at power-on.
    const T_qeJobInfo& dir = g_tMPAllJobInitInfo;
    ASSERT_EQ(dir.wRealJOBNumber, 26);
    const char* names[26] = {"CONTROL",  "MANAGER1", "MANAGER2", "MANAGER3", "SOCKET",   "CLOCKSYNC", "DISPLAY",
                             "RECON",    "SELECT1",  "SELECT2",  "SELECT3",  "SELECT4",  "SELECT5",   "SELECT6",
                             "SELECT7",  "SELECT8",  "SELECT9",  "SELECT10", "SELECT11", "SELECT12",  "SELECT13",
                             "SELECT14", "SELECT15", "SELECT16", "SELECT17", "SELECT18"};
    for (unsigned i = 0; i < 26; ++i) {
        const tagJobInitInfo& e = dir.tJobInfo[i];
        SCOPED_TRACE(i);
        EXPECT_EQ(e.wJobType, 0x4000 + i);
        EXPECT_STREQ(e.szJobName, names[i]);
        EXPECT_EQ(e.tJID.dwJno, ((0x4000u + i) << 16) | 1u);
        EXPECT_EQ(e.tJID.dwDevId, (static_cast<WORD32>(_thisBureauID) << 24) + 1);
        EXPECT_EQ(e.tJID.wModule, _thisModuleNo);
        EXPECT_EQ(e.tJID.wUnit, _thisUnit);
        EXPECT_EQ(e.tJID.ucRouteType, 0);
        EXPECT_EQ(e.blInitStatus, 0);
        EXPECT_EQ(e.dwInitFailNum, 0u);
        EXPECT_EQ(e.dwModuleType, 0u);
    }
    EXPECT_EQ(dir.tJobInfo[26].wJobType, 0);  // CN_SCS_JOB, notexist and END are not engine jobs
    if (ct::private_netns()) {
        EXPECT_EQ(_thisModuleNo, 11);
        EXPECT_EQ(_thisUnit, 0xFFFF);
        EXPECT_EQ(dir.tJobInfo[0].tJID.dwDevId, 0x01000001u);
    }
}

TEST(engine_comm_Table, ProbeTableIsTheProgramTableWithProbeEntries)
{
    // The jobs under test run on a copy of the program's own table whose entries are probes;
    // every other field must stay the program's, or these tests would check another engine.
    const T_JobCreatReg* probe = ct::engine_probe_table();
    for (int i = 0; i < kEngineJobRows; ++i) {
        const T_JobCreatReg& want = g_atJobRegTbl[i];
        const T_JobCreatReg& got = probe[i];
        SCOPED_TRACE(want.acName);
        EXPECT_EQ(got.wJobType, want.wJobType);
        EXPECT_EQ(got.wPri, want.wPri);
        EXPECT_EQ(got.wSchIndex, want.wSchIndex);
        EXPECT_EQ(got.wInstance, want.wInstance);
        EXPECT_STREQ(got.acName, want.acName);
        EXPECT_EQ(got.StckSize, want.StckSize);
        EXPECT_EQ(got.DataSize, want.DataSize);
        EXPECT_EQ(got.dwFlags, want.dwFlags);
        EXPECT_EQ(got.PEntry == nullptr, want.PEntry == nullptr);
    }
}

TEST_F(engine_comm_Jobs, JidLookupByTypeAndTheContextJids)
{
    const JID* socket = qeGetJobJIDByJobType(QE_JOBTYPE_ZUB_SOCKET);
    ASSERT_NE(socket, nullptr);
    EXPECT_EQ(socket->dwJno, 0x40040001u);
    EXPECT_EQ(qeGetJobJIDByJobType(0x401A), nullptr);
    EXPECT_EQ(qeGetJobJIDByJobType(0x0001), nullptr);
    EXPECT_EQ(qeGetProcInstNo(), 1u);

    const context_t* ctx = zub_context();
    EXPECT_TRUE(same_jid(ctx->jid_control, ct::local_jid(0x4000)));
    EXPECT_TRUE(same_jid(ctx->jid_display, ct::local_jid(0x4006)));
    EXPECT_TRUE(same_jid(ctx->jid_clocksync, ct::local_jid(0x4005)));
    EXPECT_TRUE(same_jid(ctx->jid_reconnection, ct::local_jid(0x4007)));
    for (unsigned i = 0; i < 3; ++i) {
        EXPECT_TRUE(same_jid(ctx->jid_manager[i], ct::local_jid(static_cast<WORD16>(0x4001 + i)))) << i;
    }
    for (unsigned i = 0; i < 18; ++i) {
        EXPECT_TRUE(same_jid(ctx->jid_selector[i], ct::local_jid(static_cast<WORD16>(0x4008 + i)))) << i;
    }
}

TEST_F(engine_comm_Jobs, JobNamePrefixComesFromTheDirectory)
{
    auto prefix_in = [](WORD16 type) {
        std::string out;
        ct::run_on_job(type, [&] {
            char* buf = nullptr;
            const int n = qePrintJobName(&buf);
            out.assign(buf, static_cast<size_t>(n));
        });
        return out;
    };
    EXPECT_EQ(prefix_in(QE_JOBTYPE_ZUB_CONTROL), "[CONTROL] ");
    EXPECT_EQ(prefix_in(QE_JOBTYPE_ZUB_CLOCKSYNC), "[CLOCKSYNC] ");
    EXPECT_EQ(prefix_in(QE_JOBTYPE_ZUB_SELECTOR_END), "[SELECT18] ");
    EXPECT_EQ(prefix_in(ct::kTypeScs), "[UNKNOWN] ");  // a job the directory does not know
    char* buf = nullptr;
    EXPECT_EQ(qePrintJobName(&buf), 5);  // outside any job
    EXPECT_STREQ(buf, "[Sh] ");
    EXPECT_EQ(qePrintJobName(nullptr), 0);
}

TEST_F(engine_comm_Jobs, WallClockHelpersAndLinkStamps)
{
    timeval before{};
    gettimeofday(&before, nullptr);
    const WORD64 ms = zub_cur_time_ms_get();
    timeval after{};
    gettimeofday(&after, nullptr);
    EXPECT_GE(ms, static_cast<WORD64>(before.tv_sec) * 1000 + static_cast<WORD64>(before.tv_usec) / 1000);
    EXPECT_LE(ms, static_cast<WORD64>(after.tv_sec) * 1000 + static_cast<WORD64>(after.tv_usec) / 1000);

    Anchor* a = &zub_context()->anchors[9];
    a->timeConnected = timeval{};
    a->timeDisconnected = timeval{};
    EXPECT_FALSE(zub_anc_con_time_set(nullptr));
    EXPECT_FALSE(zub_anc_discon_time_set(nullptr));
    EXPECT_TRUE(zub_anc_con_time_set(a));
    EXPECT_GE(a->timeConnected.tv_sec, before.tv_sec);
    EXPECT_EQ(a->timeDisconnected.tv_sec, 0);
    EXPECT_TRUE(zub_anc_discon_time_set(a));
    EXPECT_GE(a->timeDisconnected.tv_sec, before.tv_sec);
}

TEST_F(engine_comm_Jobs, ConsoleHookAddsNoCommands)
{
    char table[100][512] = {};
    unsigned char count = 0;
    char command[] = "anchors";
    TelnetProcCmd(command, table, &count);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(table[0][0], '\0');
}

}  // namespace
