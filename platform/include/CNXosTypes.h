// CNXosTypes.h - the value types of the job API: result words, calendar and tick records,
// board addresses and the opaque handle types that the API's stub entry points declare.
//
// Plain data only; safe to include from any thread and from C-style code.
#pragma once

#include "VorlenTypes.h"

typedef int16_t SWORD16;
typedef uint16_t WORD;
typedef char CHAR;
typedef void* LPVOID;
typedef uintptr_t WORDPTR;

typedef WORD32 XOS_STATUS; // 0 success, non-zero failure
typedef WORD32 OSS_STATUS;
typedef WORD32 XOS_TIMER_ID; // platform timer id; XOS_INVALID_TIMER_ID for none and for failure

constexpr XOS_TIMER_ID XOS_INVALID_TIMER_ID = 0xFFFFFFFFu;
constexpr WORD32 XOS_SUCCESS = 0;
constexpr WORD32 XOS_FAILURE = 1;

// Seconds since 2000-01-01 00:00:00 UTC and milliseconds.
typedef struct {
    WORD32 dwSecond;
    WORD16 wMilliSec;
    BYTE ucPad[2];
} T_Time;

// Calendar fields; producers clear all 12 bytes before filling them.
typedef struct {
    WORD16 wSysYear;
    BYTE ucSysMon;  // 1..12
    BYTE ucSysDay;  // 1..31
    BYTE ucSysHour;
    BYTE ucPading0;
    BYTE ucSysMin;
    BYTE ucSysSec;
    WORD16 wMilliSec;
    BYTE ucSysWeek; // 0 Sunday .. 6 Saturday
    BYTE ucPading1;
} T_SysSoftClock;

static_assert(sizeof(T_SysSoftClock) == 12, "T_SysSoftClock is 12 bytes");
static_assert(sizeof(T_Time) == 8, "T_Time is 8 bytes");

typedef struct {
    WORD32 dwTickCountHigh;
    WORD32 dwTickCountLow;
} T_Tick;

typedef struct {
    BYTE ucRackId;
    BYTE ucShelfId;
    BYTE ucSlotId;
    BYTE ucCpuId;
} T_PhysAddress;

typedef struct {
    BYTE ucSysMon;
    BYTE ucSysDay;
    BYTE ucSysHour;
    BYTE ucSysMin;
} T_Date;

typedef struct {
    T_Date tSummerStartTime;
    T_Date tSummerEndTime;
    SWORD16 swSummerTimeStep;
    BYTE ucSummerTimeFlag;
    BYTE bIsInSummerTime;
} T_SummerTimeInfo;

// Opaque types of the stub entry points (nothing behind them is implemented).
typedef SWORD32 XOS_FD;
typedef SWORD32 XOS_DIR;
typedef WORD32 XOS_TASK_T;
typedef WORD32 OSSPID;
typedef void (*TaskEntryProto)(WORDPTR);
typedef int (*FUNCPTR)(...);
typedef struct {
    WORD32 dwReserved;
} T_ProcInfoItem;
typedef struct {
    WORD32 dwReserved;
} T_PreDefTimer;
