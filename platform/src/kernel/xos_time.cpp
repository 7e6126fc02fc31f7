// xos_time.cpp - time since power-on, processor ticks, calendar time and its conversions, and
// delays of the job API. Stateless apart from the power-on stamp; any thread.
#include "kernel_internal.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <sys/select.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

constexpr int64_t kEpoch2000 = 946684800; // Unix seconds of 2000-01-01 00:00:00 UTC

int64_t wall_clock_ms()
{
    struct timeval tv;
    if (gettimeofday(&tv, nullptr) != 0) {
        return -1000;
    }
    return static_cast<int64_t>(tv.tv_sec) * 1000 + tv.tv_usec / 1000;
}

int64_t ms_from_power_on()
{
    int64_t now = wall_clock_ms();
    int64_t stamp = static_cast<int64_t>(tPowerOnTimeStamp.tv_sec) * 1000 + tPowerOnTimeStamp.tv_usec / 1000;
    return stamp > now ? 0 : now - stamp;
}

SWORD16 zone_offset_at(time_t t)
{
    struct tm utc = {};
    struct tm local = {};
    gmtime_r(&t, &utc);
    localtime_r(&t, &local);
    int day_part = (local.tm_year != utc.tm_year) ? (local.tm_year - utc.tm_year) : (local.tm_yday - utc.tm_yday);
    int minutes = day_part * 1440 + (local.tm_hour - utc.tm_hour) * 60 + (local.tm_min - utc.tm_min);
    return static_cast<SWORD16>(minutes);
}

WORD32 clamp_platform_seconds(int64_t seconds) { return seconds < 0 ? 0 : static_cast<WORD32>(seconds); }

void fill_clock_from_unix(time_t t, T_SysSoftClock* ptClock)
{
    struct tm local = {};
    std::memset(ptClock, 0, sizeof *ptClock);
    if (localtime_r(&t, &local) == nullptr) {
        return;
    }
    struct timeval now;
    gettimeofday(&now, nullptr);
    ptClock->wSysYear = static_cast<WORD16>(local.tm_year + 1900);
    ptClock->ucSysMon = static_cast<BYTE>(local.tm_mon + 1);
    ptClock->ucSysDay = static_cast<BYTE>(local.tm_mday);
    ptClock->ucSysHour = static_cast<BYTE>(local.tm_hour);
    ptClock->ucSysMin = static_cast<BYTE>(local.tm_min);
    ptClock->ucSysSec = static_cast<BYTE>(local.tm_sec);
    ptClock->wMilliSec = static_cast<WORD16>(now.tv_usec / 1000);
    ptClock->ucSysWeek = static_cast<BYTE>(GetWeek(ptClock->wSysYear, ptClock->ucSysMon, ptClock->ucSysDay));
}

bool clock_to_time(const T_SysSoftClock* ptClock, T_Time* ptTime)
{
    if (ptClock == nullptr || ptTime == nullptr || ptClock->ucSysMon == 0 || ptClock->wSysYear < 1900) {
        return false;
    }
    time_t now = time(nullptr);
    struct tm now_local = {};
    localtime_r(&now, &now_local);
    struct tm tm_value = {};
    tm_value.tm_sec = ptClock->ucSysSec;
    tm_value.tm_min = ptClock->ucSysMin;
    tm_value.tm_hour = ptClock->ucSysHour;
    tm_value.tm_mday = ptClock->ucSysDay;
    tm_value.tm_mon = ptClock->ucSysMon - 1;
    tm_value.tm_year = ptClock->wSysYear - 1900;
    tm_value.tm_isdst = now_local.tm_isdst;
    time_t t = mktime(&tm_value);
    int64_t seconds = static_cast<int64_t>(t) + zone_offset_at(now) * 60 - kEpoch2000;
    std::memset(ptTime, 0, sizeof *ptTime);
    ptTime->dwSecond = clamp_platform_seconds(seconds);
    WORD16 ms = ptClock->wMilliSec;
    ptTime->wMilliSec = (ms >= 1 && ms <= 1000) ? static_cast<WORD16>(1000 - ms) : 0;
    return true;
}

void wait_timeval(struct timeval tv)
{
    // Linux select leaves the time still to wait in tv, so an interrupted wait goes on.
    while (select(0, nullptr, nullptr, nullptr, &tv) == -1 && errno == EINTR) {
    }
}

WORD64 clock_ms(clockid_t clock)
{
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<WORD64>(ts.tv_sec) * 1000u + static_cast<WORD64>(ts.tv_nsec) / 1000000u;
}

} // namespace

WORD64 CN_MonotonicMs() { return clock_ms(CLOCK_MONOTONIC); }

WORD64 CN_CoarseMonotonicMs() { return clock_ms(CLOCK_MONOTONIC_COARSE); }

// ---- power-on and ticks ---------------------------------------------------------------------

WORD32 XOS_GetMilliSecFromPowerOn() { return static_cast<WORD32>(ms_from_power_on()); }
WORD32 OSS_GetMilliSecFromPowerOn() { return XOS_GetMilliSecFromPowerOn(); }
WORD32 XOS_GetSecFromPowerOn() { return static_cast<WORD32>(ms_from_power_on() / 1000); }
WORD32 OSS_GetSecFromPowerOn() { return XOS_GetSecFromPowerOn(); }

XOS_STATUS XOS_GetTimeFromPowerOn(T_Time* ptTimeFromPowerOn)
{
    if (ptTimeFromPowerOn == nullptr) {
        return 1;
    }
    int64_t ms = ms_from_power_on();
    std::memset(ptTimeFromPowerOn, 0, sizeof *ptTimeFromPowerOn);
    ptTimeFromPowerOn->dwSecond = static_cast<WORD32>(ms / 1000);
    ptTimeFromPowerOn->wMilliSec = static_cast<WORD16>(ms % 1000);
    return 0;
}

WORD32 XOS_GetTick() { return static_cast<WORD32>(clock()); }
WORD32 OSS_GetTick() { return XOS_GetTick(); }

XOS_STATUS XOS_GetCurTick(T_Tick* ptTick)
{
    if (ptTick == nullptr) {
        return 1;
    }
    ptTick->dwTickCountHigh = 0;
    ptTick->dwTickCountLow = XOS_GetTick();
    return 0;
}

XOS_STATUS OSS_GetCurTick(T_Tick* ptTick) { return XOS_GetCurTick(ptTick); }
WORD16 XOS_GetClockRate() { return 22; }
WORD16 OSS_GetClockRate() { return 100; }

// ---- calendar -------------------------------------------------------------------------------

SWORD16 XOS_GetZone() { return zone_offset_at(time(nullptr)); }

WORD32 XOS_GetCurStdSecs() { return clamp_platform_seconds(static_cast<int64_t>(time(nullptr)) - kEpoch2000); }
WORD32 OSS_GetCurStdSecs() { return XOS_GetCurStdSecs(); }

WORD32 _OS_GetCurStdSecs(BYTE bUseTimezone)
{
    time_t now = time(nullptr);
    int64_t sub = kEpoch2000 + (bUseTimezone != 0 ? zone_offset_at(now) * 60 : 0);
    int64_t unix_now = static_cast<int64_t>(now);
    return sub > unix_now ? 0 : static_cast<WORD32>(unix_now - sub);
}

XOS_STATUS XOS_GetCurStdTime(T_Time* ptTime)
{
    if (ptTime == nullptr) {
        return 1;
    }
    std::memset(ptTime, 0, sizeof *ptTime);
    ptTime->dwSecond = XOS_GetCurStdSecs();
    return 0;
}

WORD32 XOS_GetCurrentSeconds()
{
    time_t now = time(nullptr);
    return clamp_platform_seconds(static_cast<int64_t>(now) - kEpoch2000 + zone_offset_at(now) * 60);
}

WORD32 OSS_GetCurrentSeconds() { return XOS_GetCurrentSeconds(); }

void XOS_GetCurrentTime(T_Time* ptTime)
{
    if (ptTime == nullptr) {
        return;
    }
    std::memset(ptTime, 0, sizeof *ptTime);
    ptTime->dwSecond = XOS_GetCurrentSeconds();
}

void OSS_GetCurrentTime(T_Time* ptTime) { XOS_GetCurrentTime(ptTime); }

XOS_STATUS OSS_GetCurrentAndStdSecs(WORD32* pdwCurSec, WORD32* pdwCurStdSec)
{
    if (pdwCurSec == nullptr || pdwCurStdSec == nullptr) {
        return 1;
    }
    *pdwCurSec = XOS_GetCurrentSeconds();
    *pdwCurStdSec = XOS_GetCurStdSecs();
    return 0;
}

XOS_STATUS XOS_GetSysClock(T_SysSoftClock* ptClock)
{
    if (ptClock == nullptr) {
        return 1;
    }
    fill_clock_from_unix(time(nullptr), ptClock);
    return 0;
}

XOS_STATUS OSS_GetSysClock(T_SysSoftClock* ptClock) { return XOS_GetSysClock(ptClock); }

XOS_STATUS XOS_ClockToTime(const T_SysSoftClock* ptClock, T_Time* ptSecMillisec)
{
    if (ptClock == nullptr || ptSecMillisec == nullptr) {
        return 1;
    }
    clock_to_time(ptClock, ptSecMillisec);
    return 0;
}

XOS_STATUS OSS_ClockToTime(const T_SysSoftClock* ptClock, T_Time* ptSecMillisec)
{
    return XOS_ClockToTime(ptClock, ptSecMillisec);
}

void _Clock_To_TIme(const T_SysSoftClock* ptClock, T_Time* ptSecMillisec) { clock_to_time(ptClock, ptSecMillisec); }

OSS_STATUS OSS_TimeToClock(const T_Time* ptSecMillisec, T_SysSoftClock* ptClock)
{
    if (ptSecMillisec == nullptr || ptClock == nullptr) {
        return 2560;
    }
    time_t now = time(nullptr);
    time_t t = static_cast<time_t>(static_cast<int64_t>(ptSecMillisec->dwSecond) + kEpoch2000 -
                                   zone_offset_at(now) * 60);
    fill_clock_from_unix(t, ptClock);
    return 0;
}

void _CTime_To_SysSoftClock(int seconds, int secFrom2000, int usetimezone, T_SysSoftClock* ptSysClock)
{
    if (ptSysClock == nullptr) {
        return;
    }
    int64_t t = seconds;
    if (secFrom2000 != 0) {
        t += kEpoch2000;
    }
    if (usetimezone != 0) {
        t -= zone_offset_at(time(nullptr)) * 60;
    }
    fill_clock_from_unix(static_cast<time_t>(t), ptSysClock);
}

int days(int year, int month)
{
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) {
        return 0;
    }
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return (month == 2 && leap) ? 29 : kDays[month - 1];
}

int GetWeek(int year, int month, int day)
{
    if (year < 1900 || month < 1 || month > 12 || day < 1 || day > 31) {
        return 0;
    }
    int64_t total = static_cast<int64_t>(year - 1900) * 365;
    for (int y = 1900; y < year; ++y) {
        if ((y % 4 == 0 && y % 100 != 0) || y % 400 == 0) {
            ++total;
        }
    }
    for (int m = 1; m < month; ++m) {
        total += days(year, m);
    }
    total += day;
    return static_cast<int>(total % 7);
}

XOS_STATUS XOS_GetSummerTime(T_SummerTimeInfo* ptInfo)
{
    if (ptInfo == nullptr) {
        return 1;
    }
    ptInfo->ucSummerTimeFlag = 0;
    ptInfo->bIsInSummerTime = 0;
    return 0;
}

// ---- delays -----------------------------------------------------------------------------------

WORD32 XOS_Delay(WORD32 dwTimeout)
{
    // A job that sleeps wakes the receivers of what it sent first.
    CNTaskQueue::send_held_wakes();
    struct timeval tv;
    tv.tv_sec = dwTimeout / 1000;
    tv.tv_usec = static_cast<suseconds_t>((dwTimeout % 1000) * 1000);
    wait_timeval(tv);
    return 0;
}

WORD32 OSS_Delay(WORD32 dwTimeout) { return XOS_Delay(dwTimeout); }

void delay_us(int us)
{
    if (us <= 0) {
        return;
    }
    struct timeval tv;
    tv.tv_sec = us / 1000000;
    tv.tv_usec = us % 1000000;
    wait_timeval(tv);
}

WORD32 OSS_DelayProcess(WORD32 dwTimeout)
{
    unsigned int left = dwTimeout;
    while (left > 0) {
        left = sleep(left);
    }
    return 0;
}

WORD32 XOS_DelayJob(WORD32 dwTimeout) { return 0; }
