// job_timers.cpp - a job's timers in the process reactor and their expiry as queued messages.
//
// Every start, cancel and expiry runs while the calling thread holds the process reactor's token
// (ACE_Select_Reactor: the reactor thread holds it while it dispatches, other threads take it
// through reactor->lock()). Under the token no expiry can run, so a record in the job's map
// always has a live reactor timer, and that timer is cancelled exactly once, by whoever takes
// the record out of the map. Reactor timers are therefore scheduled as recurring (ACE frees
// and reuses the id of a one-shot timer as soon as it fires) and one-shot records cancel theirs
// at the first expiry. The job's map mutex is only ever taken inside the token, never the other
// way round, and is not held across a reactor call.
#include "kernel_internal.h"

#include <cstring>
#include <new>

namespace {

constexpr int64_t kMsPerSecond = 1000;

ACE_Time_Value ms_to_time(int64_t ms)
{
    return ACE_Time_Value(static_cast<time_t>(ms / kMsPerSecond), static_cast<suseconds_t>((ms % kMsPerSecond) * 1000));
}

// Interval of the reactor timer behind a record. A zero interval would make ACE treat it as
// one-shot (and free its id behind our back), so zero-length timers keep a nominal one; both
// they and one-shot timers are cancelled at their first expiry.
ACE_Time_Value reactor_interval(int64_t ms)
{
    return ms > 0 ? ms_to_time(ms) : ACE_Time_Value(1, 0);
}

void free_record(CN_TimerRecord* pRec) { delete pRec; }

} // namespace

XOS_TIMER_ID CN_Job_Base::SetTimer(WORD32 dwTimerNo, SWORD32 sdwDuration, WORD32 dwPara, BOOLEAN bLoop)
{
    return SetTimerMs(dwTimerNo, sdwDuration, dwPara, bLoop);
}

XOS_TIMER_ID CN_Job_Base::SetTimerMs(WORD32 dwTimerNo, int64_t qwDelayMs, WORD32 dwPara, BOOLEAN bLoop)
{
    CN_TimerRecord* rec = new (std::nothrow) CN_TimerRecord{};
    if (rec == nullptr) {
        return XOS_INVALID_TIMER_ID;
    }
    rec->tPara.bLoop = bLoop ? 1 : 0;
    rec->tPara.dwTimerNo = dwTimerNo;
    rec->tPara.dwPara = dwPara;
    rec->tPara.OwnerJID = tSelfJID_;
    rec->tPara.ptPara = nullptr;
    rec->lReactorId = -1;
    rec->qwPeriodMs = qwDelayMs;
    ACE_Reactor* reactor = CN_GetProcessReactor();
    if (qwDelayMs < 0 || reactor == nullptr || pCnTask_ == nullptr) {
        free_record(rec);
        return XOS_INVALID_TIMER_ID;
    }
    rec->tPara.dwTimerID = cn_kernel::next_timer_id();

    ACE_Guard<ACE_Lock> guard(reactor->lock());
    long reactor_id = reactor->schedule_timer(pCnTask_->get_timehandler(),
                                              CNTime_Handler::MakeAct(wRow_, rec->tPara.dwTimerID),
                                              ms_to_time(qwDelayMs), reactor_interval(qwDelayMs));
    if (reactor_id < 0) {
        free_record(rec);
        return XOS_INVALID_TIMER_ID;
    }
    rec->lReactorId = reactor_id;
    XOS_TIMER_ID id = rec->tPara.dwTimerID;
    if (!mapAddPtr(rec)) {
        // Withdrawn before it could fire: we still hold the token.
        reactor->cancel_timer(reactor_id, nullptr, 1);
        free_record(rec);
        return XOS_INVALID_TIMER_ID;
    }
    return id;
}

WORD32 CN_Job_Base::KillTimerById(XOS_TIMER_ID dwTimerId)
{
    ACE_thread_t caller = ACE_Thread::self();
    if (!IsOwnerThrNoSet() || !ACE_OS::thr_equal(GetOwnerThrNo(), caller)) {
        XOS_SysLog(3, "KillTimerById:Error thrno:%lu %lu\n", static_cast<unsigned long>(GetOwnerThrNo()),
                   static_cast<unsigned long>(caller));
        return 1;
    }
    ACE_Reactor* reactor = CN_GetProcessReactor();
    if (reactor == nullptr) {
        return 1;
    }
    CN_TimerRecord* rec = nullptr;
    {
        ACE_Guard<ACE_Lock> guard(reactor->lock());
        rec = mapDelPtrByID(dwTimerId);
        if (rec == nullptr) {
            return 1;
        }
        if (rec->lReactorId >= 0) {
            reactor->cancel_timer(rec->lReactorId, nullptr, 1);
        }
    }
    free_record(rec);
    return 0;
}

WORD32 CN_Job_Base::KillTimerByNo(WORD32 dwTimerNo, WORD32 dwPara)
{
    ACE_Reactor* reactor = CN_GetProcessReactor();
    if (reactor == nullptr) {
        return XOS_INVALID_TIMER_ID;
    }
    CN_TimerRecord* rec = nullptr;
    {
        ACE_Guard<ACE_Lock> guard(reactor->lock());
        rec = mapDelPtrByNo(dwTimerNo, dwPara);
        if (rec == nullptr) {
            XOS_SysLog(3, "KillTimerByNo:Fail! dwTimerID = 0x%x, dwTimerNo = 0x%x, dwParam = 0x%x !\n",
                       XOS_INVALID_TIMER_ID, dwTimerNo, dwPara);
            return XOS_INVALID_TIMER_ID;
        }
        // The reactor timer goes before its record: an expiry must never see a freed record.
        if (rec->lReactorId >= 0) {
            reactor->cancel_timer(rec->lReactorId, nullptr, 1);
        }
    }
    free_record(rec);
    return 0;
}

size_t CN_Job_Base::TimerCount() const
{
    std::lock_guard<std::mutex> lock(timerMapMutex_);
    return TimerID2Index_.size();
}

void CN_Job_Base::CancelAllTimers()
{
    ACE_Reactor* reactor = CN_GetProcessReactor();
    std::unordered_map<XOS_TIMER_ID, CN_TimerRecord*> taken;
    {
        std::lock_guard<std::mutex> lock(timerMapMutex_);
        taken.swap(TimerID2Index_);
    }
    for (auto& entry : taken) {
        if (reactor != nullptr && entry.second->lReactorId >= 0) {
            reactor->cancel_timer(entry.second->lReactorId, nullptr, 1);
        }
        free_record(entry.second);
    }
}

bool CN_Job_Base::mapAddPtr(CN_TimerRecord* pRec)
{
    try {
        std::lock_guard<std::mutex> lock(timerMapMutex_);
        return TimerID2Index_.emplace(pRec->tPara.dwTimerID, pRec).second;
    } catch (...) {
        return false;
    }
}

bool CN_Job_Base::mapFindPtrByID(XOS_TIMER_ID dwId, CN_TimerRecord* pCopy) const
{
    std::lock_guard<std::mutex> lock(timerMapMutex_);
    auto it = TimerID2Index_.find(dwId);
    if (it == TimerID2Index_.end()) {
        return false;
    }
    if (pCopy != nullptr) {
        *pCopy = *it->second;
    }
    return true;
}

CN_TimerRecord* CN_Job_Base::mapDelPtrByID(XOS_TIMER_ID dwId)
{
    std::lock_guard<std::mutex> lock(timerMapMutex_);
    auto it = TimerID2Index_.find(dwId);
    if (it == TimerID2Index_.end()) {
        return nullptr;
    }
    CN_TimerRecord* rec = it->second;
    TimerID2Index_.erase(it);
    return rec;
}

CN_TimerRecord* CN_Job_Base::mapDelPtrByNo(WORD32 dwTimerNo, WORD32 dwPara)
{
    std::lock_guard<std::mutex> lock(timerMapMutex_);
    for (auto it = TimerID2Index_.begin(); it != TimerID2Index_.end(); ++it) {
        if (it->second->tPara.dwTimerNo == dwTimerNo && it->second->tPara.dwPara == dwPara) {
            CN_TimerRecord* rec = it->second;
            TimerID2Index_.erase(it);
            return rec;
        }
    }
    return nullptr;
}

bool CN_Job_Base::OnTimerExpiry(XOS_TIMER_ID dwId, T_CNTimerMessage* pMsg)
{
    CN_TimerRecord* rec = nullptr;
    long reactor_id = -1;
    {
        std::lock_guard<std::mutex> lock(timerMapMutex_);
        auto it = TimerID2Index_.find(dwId);
        if (it == TimerID2Index_.end()) {
            return false;
        }
        rec = it->second;
        std::memset(pMsg, 0, sizeof *pMsg);
        pMsg->tHead.DestJID = rec->tPara.OwnerJID;
        pMsg->tHead.dwMsgID = rec->tPara.dwTimerNo;
        pMsg->tHead.dwMsgLen = sizeof(WORD32);
        pMsg->tTimer = rec->tPara;
        pMsg->tTimer.ptPara = rec;
        if (rec->tPara.bLoop) {
            if (rec->qwPeriodMs > 0) {
                return true;
            }
            // A periodic timer of length 0 fires once and then waits in the map for its cancel.
            reactor_id = rec->lReactorId;
            rec->lReactorId = -1;
            rec = nullptr;
        } else {
            TimerID2Index_.erase(it);
            reactor_id = rec->lReactorId;
        }
    }
    ACE_Reactor* reactor = CN_GetProcessReactor();
    if (reactor != nullptr && reactor_id >= 0) {
        reactor->cancel_timer(reactor_id, nullptr, 1);
    }
    if (rec != nullptr) {
        free_record(rec);
    }
    return true;
}

const void* CNTime_Handler::MakeAct(WORD16 wRow, XOS_TIMER_ID dwId)
{
    uintptr_t packed = (static_cast<uintptr_t>(wRow) << 32) | dwId;
    return reinterpret_cast<const void*>(packed);
}

int CNTime_Handler::handle_timeout(const ACE_Time_Value& current_time, const void* act)
{
    uintptr_t packed = reinterpret_cast<uintptr_t>(act);
    WORD16 row = static_cast<WORD16>(packed >> 32);
    XOS_TIMER_ID id = static_cast<XOS_TIMER_ID>(packed & 0xFFFFFFFFu);
    CN_Job_Base* job = row < CN_MAX_JOB_ROWS ? CNCtrlTask::g_JobObj[row] : nullptr;
    if (job == nullptr) {
        XOS_SysLog(3, "handle_timeout:dwJno= %d,timerNo=%d, bLoop=%d\n", -1, static_cast<int>(id), -1);
        return 0;
    }
    CNCtrlTask* task = job->GetParentTask();
    if (task == nullptr) {
        XOS_SysLog(3, "handle_timeout pTask=NULL:dwJno= %d,timerNo=%d, bLoop=%d\n", static_cast<int>(job->SelfJID().dwJno),
                   static_cast<int>(id), -1);
        return 0;
    }
    T_CNTimerMessage msg;
    if (!job->OnTimerExpiry(id, &msg)) {
        return 0; // cancelled meanwhile: whoever removed it cancels the reactor timer
    }
    ACE_Message_Block* mb = cn_kernel::make_block(sizeof msg, MB_USER_TIMER, 0);
    if (mb == nullptr) {
        XOS_SysLog(3, "Copy failure at filename+%s,line+%d!\n", __FILE__, __LINE__);
        return 0;
    }
    std::memcpy(mb->wr_ptr(), &msg, sizeof msg);
    mb->wr_ptr(sizeof msg);
    if (task->PutBlock(mb, false) == -1) {
        mb->release();
        XOS_SysLog(3, "CNTime_Handler::handle_timeout send message failure. at:%d !\n", __LINE__);
    }
    return 0;
}
