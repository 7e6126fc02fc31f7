// Job timers: one-shot, periodic and absolute timers, their cancellation, the refusals and the
// expiry messages the job receives.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ace/Reactor.h>
#include <ace/Timer_Queue.h>
#include <ctime>
#include <sys/time.h>
#include <thread>

#include "kernel_test_support.h"

using namespace std::chrono_literals;
using kt::clock_of;
using kt::Recorder;
using Clock = std::chrono::steady_clock;

namespace {

class PlatformKernelTimers : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(kt::start_platform()); }
    void TearDown() override { kt::stop_platform(); }

    // Runs fn in job A and returns what it returned.
    template <typename F>
    WORD32 in_a(F fn)
    {
        WORD32 result = 0xDEADBEEF;
        EXPECT_TRUE(kt::run_on_job(kt::kTypeA, [&] { result = fn(); }));
        return result;
    }
    size_t a_timers() { return kt::job_of(kt::kTypeA)->TimerCount(); }
};

TEST_F(PlatformKernelTimers, OneShotDeliversExactlyOneMessage)
{
    auto started = Clock::now();
    XOS_TIMER_ID id = in_a([] { return XOS_SetRelativeTimer(2029, 30, 0x8C000005); });
    ASSERT_NE(id, XOS_INVALID_TIMER_ID);
    ASSERT_TRUE(Recorder::instance().wait_for(kt::kTypeA, 2029, 1, 5s));
    std::this_thread::sleep_for(150ms);
    auto calls = Recorder::instance().calls(kt::kTypeA, 2029);
    ASSERT_EQ(calls.size(), 1u);
    const kt::Call& c = calls[0];
    EXPECT_GE(c.at - started, 25ms);
    EXPECT_EQ(c.type, CN_MSG_TYPE_TIMER);
    EXPECT_EQ(c.len, 4);
    EXPECT_EQ(c.body, (std::vector<BYTE>{0x05, 0x00, 0x00, 0x8C}));
    EXPECT_EQ(c.timerPara, 0x8C000005u);
    EXPECT_EQ(c.timerId, id);
    const JID none{};
    EXPECT_EQ(std::memcmp(&c.sender, &none, sizeof none), 0); // no sender
    EXPECT_TRUE(pthread_equal(c.thread, CNCtrlTask::thisThrNo[2].load()));
    EXPECT_EQ(a_timers(), 0u);
    EXPECT_EQ(in_a([id] { return XOS_KillTimerByTimerId(id); }), 1u);
}

TEST_F(PlatformKernelTimers, PeriodicTimerKeepsItsCadenceUntilKilled)
{
    auto started = Clock::now();
    XOS_TIMER_ID id = in_a([] { return XOS_SetLoopTimer(2030, 50, 0x8C000001); });
    ASSERT_NE(id, XOS_INVALID_TIMER_ID);
    ASSERT_TRUE(Recorder::instance().wait_for(kt::kTypeA, 2030, 6, 5s));
    EXPECT_EQ(in_a([id] { return OSS_KillTimerByTimerId(id); }), 0u);
    // The expiries queued before the kill ran come before this; the kill held the reactor's
    // token, so none can be queued after it.
    ASSERT_TRUE(kt::run_on_job(kt::kTypeA, [] {}));
    auto calls = Recorder::instance().calls(kt::kTypeA, 2030);
    // Never early against the schedule from the set-up: the n-th expiry comes no sooner than n
    // periods after it (less a millisecond of clock rounding), though a late timer may deliver
    // the next ones close behind.
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_GE(calls[i].at - started, std::chrono::milliseconds(50 * (i + 1) - 1)) << i;
        EXPECT_EQ(calls[i].timerId, id);
        EXPECT_EQ(calls[i].timerPara, 0x8C000001u);
        EXPECT_EQ(calls[i].type, CN_MSG_TYPE_TIMER);
    }
    std::this_thread::sleep_for(200ms);
    ASSERT_TRUE(kt::run_on_job(kt::kTypeA, [] {}));
    EXPECT_EQ(Recorder::instance().calls(kt::kTypeA, 2030).size(), calls.size());
    EXPECT_EQ(a_timers(), 0u);
}

TEST_F(PlatformKernelTimers, NegativeAndZeroLengths)
{
    EXPECT_EQ(in_a([] { return XOS_SetRelativeTimer(1, -1, 0); }), XOS_INVALID_TIMER_ID);
    EXPECT_EQ(in_a([] { return XOS_SetLoopTimer(1, -1, 0); }), XOS_INVALID_TIMER_ID);
    EXPECT_EQ(a_timers(), 0u);
    XOS_TIMER_ID once = in_a([] { return XOS_SetRelativeTimer(11, 0, 1); });
    XOS_TIMER_ID loop = in_a([] { return OSS_SetLoopTimer(12, 0, 2); });
    ASSERT_NE(once, XOS_INVALID_TIMER_ID);
    ASSERT_NE(loop, XOS_INVALID_TIMER_ID);
    ASSERT_TRUE(Recorder::instance().wait_for(kt::kTypeA, 11, 1, 2s));
    ASSERT_TRUE(Recorder::instance().wait_for(kt::kTypeA, 12, 1, 2s));
    std::this_thread::sleep_for(1200ms);
    EXPECT_EQ(Recorder::instance().calls(kt::kTypeA, 11).size(), 1u);
    // A periodic timer of length 0 fires once and stays until it is cancelled.
    EXPECT_EQ(Recorder::instance().calls(kt::kTypeA, 12).size(), 1u);
    EXPECT_EQ(a_timers(), 1u);
    EXPECT_EQ(in_a([loop] { return XOS_KillTimerByTimerId(loop); }), 0u);
    EXPECT_EQ(a_timers(), 0u);
}

TEST_F(PlatformKernelTimers, KillByNumberAndParameterRemovesOneMatchAtATime)
{
    XOS_TIMER_ID t1 = in_a([] { return XOS_SetRelativeTimer(77, 5000, 9); });
    XOS_TIMER_ID t2 = in_a([] { return XOS_SetLoopTimer(77, 5000, 9); });
    XOS_TIMER_ID other = in_a([] { return XOS_SetRelativeTimer(77, 5000, 10); });
    EXPECT_NE(t1, t2);
    EXPECT_EQ(a_timers(), 3u);
    EXPECT_EQ(in_a([] { return XOS_KillTimer(77, 9); }), 0u);
    EXPECT_EQ(a_timers(), 2u);
    EXPECT_EQ(in_a([] { return OSS_KillTimer(77, 9); }), 0u);
    EXPECT_EQ(a_timers(), 1u);
    EXPECT_EQ(in_a([] { return XOS_KillTimer(77, 9); }), 0xFFFFFFFFu);
    EXPECT_NE(kt::log_text().find("KillTimerByNo:Fail! dwTimerID = 0xffffffff, dwTimerNo = 0x4d, dwParam = 0x9 !\n"),
              std::string::npos);
    EXPECT_TRUE(kt::job_of(kt::kTypeA)->mapFindPtrByID(other, nullptr));
    EXPECT_EQ(in_a([] { return XOS_KillTimer(77, 10); }), 0u);
    EXPECT_EQ(a_timers(), 0u);
}

TEST_F(PlatformKernelTimers, OnlyTheOwningJobOnItsThreadCancelsById)
{
    XOS_TIMER_ID id = in_a([] { return XOS_SetRelativeTimer(2029, 150, 3); });
    ASSERT_NE(id, XOS_INVALID_TIMER_ID);
    WORD32 fromB = 99;
    ASSERT_TRUE(kt::run_on_job(kt::kTypeB, [&] { fromB = XOS_KillTimerByTimerId(id); }));
    EXPECT_EQ(fromB, 1u);
    // The right job, but called from a thread that is not its owner.
    EXPECT_EQ(kt::job_of(kt::kTypeA)->KillTimerById(id), 1u);
    EXPECT_NE(kt::log_text().find("KillTimerById:Error thrno:"), std::string::npos);
    EXPECT_EQ(XOS_KillTimerByTimerId(id), 1u); // no current job at all
    EXPECT_EQ(XOS_KillTimer(2029, 3), 0xFFFFFFFFu);
    ASSERT_TRUE(Recorder::instance().wait_for(kt::kTypeA, 2029, 1, 5s)); // it kept running
}

TEST_F(PlatformKernelTimers, StaleIdCancelsNothingAfterFurtherStarts)
{
    // A timer that fired and one that was cancelled leave ids that stay dead.
    XOS_TIMER_ID fired = in_a([] { return XOS_SetRelativeTimer(5, 1, 0); });
    ASSERT_TRUE(Recorder::instance().wait_for(kt::kTypeA, 5, 1, 2s));
    XOS_TIMER_ID killed = in_a([] { return XOS_SetRelativeTimer(6, 10000, 0); });
    EXPECT_EQ(in_a([killed] { return XOS_KillTimerByTimerId(killed); }), 0u);
    std::vector<XOS_TIMER_ID> later;
    ASSERT_TRUE(kt::run_on_job(kt::kTypeA, [&] {
        for (int i = 0; i < 40; ++i) {
            later.push_back(XOS_SetRelativeTimer(7, 10000, static_cast<WORD32>(i)));
        }
    }));
    ASSERT_EQ(later.size(), 40u);
    EXPECT_EQ(a_timers(), 40u);
    EXPECT_EQ(in_a([fired] { return XOS_KillTimerByTimerId(fired); }), 1u);
    EXPECT_EQ(in_a([killed] { return XOS_KillTimerByTimerId(killed); }), 1u);
    EXPECT_EQ(a_timers(), 40u);
    for (XOS_TIMER_ID id : later) {
        EXPECT_NE(id, fired);
        EXPECT_NE(id, killed);
        EXPECT_EQ(in_a([id] { return XOS_KillTimerByTimerId(id); }), 0u);
    }
    EXPECT_EQ(a_timers(), 0u);
}

T_SysSoftClock local_clock(int64_t unix_ms)
{
    time_t t = static_cast<time_t>(unix_ms / 1000);
    struct tm tm_value = {};
    localtime_r(&t, &tm_value);
    T_SysSoftClock c = {};
    c.wSysYear = static_cast<WORD16>(tm_value.tm_year + 1900);
    c.ucSysMon = static_cast<BYTE>(tm_value.tm_mon + 1);
    c.ucSysDay = static_cast<BYTE>(tm_value.tm_mday);
    c.ucSysHour = static_cast<BYTE>(tm_value.tm_hour);
    c.ucSysMin = static_cast<BYTE>(tm_value.tm_min);
    c.ucSysSec = static_cast<BYTE>(tm_value.tm_sec);
    c.wMilliSec = static_cast<WORD16>(unix_ms % 1000);
    return c;
}

int64_t unix_ms_now()
{
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    return static_cast<int64_t>(tv.tv_sec) * 1000 + tv.tv_usec / 1000;
}

TEST_F(PlatformKernelTimers, AbsoluteTimerDateChecks)
{
    auto abs = [&](T_SysSoftClock c, WORD32 no = 1) { return in_a([c, no] { return XOS_SetAbsTimer(no, 0, &c); }); };
    // Far-future dates that pass the checks start a timer (cancelled again below).
    std::vector<XOS_TIMER_ID> ok = {abs(clock_of(2028, 2, 29)), abs(clock_of(2120, 12, 31, 23, 59, 59)),
                                    abs(clock_of(2100, 2, 28)), abs(clock_of(2400 - 300, 4, 30))};
    for (XOS_TIMER_ID id : ok) {
        EXPECT_NE(id, XOS_INVALID_TIMER_ID);
    }
    EXPECT_EQ(a_timers(), ok.size());
    EXPECT_EQ(abs(clock_of(2100, 2, 29)), XOS_INVALID_TIMER_ID); // 2100 is no leap year
    EXPECT_EQ(abs(clock_of(2121, 1, 1)), XOS_INVALID_TIMER_ID);
    EXPECT_EQ(abs(clock_of(1999, 12, 31)), XOS_INVALID_TIMER_ID);
    EXPECT_EQ(abs(clock_of(2030, 13, 1)), XOS_INVALID_TIMER_ID);
    EXPECT_EQ(abs(clock_of(2030, 0, 1)), XOS_INVALID_TIMER_ID);
    EXPECT_EQ(abs(clock_of(2030, 4, 31)), XOS_INVALID_TIMER_ID);
    EXPECT_EQ(abs(clock_of(2030, 1, 0)), XOS_INVALID_TIMER_ID);
    EXPECT_EQ(abs(clock_of(2030, 1, 1, 24)), XOS_INVALID_TIMER_ID);
    EXPECT_EQ(abs(clock_of(2030, 1, 1, 1, 60)), XOS_INVALID_TIMER_ID);
    EXPECT_EQ(abs(clock_of(2030, 1, 1, 1, 1, 60)), XOS_INVALID_TIMER_ID);
    EXPECT_EQ(abs(clock_of(2030, 1, 1), 0), XOS_INVALID_TIMER_ID); // timer number 0
    EXPECT_EQ(abs(clock_of(2000, 2, 29)), XOS_INVALID_TIMER_ID);   // a valid date, but past
    EXPECT_EQ(abs(local_clock(unix_ms_now() - 2000)), XOS_INVALID_TIMER_ID);
    EXPECT_EQ(in_a([] { return XOS_SetAbsTimer(1, 0, nullptr); }), XOS_INVALID_TIMER_ID);
    EXPECT_EQ(a_timers(), ok.size());
    for (XOS_TIMER_ID id : ok) {
        EXPECT_EQ(in_a([id] { return XOS_KillTimerByTimerId(id); }), 0u);
    }
}

TEST_F(PlatformKernelTimers, AbsoluteTimerFiresAtItsTimeToTheMillisecond)
{
    // A target a quarter second past a whole second, about two seconds ahead.
    int64_t now = unix_ms_now();
    int64_t target = (now / 1000 + 2) * 1000 + 250;
    T_SysSoftClock c = local_clock(target);
    Clock::time_point started;
    XOS_TIMER_ID id = in_a([&] {
        started = Clock::now();
        int64_t at_start = unix_ms_now();
        XOS_TIMER_ID r = OSS_SetAbsTimer(2031, 0x77, &c);
        started -= std::chrono::milliseconds(at_start - now); // measured from `now`
        return r;
    });
    ASSERT_NE(id, XOS_INVALID_TIMER_ID);
    ASSERT_TRUE(Recorder::instance().wait_for(kt::kTypeA, 2031, 1, 5s));
    auto call = Recorder::instance().calls(kt::kTypeA, 2031)[0];
    auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(call.at - started).count();
    // Not early (the target is read to the millisecond), and not a whole second late, which
    // no wake-up delay comes near.
    EXPECT_GE(elapsed, target - now - 20);
    EXPECT_LT(elapsed, target - now + 900);
    EXPECT_EQ(call.timerPara, 0x77u);
    EXPECT_EQ(a_timers(), 0u);
}

TEST_F(PlatformKernelTimers, ExpiryForAFullQueueIsDroppedAndLogged)
{
    WORD32 id = XOS_INVALID_TIMER_ID;
    ASSERT_TRUE(kt::run_on_job(kt::kTypeC, [&] { id = XOS_SetRelativeTimer(2029, 100, 1); }));
    ASSERT_NE(id, XOS_INVALID_TIMER_ID);
    kt::JobHold hold;
    ASSERT_TRUE(hold.hold(kt::kTypeC));
    CNCtrlTask::gaCNCtrlTask[4]->msg_queue()->high_water_mark(1);
    JID sender = kt::local_jid(kt::kTypeA);
    JID dest = kt::local_jid(kt::kTypeC);
    ASSERT_EQ(XOS_SendAsynMsgNJ(0x400, nullptr, 0, 0, 0, &sender, &dest), 0u);
    std::this_thread::sleep_for(300ms);
    EXPECT_NE(kt::log_text().find("CNTime_Handler::handle_timeout send message failure. at:"), std::string::npos);
    hold.release();
    ASSERT_TRUE(Recorder::instance().wait_for(kt::kTypeC, 0x400, 1, 5s));
    ASSERT_TRUE(kt::run_on_job(kt::kTypeC, [] {}));
    EXPECT_TRUE(Recorder::instance().calls(kt::kTypeC, 2029).empty());
    EXPECT_EQ(kt::job_of(kt::kTypeC)->TimerCount(), 0u);
}

ACE_Time_Value monotonic_now()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ACE_Time_Value(ts.tv_sec, static_cast<suseconds_t>(ts.tv_nsec / 1000));
}

TEST_F(PlatformKernelTimers, TimersRunOnAMonotonicTimerQueueClock)
{
    CN_SetTimerQueueClock(monotonic_now);
    ACE_Time_Value queueNow = CN_GetProcessReactor()->timer_queue()->gettimeofday();
    EXPECT_LT(std::labs(static_cast<long>(queueNow.sec() - monotonic_now().sec())), 2L);
    auto started = Clock::now();
    ASSERT_NE(in_a([] { return XOS_SetRelativeTimer(2029, 40, 1); }), XOS_INVALID_TIMER_ID);
    ASSERT_TRUE(Recorder::instance().wait_for(kt::kTypeA, 2029, 1, 5s));
    // On the queue's own clock the timer still waits its whole length from the set-up (less a
    // millisecond of clock rounding).
    EXPECT_GE(Recorder::instance().calls(kt::kTypeA, 2029)[0].at - started, 39ms);
    EXPECT_EQ(CN_StartControlTasks(), CN_START_FAILED); // the tasks are up already
}

} // namespace
