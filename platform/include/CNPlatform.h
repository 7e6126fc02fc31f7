// CNPlatform.h - the program profile, the process identity and the start-up of the job platform
// as library functions, so that each program (and each test executable) passes its own job
// table, task set and identity without changes to the platform.
//
// Typical start-up (a program's main, on the main thread):
//     CN_PlatformProfile prof = CN_EngineProfile(g_atJobRegTbl);   // or CN_OmpProfile(...)
//     ...adjust prof.wModule/wUnit/wBureau/dwModuleType from the command line...
//     CN_PlatformInit(&prof);                        // identity globals, process reactor
//     CN_SetPlatLogFile(fp);                         // once the log file is open
//     CN_SetTimerQueueClock(gettimeofday_relative);  // monotonic timer queue
//     ...watchdog, signals registered on CN_GetProcessReactor()...
//     CN_StampPowerOnTime();
//     if (CN_StartControlTasks() == CN_START_PORT_TAKEN) exit(1);
//     CN_WakeSequencer();
//     return CN_RunReactorLoop();                    // until g_nCanExit is set
// A test executable does the same but runs the reactor with CN_StartReactorThread() and ends
// with CN_PlatformShutdown().
//
// Threads: every function here is for the thread that runs start-up (normally the main thread),
// except CN_RequestExit (any thread), the identity accessors and CN_GetProcessReactor (any
// thread, after CN_PlatformInit). The signal mask: CN_StartControlTasks blocks SIGINT, SIGTERM
// and SIGABRT while it creates the task threads, so only the calling thread (and threads it
// creates later) can take those signals; it restores the caller's own mask before returning.
#pragma once

#include <atomic>
#include <cstddef>
#include <sys/time.h>

#include "VorlenTypes.h"

class ACE_Reactor;
class ACE_Time_Value;

// Highest schedule index the platform's tables hold (index 0 is never used).
constexpr WORD16 CN_MAX_TASK_SLOTS = 31;
// At most this many job-table rows are read.
constexpr WORD16 CN_MAX_JOB_ROWS = 128;
// The maintenance program's back-communication job: the target of route-type-5 input.
constexpr WORD16 CN_BACKCOMM_JOB_TYPE = 0xC004;
constexpr BYTE CN_ROUTE_TYPE_BACKCOMM = 5;
// Base of the intra-board UDP ports: 20000 + module * 10 + unit (unit 0xFFFF counts as 0).
constexpr WORD16 CN_BASE_PORT_NO = 20000;
// Receive buffer of the intra-board input: header and data of one datagram must fit.
constexpr WORD32 CN_INTRA_RECV_BUF_LEN = 20480;
// Intra-board ports of the two programs (module 1 and module 11, whole module): each is the
// other's partner.
constexpr WORD16 CN_OMP_INTRA_PORT = 20010;
constexpr WORD16 CN_ENGINE_INTRA_PORT = 20110;

// A message that only an in-process send may deliver, because its body holds something that
// means nothing outside this process (the address of a heap block the receiver takes over). The
// intra-board input drops it, matched on the type of the job it would be delivered to and its id;
// the same id to another job type, and every in-process send, go through as usual.
struct CN_LocalOnlyMsg {
    WORD16 wJobType; // type of the delivery job (after the route-type-5 diversion)
    WORD32 dwMsgId;
};

// What a program passes to the platform. Pointers must stay valid for the life of the platform.
struct CN_PlatformProfile {
    const T_JobCreatReg* ptJobTable; // ends at the first row with a null PEntry (at most 128 rows)
    WORD16 wTaskCount;               // control tasks 1..wTaskCount are created (engine 28, maintenance 2)
    WORD16 wMaxSchIndex;             // highest schedule index a task accepts (engine 30, maintenance 18)
    WORD16 wTaskTypeBase;            // task type = base | index (engine 0x600, maintenance 0x100)
    WORD64 qwHighWaterMark;          // bytes per task queue (engine 0x20000000, maintenance 0x2800000)
    WORD64 qwModType2HighWater;      // module type bit 1: tasks but task 1 get this (engine 0x7800000; 0 = rule off)
    const char* pcLogName;           // platform log file name, opened by start-up ("uwb_zub.log", "QES_OMP.log")
    WORD16 wModule;                  // identity: module (engine 11, maintenance 1)
    WORD16 wUnit;                    // unit (0xFFFF: the whole module)
    WORD16 wBureau;                  // bureau id (engine 1, maintenance 0)
    WORD32 dwModuleType;             // module type bits (bit 0: set by both programs' start-up)
    BOOLEAN bDivertRouteType5;       // maintenance: job messages for route type 5 go to wRouteType5JobType
    WORD16 wRouteType5JobType;       // CN_BACKCOMM_JOB_TYPE
    long lTaskPriority;              // thread priority of the tasks; CN_DEFAULT_TASK_PRIORITY: (min+max)/2 of SCHED_FIFO
    const CN_LocalOnlyMsg* ptLocalOnlyMsgs; // the program's messages never taken from a datagram
    WORD16 wLocalOnlyMsgCount;              // rows of ptLocalOnlyMsgs (0: none)
    // The intra-board port of the partner program (engine: the maintenance program's 20010;
    // maintenance: the engine's 20110). The input takes a datagram only from 127.0.0.1 at this
    // port, the source of every send of that program, or at its own; any other is dropped,
    // counted and logged.
    WORD16 wPartnerPort;
};

constexpr long CN_DEFAULT_TASK_PRIORITY = -1;

// Profiles of the two programs, ready to be adjusted.
CN_PlatformProfile CN_EngineProfile(const T_JobCreatReg* ptJobTable);
CN_PlatformProfile CN_OmpProfile(const T_JobCreatReg* ptJobTable);

// Process identity (zero at load; written by CN_PlatformInit before any task runs, read by all).
extern WORD16 _thisModuleNo;
extern WORD16 _thisUnit;
extern WORD16 _thisBureauID;
extern WORD32 _thisModuleType;

WORD16 UT_GetModule();
WORD16 CN_GetSelfModuleNo();
WORD32 GetCurModuleType();
WORD32 CN_GetSelfModuleType();

// The JID of a job type in this process: instance 1, own module, unit and bureau. Any thread,
// after CN_PlatformInit.
JID CN_LocalJID(WORD16 wJobType);

// Intra-board port of a (module, unit), as a 16-bit port; unit 0xFFFF counts as 0.
WORD16 CN_IntraBoardPort(WORD16 wModule, WORD16 wUnit);

// Exit request from the signal handler (async-signal-safe to set) or any thread to the loop.
extern std::atomic<int> g_nCanExit;
extern std::atomic<int> g_nExitCode;

// Wall-clock power-on stamp used by the job API's uptime functions.
extern struct timeval tPowerOnTimeStamp;
void CN_StampPowerOnTime();

// Copies the profile, sets the identity globals from it and creates the process reactor
// (an ACE_Reactor over an ACE_Select_Reactor), which also becomes ACE_Reactor::instance(), so
// library code that takes the default reactor lands on it. 0, or -1 for a null profile/table,
// more than 30 tasks, or when the platform is already up.
int CN_PlatformInit(const CN_PlatformProfile* ptProfile);
const CN_PlatformProfile* CN_GetPlatformProfile();

// The process reactor: job timers, the intra-board input, and whatever start-up registers on it
// (watchdog, signals, console, back-communication acceptor). Null before CN_PlatformInit.
// Calls on it from other threads wait for the reactor thread's token: handlers on it stay short.
ACE_Reactor* CN_GetProcessReactor();

// Makes pfnNow the time source of the process reactor's timer queue (e.g. a monotonic clock;
// the job timers only ever use relative delays). Call before any timer is scheduled.
//
// Job timers rely on the select reactor's token: the reactor thread holds it while it
// dispatches, and timer starts and kills take it through reactor->lock(), so a kill from a job
// thread waits for a running handle_timeout. Handlers registered on this reactor stay short.
void CN_SetTimerQueueClock(ACE_Time_Value (*pfnNow)());

// Results of CN_StartControlTasks.
constexpr int CN_START_OK = 0;
constexpr int CN_START_PORT_TAKEN = 1; // the intra-board port is taken: the program exits with 1
constexpr int CN_START_FAILED = -1;

// Builds and opens control tasks 1..wTaskCount in order, each opened before the next is built
// (task 1 creates the intra-board handler first; a taken port stops there with
// CN_START_PORT_TAKEN, logged). Starting the CNCommTask is left to the caller. Blocks
// SIGINT/SIGTERM/SIGABRT in the task threads. CN_START_FAILED when called a second time.
int CN_StartControlTasks();

// Puts the wake-up message (id 0, no data, from and to job number 1 of this module and unit) on
// task 1's queue, waiting while it is full. 0, or -1 when it cannot be built or put.
int CN_WakeSequencer();

// A job entry that runs a loop of its own (and so does not return to its task) calls this
// first: its sends then wake their receivers at once instead of at the end of its task's
// chain of blocks. Any thread; no effect outside a control task.
void CN_SendWakesAtOnce();

// Bytes waiting for the local job `pJid` (its task's queue: queued, or taken and not yet
// started), a value of a moment read without the queue's lock; 0 for a job not in this process.
// Any thread.
size_t CN_JobBacklogBytes(const JID* pJid);
// The queue of the local job `pJid`'s task, which lives as long as the process (null for a job
// not in this process): a caller that reads a receiver's backlog for every message keeps it and
// asks CNTaskQueue::backlog_bytes. Any thread.
class CNTaskQueue;
const CNTaskQueue* CN_JobQueue(const JID* pJid);

// A job send for a message its receiver may go without when it falls behind: XOS_SendAsynMsg,
// except that a local receiver whose task queue already holds qwMark bytes or more (queued, or
// taken and not yet started: what the high-water mark counts) gets nothing, and CN_SEND_SHED is
// returned without a copy being made. Below the mark it waits while the queue is full, as
// XOS_SendAsynMsg does; a qwMark of 0 is no mark. The current job's thread.
constexpr WORD32 CN_SEND_SHED = 2;
WORD32 CN_SendAsynMsgUnderMark(WORD32 dwMsgId, const BYTE* pucData, WORD16 wMsgLen, BYTE ucVer, BYTE ucPriority,
                               const JID* pReceiver, size_t qwMark);

// Milliseconds of the monotonic clock, which is never set back: the clock of the log limits and
// of the rules that ask how long something has lasted. CN_CoarseMonotonicMs reads the coarse
// monotonic clock (a few milliseconds' grain, cheaper to read), for rules asked on every message
// or block. Any thread.
WORD64 CN_MonotonicMs();
WORD64 CN_CoarseMonotonicMs();

// Runs the process reactor on the calling thread until g_nCanExit is set; returns g_nExitCode.
int CN_RunReactorLoop();

// Test support: the reactor loop on a thread of its own; stop joins it. 0 or -1.
int CN_StartReactorThread();
int CN_StopReactorThread();

// Sets g_nExitCode and g_nCanExit and wakes the reactor. Any thread (not a signal handler:
// a signal handler sets the two atomics itself; the interrupted select returns on its own).
void CN_RequestExit(int nExitCode);

// Test support: stops the reactor thread if running, ends every task thread (exit blocks) and
// joins it, cancels all timers, closes the intra-board socket, frees jobs, tasks and the
// reactor, and forgets the profile, so CN_PlatformInit may be called again.
void CN_PlatformShutdown();
