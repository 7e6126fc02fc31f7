// platform_startup.cpp - the profile, the process identity, the process reactor and the start-up
// and shutdown of the control tasks as library functions.
#include "kernel_internal.h"

#include <csignal>
#include <cstring>
#include <mutex>
#include <pthread.h>
#include <sched.h>
#include <thread>

#include <ace/Select_Reactor.h>
#include <ace/Timer_Queue.h>

WORD16 _thisModuleNo = 0;
WORD16 _thisUnit = 0;
WORD16 _thisBureauID = 0;
WORD32 _thisModuleType = 0;

std::atomic<int> g_nCanExit{0};
std::atomic<int> g_nExitCode{0};

struct timeval tPowerOnTimeStamp = {0, 0};

namespace {

CN_PlatformProfile g_profile{};
bool g_platform_up = false;
ACE_Reactor* g_reactor = nullptr;
ACE_Reactor* g_previous_singleton = nullptr;
std::thread g_reactor_thread;

CN_PlatformProfile base_profile(const T_JobCreatReg* ptJobTable)
{
    CN_PlatformProfile p{};
    p.ptJobTable = ptJobTable;
    p.wRouteType5JobType = CN_BACKCOMM_JOB_TYPE;
    p.lTaskPriority = CN_DEFAULT_TASK_PRIORITY;
    return p;
}

long task_priority(const CN_PlatformProfile& prof)
{
    if (prof.lTaskPriority != CN_DEFAULT_TASK_PRIORITY) {
        return prof.lTaskPriority;
    }
    return (sched_get_priority_min(SCHED_FIFO) + sched_get_priority_max(SCHED_FIFO)) / 2;
}

void block_exit_signals(sigset_t* pOld)
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGABRT);
    pthread_sigmask(SIG_BLOCK, &set, pOld);
}

void stop_task_threads()
{
    for (WORD16 i = 1; i < CN_MAX_TASK_SLOTS; ++i) {
        CNCtrlTask* task = CNCtrlTask::gaCNCtrlTask[i];
        if (task != nullptr) {
            // Deactivating wakes the thread out of getq and any sender waiting on a full queue.
            task->msg_queue()->deactivate();
        }
    }
    for (WORD16 i = 1; i < CN_MAX_TASK_SLOTS; ++i) {
        CNCtrlTask* task = CNCtrlTask::gaCNCtrlTask[i];
        if (task != nullptr) {
            task->wait();
            task->msg_queue()->flush();
        }
    }
}

void cancel_all_timers()
{
    if (g_reactor == nullptr) {
        return;
    }
    ACE_Guard<ACE_Lock> guard(g_reactor->lock());
    for (CN_Job_Base* job : CNCtrlTask::g_JobObj) {
        if (job != nullptr) {
            job->CancelAllTimers();
        }
    }
}

void free_jobs_and_tasks()
{
    for (CN_Job_Base*& job : CNCtrlTask::g_JobObj) {
        delete job;
        job = nullptr;
    }
    for (WORD16 i = 0; i < CN_MAX_TASK_SLOTS; ++i) {
        delete CNCtrlTask::gaCNCtrlTask[i];
        CNCtrlTask::gaCNCtrlTask[i] = nullptr;
        CNCtrlTask::thisThrNo[i].store(ACE_thread_t{}, std::memory_order_relaxed);
        CN_Job_Base::pCurrentPCB_[i] = nullptr;
    }
}

} // namespace

namespace cn_kernel {
const CN_PlatformProfile& profile() { return g_profile; }
} // namespace cn_kernel

CN_PlatformProfile CN_EngineProfile(const T_JobCreatReg* ptJobTable)
{
    CN_PlatformProfile p = base_profile(ptJobTable);
    p.wTaskCount = 28;
    p.wMaxSchIndex = 30;
    p.wTaskTypeBase = 0x600;
    p.qwHighWaterMark = 0x20000000;
    p.qwModType2HighWater = 0x7800000;
    p.pcLogName = "uwb_zub.log";
    p.wModule = 11;
    p.wUnit = 0xFFFF;
    p.wBureau = 1;
    p.dwModuleType = 1;
    p.wPartnerPort = CN_OMP_INTRA_PORT;
    return p;
}

CN_PlatformProfile CN_OmpProfile(const T_JobCreatReg* ptJobTable)
{
    CN_PlatformProfile p = base_profile(ptJobTable);
    p.wTaskCount = 2;
    p.wMaxSchIndex = 18;
    p.wTaskTypeBase = 0x100;
    p.qwHighWaterMark = 0x2800000;
    p.qwModType2HighWater = 0;
    p.pcLogName = "QES_OMP.log";
    p.wModule = 1;
    p.wUnit = 0xFFFF;
    p.wBureau = 0;
    p.dwModuleType = 1;
    p.bDivertRouteType5 = TRUE;
    p.wPartnerPort = CN_ENGINE_INTRA_PORT;
    return p;
}

WORD16 UT_GetModule() { return _thisModuleNo; }
WORD16 CN_GetSelfModuleNo() { return _thisModuleNo; }
WORD32 GetCurModuleType() { return _thisModuleType; }
WORD32 CN_GetSelfModuleType() { return _thisModuleType; }

WORD16 CN_IntraBoardPort(WORD16 wModule, WORD16 wUnit)
{
    WORD32 unit = (wUnit == 0xFFFF) ? 0 : wUnit;
    return static_cast<WORD16>(CN_BASE_PORT_NO + static_cast<WORD32>(wModule) * 10 + unit);
}

void CN_StampPowerOnTime() { gettimeofday(&tPowerOnTimeStamp, nullptr); }

int CN_PlatformInit(const CN_PlatformProfile* ptProfile)
{
    if (ptProfile == nullptr || ptProfile->ptJobTable == nullptr || g_platform_up) {
        return -1;
    }
    if (ptProfile->wMaxSchIndex >= CN_MAX_TASK_SLOTS || ptProfile->wTaskCount >= CN_MAX_TASK_SLOTS) {
        return -1;
    }
    g_profile = *ptProfile;
    _thisModuleNo = g_profile.wModule;
    _thisUnit = g_profile.wUnit;
    _thisBureauID = g_profile.wBureau;
    _thisModuleType = g_profile.dwModuleType;

    ACE_Select_Reactor* impl = new (std::nothrow) ACE_Select_Reactor();
    if (impl == nullptr) {
        return -1;
    }
    g_reactor = new (std::nothrow) ACE_Reactor(impl, true);
    if (g_reactor == nullptr) {
        delete impl;
        return -1;
    }
    // Library code that takes the default reactor (acceptors, the console) lands on ours.
    g_previous_singleton = ACE_Reactor::instance(g_reactor, false);
    g_nCanExit = 0;
    g_nExitCode = 0;
    g_platform_up = true;
    return 0;
}

const CN_PlatformProfile* CN_GetPlatformProfile() { return g_platform_up ? &g_profile : nullptr; }

ACE_Reactor* CN_GetProcessReactor() { return g_reactor; }

void CN_SetTimerQueueClock(ACE_Time_Value (*pfnNow)())
{
    if (g_reactor != nullptr && pfnNow != nullptr && g_reactor->timer_queue() != nullptr) {
        g_reactor->timer_queue()->gettimeofday(pfnNow);
    }
}

int CN_StartControlTasks()
{
    if (!g_platform_up || CNCtrlTask::gaCNCtrlTask[1] != nullptr) {
        return CN_START_FAILED;
    }
    long priority = task_priority(g_profile);
    sigset_t old_mask;
    block_exit_signals(&old_mask);
    int result = CN_START_OK;
    for (WORD16 i = 1; i <= g_profile.wTaskCount; ++i) {
        CNCtrlTask* task = new (std::nothrow) CNCtrlTask(static_cast<WORD16>(g_profile.wTaskTypeBase | i));
        if (task == nullptr) {
            result = CN_START_FAILED;
            break;
        }
        CNCtrlTask::gaCNCtrlTask[i] = task;
        if (task->open(&priority) == -1) {
            result = (cn_kernel::intra_handler() == nullptr) ? CN_START_PORT_TAKEN : CN_START_FAILED;
            break;
        }
    }
    pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
    return result;
}

int CN_WakeSequencer()
{
    CNCtrlTask* task1 = CNCtrlTask::gaCNCtrlTask[1];
    if (task1 == nullptr) {
        return -1;
    }
    T_CNMessageHead head{};
    head.DestJID = CN_LocalJID(0);
    head.SrcJID = head.DestJID;
    ACE_Message_Block* mb = cn_kernel::make_block(sizeof(T_CNMessage), MB_USER_JOB_MESSAGE, 0);
    if (mb == nullptr) {
        CN_PlatLog("Copy failure at ACE_TMAIN line=%d!\n", 1250);
        return -1;
    }
    std::memset(mb->wr_ptr(), 0, sizeof(T_CNMessage));
    std::memcpy(mb->wr_ptr(), &head, sizeof head);
    mb->wr_ptr(sizeof(T_CNMessage));
    if (task1->PutBlock(mb, true) == -1) {
        mb->release();
        return -1;
    }
    return 0;
}

int CN_RunReactorLoop()
{
    if (g_reactor == nullptr) {
        return -1;
    }
    g_reactor->owner(ACE_Thread::self());
    while (g_nCanExit.load() == 0) {
        g_reactor->handle_events();
    }
    return g_nExitCode.load();
}

int CN_StartReactorThread()
{
    if (g_reactor == nullptr || g_reactor_thread.joinable()) {
        return -1;
    }
    g_nCanExit = 0;
    g_reactor_thread = std::thread([] { CN_RunReactorLoop(); });
    return 0;
}

int CN_StopReactorThread()
{
    if (!g_reactor_thread.joinable()) {
        return -1;
    }
    CN_RequestExit(g_nExitCode.load());
    g_reactor_thread.join();
    return 0;
}

void CN_RequestExit(int nExitCode)
{
    g_nExitCode = nExitCode;
    g_nCanExit = 1;
    if (g_reactor != nullptr) {
        g_reactor->notify();
    }
}

void CN_PlatformShutdown()
{
    if (!g_platform_up) {
        return;
    }
    if (g_reactor_thread.joinable()) {
        CN_StopReactorThread();
    }
    stop_task_threads();
    cancel_all_timers();
    if (CNIntraMsgHandler* handler = cn_kernel::intra_handler()) {
        cn_kernel::set_intra_handler(nullptr);
        g_reactor->remove_handler(handler, ACE_Event_Handler::READ_MASK);
    }
    free_jobs_and_tasks();
    ACE_Reactor::instance(g_previous_singleton, false);
    g_previous_singleton = nullptr;
    delete g_reactor;
    g_reactor = nullptr;
    g_profile = CN_PlatformProfile{};
    g_nCanExit = 0;
    g_nExitCode = 0;
    g_platform_up = false;
}
