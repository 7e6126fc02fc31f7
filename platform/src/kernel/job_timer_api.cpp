// job_timer_api.cpp - the timer calls of the job API: relative, periodic and absolute timers of
// the current job, their cancellation and the fields of the timer being handled.
#include "kernel_internal.h"

#include <ctime>
#include <sys/time.h>

namespace {

CN_Job_Base* current_job() { return CN_Job_Base::GetPCB(); }

bool valid_abs_date(const T_SysSoftClock& c)
{
    if (c.wSysYear < 2000 || c.wSysYear > 2120 || c.ucSysMon < 1 || c.ucSysMon > 12) {
        return false;
    }
    if (c.ucSysHour > 23 || c.ucSysMin > 59 || c.ucSysSec > 59) {
        return false;
    }
    return c.ucSysDay >= 1 && c.ucSysDay <= days(c.wSysYear, c.ucSysMon);
}

// Unix milliseconds of a local calendar time (its own milliseconds included).
int64_t local_clock_to_unix_ms(const T_SysSoftClock& c)
{
    struct tm tm_value = {};
    tm_value.tm_sec = c.ucSysSec;
    tm_value.tm_min = c.ucSysMin;
    tm_value.tm_hour = c.ucSysHour;
    tm_value.tm_mday = c.ucSysDay;
    tm_value.tm_mon = c.ucSysMon - 1;
    tm_value.tm_year = c.wSysYear - 1900;
    tm_value.tm_isdst = -1;
    time_t t = mktime(&tm_value);
    return static_cast<int64_t>(t) * 1000 + (c.wMilliSec % 1000);
}

XOS_TIMER_ID start_timer(WORD32 dwTimerNo, SWORD32 sdwDuration, WORD32 dwParam, BOOLEAN bLoop)
{
    CN_Job_Base* job = current_job();
    if (job == nullptr) {
        return XOS_INVALID_TIMER_ID;
    }
    return job->SetTimer(dwTimerNo, sdwDuration, dwParam, bLoop);
}

} // namespace

XOS_TIMER_ID XOS_SetRelativeTimer(WORD32 dwTimerNo, SWORD32 sdwDuration, WORD32 dwParam)
{
    return start_timer(dwTimerNo, sdwDuration, dwParam, FALSE);
}

XOS_TIMER_ID OSS_SetRelativeTimer(WORD32 dwTimerNo, SWORD32 sdwDuration, WORD32 dwParam)
{
    return start_timer(dwTimerNo, sdwDuration, dwParam, FALSE);
}

XOS_TIMER_ID XOS_SetLoopTimer(WORD32 dwTimerNo, SWORD32 sdwDuration, WORD32 dwParam)
{
    return start_timer(dwTimerNo, sdwDuration, dwParam, TRUE);
}

XOS_TIMER_ID OSS_SetLoopTimer(WORD32 dwTimerNo, SWORD32 sdwDuration, WORD32 dwParam)
{
    return start_timer(dwTimerNo, sdwDuration, dwParam, TRUE);
}

XOS_TIMER_ID XOS_SetAbsTimer(WORD32 dwTimerNo, WORD32 dwParam, const T_SysSoftClock* ptAbsTime)
{
    CN_Job_Base* job = current_job();
    if (job == nullptr || dwTimerNo == 0 || ptAbsTime == nullptr || !valid_abs_date(*ptAbsTime)) {
        return XOS_INVALID_TIMER_ID;
    }
    // The delay is the target minus now to the millisecond, from one clock reading.
    struct timeval now;
    gettimeofday(&now, nullptr);
    int64_t now_ms = static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_usec / 1000;
    int64_t delay_ms = local_clock_to_unix_ms(*ptAbsTime) - now_ms;
    if (delay_ms <= 0) {
        return XOS_INVALID_TIMER_ID;
    }
    return job->SetTimerMs(dwTimerNo, delay_ms, dwParam, FALSE);
}

XOS_TIMER_ID OSS_SetAbsTimer(WORD32 dwTimerNo, WORD32 dwParam, const T_SysSoftClock* ptAbsTime)
{
    return XOS_SetAbsTimer(dwTimerNo, dwParam, ptAbsTime);
}

WORD32 XOS_KillTimerByTimerId(XOS_TIMER_ID dwTimerId)
{
    CN_Job_Base* job = current_job();
    if (job == nullptr) {
        return 1;
    }
    return job->KillTimerById(dwTimerId);
}

WORD32 OSS_KillTimerByTimerId(XOS_TIMER_ID dwTimerId) { return XOS_KillTimerByTimerId(dwTimerId); }

WORD32 XOS_KillTimer(WORD32 dwTimerNo, WORD32 dwParam)
{
    CN_Job_Base* job = current_job();
    if (job == nullptr) {
        return XOS_INVALID_TIMER_ID;
    }
    return job->KillTimerByNo(dwTimerNo, dwParam);
}

WORD32 OSS_KillTimer(WORD32 dwTimerNo, WORD32 dwParam) { return XOS_KillTimer(dwTimerNo, dwParam); }

WORD32 XOS_GetParaOfCurTimer()
{
    CN_Job_Base* job = current_job();
    return job != nullptr ? job->GetParaOfCurTimer() : 0;
}

WORD32 OSS_GetParaFromCurTimer() { return XOS_GetParaOfCurTimer(); }

WORD32 XOS_GetConstParaOfCurTimer() { return XOS_GetParaOfCurTimer(); }

XOS_TIMER_ID XOS_GetTidOfCurTimer()
{
    CN_Job_Base* job = current_job();
    return job != nullptr ? job->GetCurTimerID() : 1;
}
