// Job API services: time since power-on, calendar and zone under POSIX TZ strings, weekday and
// month lengths, strings, byte order, the platform log line, the fatal restart, and the
// XOS_/OSS_ twins that differ.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <sys/time.h>
#include <unistd.h>

#include "VorlenComm.h"
#include "kernel_test_support.h"

namespace {

using kt::clock_of;

// Sets a POSIX TZ string for one test and restores the previous one.
class Zone {
public:
    explicit Zone(const char* tz)
    {
        const char* old = getenv("TZ");
        had_ = old != nullptr;
        if (had_) {
            old_ = old;
        }
        setenv("TZ", tz, 1);
        tzset();
    }
    ~Zone()
    {
        if (had_) {
            setenv("TZ", old_.c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }

private:
    bool had_ = false;
    std::string old_;
};

// Captures the platform log in a temporary file for one test.
class LogCapture {
public:
    LogCapture()
    {
        char path[] = "/tmp/platform_kernel_svc_XXXXXX";
        int fd = mkstemp(path);
        path_ = path;
        fp_ = fdopen(fd, "w+");
        CN_SetPlatLogFile(fp_);
    }
    ~LogCapture()
    {
        CN_SetPlatLogFile(nullptr);
        fclose(fp_);
        unlink(path_.c_str());
    }
    std::string text()
    {
        fflush(fp_);
        std::string s;
        rewind(fp_);
        char buf[8192];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, fp_)) > 0) {
            s.append(buf, n);
        }
        return s;
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
    FILE* fp_ = nullptr;
};

TEST(PlatformKernelServices, WeekdaysAndMonthLengths)
{
    EXPECT_EQ(GetWeek(1900, 1, 1), 1); // Monday
    EXPECT_EQ(GetWeek(2000, 1, 1), 6); // Saturday
    EXPECT_EQ(GetWeek(2000, 1, 2), 0); // Sunday
    EXPECT_EQ(GetWeek(2000, 3, 1), 3); // Wednesday, past a leap day
    EXPECT_EQ(GetWeek(2024, 12, 25), 3);
    EXPECT_EQ(GetWeek(1899, 12, 31), 0);
    EXPECT_EQ(GetWeek(2000, 13, 1), 0);
    EXPECT_EQ(GetWeek(2000, 1, 32), 0);
    EXPECT_EQ(days(2000, 2), 29);
    EXPECT_EQ(days(1900, 2), 28);
    EXPECT_EQ(days(2024, 2), 29);
    EXPECT_EQ(days(2100, 2), 28);
    EXPECT_EQ(days(2020, 12), 31);
    EXPECT_EQ(days(2021, 4), 30);
    EXPECT_EQ(days(2021, 0), 0);
    EXPECT_EQ(days(2021, 13), 0);
}

TEST(PlatformKernelServices, ZoneOffsetFollowsTz)
{
    {
        Zone z("UTC0");
        EXPECT_EQ(XOS_GetZone(), 0);
    }
    {
        Zone z("CET-1"); // one hour ahead, no daylight saving rule
        EXPECT_EQ(XOS_GetZone(), 60);
        EXPECT_EQ(static_cast<int64_t>(XOS_GetCurrentSeconds()) - XOS_GetCurStdSecs(), 3600);
        EXPECT_EQ(static_cast<int64_t>(_OS_GetCurStdSecs(0)) - _OS_GetCurStdSecs(1), 3600);
    }
    {
        Zone z("<+0530>-5:30");
        EXPECT_EQ(XOS_GetZone(), 330);
    }
    {
        Zone z("<-03>3");
        EXPECT_EQ(XOS_GetZone(), -180);
        EXPECT_EQ(static_cast<int64_t>(XOS_GetCurStdSecs()) - XOS_GetCurrentSeconds(), 180 * 60);
    }
    // Offsets that put the local day ahead of or behind the UTC day.
    {
        Zone z("<+14>-14");
        EXPECT_EQ(XOS_GetZone(), 14 * 60);
    }
    {
        Zone z("<-12>12");
        EXPECT_EQ(XOS_GetZone(), -12 * 60);
    }
}

TEST(PlatformKernelServices, PlatformSecondsAreCountedFrom2000)
{
    Zone z("UTC0");
    WORD32 expected = static_cast<WORD32>(time(nullptr) - 946684800);
    WORD32 got = XOS_GetCurStdSecs();
    EXPECT_LE(got - expected, 1u);
    EXPECT_EQ(OSS_GetCurStdSecs() - got <= 1, true);
    T_Time t;
    std::memset(&t, 0xEE, sizeof t);
    EXPECT_EQ(XOS_GetCurStdTime(&t), 0u);
    EXPECT_LE(t.dwSecond - got, 1u);
    EXPECT_EQ(t.wMilliSec, 0);
    EXPECT_EQ(XOS_GetCurStdTime(nullptr), 1u);
    WORD32 cur = 0, std_secs = 0;
    EXPECT_EQ(OSS_GetCurrentAndStdSecs(&cur, &std_secs), 0u);
    EXPECT_LE(std_secs - got, 1u);
    EXPECT_EQ(OSS_GetCurrentAndStdSecs(nullptr, &std_secs), 1u);
    XOS_GetCurrentTime(nullptr); // nothing happens
    OSS_GetCurrentTime(&t);
    EXPECT_LE(t.dwSecond - got, 1u);
}

TEST(PlatformKernelServices, ClockToTimeGivesLocalPlatformSecondsAndTheMillisecondComplement)
{
    Zone z("UTC0");
    T_Time t;
    T_SysSoftClock midnight = clock_of(2000, 1, 1, 0, 0, 0);
    EXPECT_EQ(XOS_ClockToTime(&midnight, &t), 0u);
    EXPECT_EQ(t.dwSecond, 0u);
    EXPECT_EQ(t.wMilliSec, 0);
    T_SysSoftClock c = clock_of(2000, 1, 2, 1, 0, 0, 250);
    EXPECT_EQ(OSS_ClockToTime(&c, &t), 0u);
    EXPECT_EQ(t.dwSecond, 86400u + 3600u);
    EXPECT_EQ(t.wMilliSec, 750); // 1000 - 250, as the platform has always reported it
    c = clock_of(1999, 12, 31, 23, 0, 0);
    EXPECT_EQ(XOS_ClockToTime(&c, &t), 0u);
    EXPECT_EQ(t.dwSecond, 0u); // before the epoch
    // Month 0 or a year before 1900: success, nothing written.
    T_Time untouched;
    std::memset(&untouched, 0xAB, sizeof untouched);
    c = clock_of(2000, 0, 1, 0, 0, 0);
    EXPECT_EQ(XOS_ClockToTime(&c, &untouched), 0u);
    EXPECT_EQ(untouched.dwSecond, 0xABABABABu);
    c = clock_of(1899, 5, 1, 0, 0, 0);
    _Clock_To_TIme(&c, &untouched);
    EXPECT_EQ(untouched.dwSecond, 0xABABABABu);
    EXPECT_EQ(XOS_ClockToTime(nullptr, &t), 1u);
    EXPECT_EQ(XOS_ClockToTime(&c, nullptr), 1u);
    _Clock_To_TIme(nullptr, nullptr);
    {
        Zone cet("CET-1");
        c = clock_of(2000, 1, 1, 0, 0, 0);
        EXPECT_EQ(XOS_ClockToTime(&c, &t), 0u);
        EXPECT_EQ(t.dwSecond, 0u); // local midnight: 0 local platform seconds
    }
}

TEST(PlatformKernelServices, TimeToClockRoundTripsLocalSeconds)
{
    for (const char* tz : {"UTC0", "CET-1", "<-03>3"}) {
        Zone z(tz);
        T_Time t = {};
        t.dwSecond = 86400u + 3600u; // 2000-01-02 01:00:00 local
        T_SysSoftClock c;
        std::memset(&c, 0xEE, sizeof c);
        EXPECT_EQ(OSS_TimeToClock(&t, &c), 0u);
        EXPECT_EQ(c.wSysYear, 2000) << tz;
        EXPECT_EQ(c.ucSysMon, 1);
        EXPECT_EQ(c.ucSysDay, 2);
        EXPECT_EQ(c.ucSysHour, 1);
        EXPECT_EQ(c.ucSysMin, 0);
        EXPECT_EQ(c.ucSysSec, 0);
        EXPECT_EQ(c.ucSysWeek, 0); // Sunday
        EXPECT_LT(c.wMilliSec, 1000);
        EXPECT_EQ(c.ucPading0, 0);
        EXPECT_EQ(c.ucPading1, 0);
        T_Time back;
        EXPECT_EQ(XOS_ClockToTime(&c, &back), 0u);
        EXPECT_EQ(back.dwSecond, t.dwSecond) << tz;
    }
    T_Time t = {};
    T_SysSoftClock c;
    EXPECT_EQ(OSS_TimeToClock(nullptr, &c), 2560u);
    EXPECT_EQ(OSS_TimeToClock(&t, nullptr), 2560u);
    {
        Zone z("CET-1");
        // Unix seconds of 2000-01-01 00:00 UTC shown in local time: 01:00.
        _CTime_To_SysSoftClock(946684800, 0, 0, &c);
        EXPECT_EQ(c.ucSysHour, 1);
        // Platform seconds, zone removed: local midnight.
        _CTime_To_SysSoftClock(0, 1, 1, &c);
        EXPECT_EQ(c.wSysYear, 2000);
        EXPECT_EQ(c.ucSysDay, 1);
        EXPECT_EQ(c.ucSysHour, 0);
        EXPECT_EQ(c.ucSysWeek, 6);
        _CTime_To_SysSoftClock(0, 1, 1, nullptr);
    }
}

TEST(PlatformKernelServices, SysClockIsTheLocalCalendarNow)
{
    Zone z("CET-1");
    T_SysSoftClock c;
    ASSERT_EQ(XOS_GetSysClock(&c), 0u);
    time_t now = time(nullptr) + 3600;
    struct tm utc = {};
    gmtime_r(&now, &utc);
    EXPECT_EQ(c.wSysYear, utc.tm_year + 1900);
    EXPECT_EQ(c.ucSysMon, utc.tm_mon + 1);
    EXPECT_EQ(c.ucSysHour, utc.tm_hour);
    EXPECT_EQ(c.ucSysWeek, GetWeek(c.wSysYear, c.ucSysMon, c.ucSysDay));
    EXPECT_EQ(c.ucSysWeek, utc.tm_wday);
    EXPECT_EQ(OSS_GetSysClock(nullptr), 1u);
    T_SummerTimeInfo s;
    std::memset(&s, 0x11, sizeof s);
    EXPECT_EQ(XOS_GetSummerTime(&s), 0u);
    EXPECT_EQ(s.ucSummerTimeFlag, 0);
    EXPECT_EQ(s.bIsInSummerTime, 0);
    EXPECT_EQ(s.swSummerTimeStep, 0x1111);
    EXPECT_EQ(XOS_GetSummerTime(nullptr), 1u);
}

TEST(PlatformKernelServices, TimeFromPowerOnComesFromOneReading)
{
    CN_StampPowerOnTime();
    T_Time t;
    ASSERT_EQ(XOS_GetTimeFromPowerOn(&t), 0u);
    EXPECT_EQ(t.dwSecond, 0u);
    EXPECT_LT(t.wMilliSec, 1000);
    // A stamp 2.5 s back: seconds and milliseconds belong to the same instant.
    struct timeval back;
    gettimeofday(&back, nullptr);
    back.tv_sec -= 2;
    back.tv_usec -= 500000;
    if (back.tv_usec < 0) {
        back.tv_usec += 1000000;
        back.tv_sec -= 1;
    }
    tPowerOnTimeStamp = back;
    WORD32 before = XOS_GetMilliSecFromPowerOn();
    ASSERT_EQ(XOS_GetTimeFromPowerOn(&t), 0u);
    WORD32 after = OSS_GetMilliSecFromPowerOn();
    WORD32 combined = t.dwSecond * 1000 + t.wMilliSec;
    EXPECT_GE(combined, before);
    EXPECT_LE(combined, after);
    EXPECT_GE(before, 2500u);
    EXPECT_LT(before, 3500u);
    EXPECT_EQ(XOS_GetSecFromPowerOn(), OSS_GetMilliSecFromPowerOn() / 1000);
    EXPECT_EQ(OSS_GetSecFromPowerOn(), 2u);
    // A stamp in the future counts as 0.
    tPowerOnTimeStamp.tv_sec += 3600;
    EXPECT_EQ(XOS_GetMilliSecFromPowerOn(), 0u);
    ASSERT_EQ(XOS_GetTimeFromPowerOn(&t), 0u);
    EXPECT_EQ(t.dwSecond, 0u);
    EXPECT_EQ(t.wMilliSec, 0);
    EXPECT_EQ(XOS_GetTimeFromPowerOn(nullptr), 1u);
}

TEST(PlatformKernelServices, TicksAndClockRates)
{
    T_Tick tick;
    ASSERT_EQ(XOS_GetCurTick(&tick), 0u);
    EXPECT_EQ(tick.dwTickCountHigh, 0u);
    EXPECT_LE(tick.dwTickCountLow, XOS_GetTick());
    EXPECT_EQ(OSS_GetCurTick(nullptr), 1u);
    EXPECT_EQ(XOS_GetClockRate(), 22);
    EXPECT_EQ(OSS_GetClockRate(), 100);
}

TEST(PlatformKernelServices, DelaySplitsSecondsAndMilliseconds)
{
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(XOS_Delay(1100), 0u);
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
    // Never shorter; a whole second more (seconds rounded up) is further off than any wake-up
    // delay.
    EXPECT_GE(ms, 1100);
    EXPECT_LT(ms, 2000);
    t0 = std::chrono::steady_clock::now();
    delay_us(1200000);
    ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_GE(ms, 1200);
    t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(XOS_DelayJob(5000), 0u);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(2500)); // half what it was given
}

TEST(PlatformKernelServices, StringsCopyAndAppendWithinTheirBuffers)
{
    char buf[8];
    std::memset(buf, 'x', sizeof buf);
    EXPECT_EQ(XOS_strncpy(buf, "abcdef", 4), 4u);
    EXPECT_STREQ(buf, "abc");
    EXPECT_EQ(buf[4], 'x');
    std::memset(buf, 'x', sizeof buf);
    EXPECT_EQ(XOS_strncpy(buf, "ab", 6), 3u);
    EXPECT_EQ(std::memcmp(buf, "ab\0\0\0\0xx", 8), 0); // padded with zero bytes
    std::memset(buf, 'x', sizeof buf);
    EXPECT_EQ(XOS_strncpy(buf, "abc", 0), 0u); // size 0: nothing written
    EXPECT_EQ(buf[0], 'x');
    EXPECT_EQ(XOS_strncpy(nullptr, "abc", 4), 0u);
    EXPECT_EQ(XOS_strncpy(buf, nullptr, 4), 0u);

    char cat[8] = "abc";
    EXPECT_EQ(XOS_strncat(cat, "defghij", 8), 4u);
    EXPECT_STREQ(cat, "abcdefg");
    EXPECT_EQ(XOS_strncat(cat, "z", 8), 0u); // already full
    EXPECT_STREQ(cat, "abcdefg");
    char full[4] = {'a', 'b', 'c', 'd'}; // no terminator within the size
    EXPECT_EQ(XOS_strncat(full, "z", 4), 0u);
    EXPECT_EQ(full[3], 'd');

    char out[6];
    EXPECT_EQ(XOS_snprintf(out, sizeof out, "%d-%s", 42, "abcdef"), 9);
    EXPECT_STREQ(out, "42-ab");
    EXPECT_EQ(XOS_snprintf(nullptr, 6, "%d", 1), 0);
    EXPECT_EQ(XOS_Inet_addr("127.0.0.1"), htonl(0x7F000001));
    EXPECT_EQ(XOS_Inet_addr("300.1.1.1"), 0xFFFFFFFFu);
}

int call_oss_vsnprintf(char* buf, WORD32 n, const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    int r = OSS_vsnprintf(buf, n, fmt, args);
    va_end(args);
    return r;
}

int call_xos_vsnprintf(char* buf, WORD32 n, const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    int r = XOS_vsnprintf(buf, n, fmt, args);
    va_end(args);
    return r;
}

TEST(PlatformKernelServices, VsnprintfTwinsDiffer)
{
    char buf[16] = "keep";
    EXPECT_EQ(call_oss_vsnprintf(buf, sizeof buf, "%d", 7), 0);
    EXPECT_STREQ(buf, "keep");
    EXPECT_EQ(call_xos_vsnprintf(buf, sizeof buf, "%d", 7), 1);
    EXPECT_STREQ(buf, "7");
    EXPECT_EQ(call_xos_vsnprintf(buf, sizeof buf, nullptr), 0);
}

TEST(PlatformKernelServices, ByteSwapsAreUnconditional)
{
    EXPECT_EQ(XOS_NtoH64(0x0102030405060708ull), 0x0807060504030201ull);
    EXPECT_EQ(XOS_InvertWord16(0x1234), 0x3412);
    EXPECT_EQ(XOS_InvertWord32(0x12345678), 0x78563412u);
    for (WORD32 (*f)(WORD32) : {OSS_HtoNL, OSS_NtoHL, XOS_HtoN32, XOS_NtoH32}) {
        EXPECT_EQ(f(0xA1B2C3D4), 0xD4C3B2A1u);
    }
    for (WORD16 (*f)(WORD16) : {OSS_HtoNS, OSS_NtoHS, XOS_HtoN16, XOS_NtoH16}) {
        EXPECT_EQ(f(0xA1B2), 0xB2A1);
    }
}

TEST(PlatformKernelServices, SysLogWritesOnlyItsLevelsAndBoundsTheText)
{
    EXPECT_EQ(XOS_SysLog(7, "no file %d\n", 1), 0u); // no log file open: still 0
    LogCapture cap;
    EXPECT_EQ(XOS_SysLog(4, "four"), 1u);
    EXPECT_EQ(XOS_SysLog(6, "six"), 1u);
    EXPECT_EQ(XOS_SysLog(8, "eight"), 1u);
    EXPECT_EQ(XOS_SysLog(255, "max"), 1u);
    EXPECT_EQ(XOS_SysLog(3, nullptr), 0u);
    for (BYTE level : {0, 1, 2, 3, 5, 7}) {
        EXPECT_EQ(XOS_SysLog(level, "L%u|", level), 0u);
    }
    EXPECT_EQ(cap.text(), "L0|L1|L2|L3|L5|L7|");
    std::string big(10000, 'q');
    EXPECT_EQ(XOS_SysLog(1, "%s", big.c_str()), 0u);
    EXPECT_EQ(cap.text().size(), std::string("L0|L1|L2|L3|L5|L7|").size() + 4095);
}

TEST(PlatformKernelServices, SysRestartEndsWithStatusTwo)
{
    LogCapture cap;
    std::string big(2000, 'r');
    EXPECT_EXIT(OSS_SysRestart(9, "fatal %s", big.c_str()), ::testing::ExitedWithCode(2), "REASON=9\\|fatal rrr");
    // The line went to the platform log, cut to the 512-byte text buffer.
    std::string log = cap.text();
    std::string expected = "OSS_SysRestart|REASON=9|fatal " + std::string(511 - 6, 'r') + "\n";
    EXPECT_EQ(log, expected);
}

TEST(PlatformKernelServices, IdentityAndBoardQueries)
{
    WORD16 m = _thisModuleNo, u = _thisUnit, b = _thisBureauID;
    _thisModuleNo = 1;
    _thisUnit = 0xFFFF;
    _thisBureauID = 0x0102;
    EXPECT_TRUE(XOS_IsOmp());
    EXPECT_TRUE(OSS_IsOmp());
    EXPECT_EQ(CUR_MODULE(), 1);
    BYTE bureau = 0;
    EXPECT_EQ(XOS_GetBureauId(&bureau), 0u);
    EXPECT_EQ(bureau, 0x02);
    EXPECT_EQ(OSS_GetBureauId(), 0x02);
    EXPECT_EQ(XOS_GetBureauId(nullptr), 1u);
    _thisUnit = 0;
    EXPECT_FALSE(XOS_IsOmp());
    _thisModuleNo = m;
    _thisUnit = u;
    _thisBureauID = b;

    BYTE la[12] = {};
    EXPECT_EQ(OSS_GetLogicAddress(la), 0u);
    for (BYTE v : la) {
        EXPECT_EQ(v, 0xFF); // no current job on this thread
    }
    EXPECT_EQ(OSS_GetLogicAddress(nullptr), 1u);
    T_PhysAddress pa = {};
    EXPECT_EQ(XOS_GetPhysAddress(&pa), 0u);
    EXPECT_EQ(pa.ucRackId + pa.ucShelfId + pa.ucSlotId + pa.ucCpuId, 4);
    EXPECT_EQ(OSS_GetPhysAddress(nullptr), 15u);
    EXPECT_EQ(XOS_GetPhysAddress(nullptr), 1u);
    BYTE ver = 9;
    EXPECT_EQ(XOS_GetMsgAppVer(&ver), 0u);
    EXPECT_EQ(ver, 0);
    EXPECT_EQ(XOS_GetMsgAppVer(nullptr), 1u);
    EXPECT_EQ(XOS_GetCpuNum(), 8u);
    EXPECT_EQ(XOS_GetLogCpuNo(), 1);
    EXPECT_EQ(XOS_GetSingleCpuRate(3), 30);
    EXPECT_EQ(XOS_GetSingleCpuRate(30), static_cast<BYTE>(300));
    EXPECT_EQ(XOS_GetBoardMSState(), 1);
    EXPECT_TRUE(OSS_GetPowerState());
    EXPECT_EQ(XOS_GetCpuUseRate(), 0);
}

TEST(PlatformKernelServices, MemoryAndStubs)
{
    BYTE* p = static_cast<BYTE*>(XOS_Malloc(16));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(XOS_Free(p), 0u);
    EXPECT_EQ(OSS_Free(nullptr), 1u);
    EXPECT_EQ(XOS_GetTimerPtrByMacro(1), nullptr);
    WORD32 dur = 77;
    EXPECT_EQ(XOS_GetTimerDurByMacro(1, &dur), 1u);
    EXPECT_EQ(dur, 77u); // stubs write no out-parameter
    SWORD32 len = 5;
    EXPECT_EQ(XOS_GetFileLength(nullptr, &len), 0u);
    EXPECT_EQ(len, 5);
    EXPECT_EQ(XOS_StartTask(nullptr, 0, 0, 0, nullptr, 0), 0u);
    EXPECT_EQ(OSS_BroadcastMsg(1, 0, nullptr, 0), 0u);
}

} // namespace
