// job_base.cpp - the job object: creation from a table row, the entry call, the current-job
// table and the JID lookups, the dump, and the placeholder job `notexist`.
#include "kernel_internal.h"

#include <cstdlib>
#include <cstring>
#include <exception>
#include <pthread.h>

CN_Job_Base* CN_Job_Base::pCurrentPCB_[CN_MAX_TASK_SLOTS] = {};

CN_Job_Base::CN_Job_Base()
    : pJobEntry(nullptr), ticks_start(-1), self_thr_no_(ACE_thread_t{}), blSelfThrNoSet_(FALSE),
      bPrivateData_(nullptr), dwMaxTimerNum_(100), wTimerNum_(0), wState_(0), tSenderJID_{}, tReceiverJID_{},
      dwCurMsgLen_(0), dwCurMsgID_(0), uCurMsgType_(0), dwTimerPara_(0), dwTimerID_(0), dwJobType_(0),
      tSelfJID_{}, pCnTask_(nullptr), datasize_(0), wRow_(0), dwEntrySeq_(0),
      dwWatchedSeq_(0)
{
    TimerID2Index_.reserve(1024);
}

CN_Job_Base::~CN_Job_Base()
{
    {
        std::lock_guard<std::mutex> lock(timerMapMutex_);
        for (auto& entry : TimerID2Index_) {
            delete entry.second;
        }
        TimerID2Index_.clear();
    }
    std::free(bPrivateData_);
}

int CN_Job_Base::init(CNCtrlTask* pTask, const JID* pJid, WORD16 wRow)
{
    const T_JobCreatReg& row = cn_kernel::job_table()[wRow];
    // calloc(0) may give null: keep one byte so a job always has a private-data pointer.
    bPrivateData_ = std::calloc(row.DataSize == 0 ? 1 : row.DataSize, 1);
    if (bPrivateData_ == nullptr) {
        CN_PlatLog("CN_Job_Base::init: no memory for %u bytes of private data of job %s\n", row.DataSize,
                   row.acName);
        return -1;
    }
    {
        std::lock_guard<std::mutex> lock(timerMapMutex_);
        TimerID2Index_.clear();
    }
    dwTimerPara_ = 0;
    wState_ = 0;
    tSenderJID_ = JID{};
    dwCurMsgLen_ = 0;
    dwCurMsgID_ = 0;
    stJobName_.assign(row.acName, strnlen(row.acName, sizeof row.acName));
    dwJobType_ = row.wJobType;
    pCnTask_ = pTask;
    tSelfJID_ = *pJid;
    datasize_ = row.DataSize;
    wRow_ = wRow;
    WORD16 index = pTask != nullptr ? pTask->GetSchIndex() : 0;
    if (index < CN_MAX_TASK_SLOTS) {
        pCurrentPCB_[index] = nullptr;
    }
    pJobEntry = row.PEntry;
    return 0;
}

void CN_Job_Base::pJobCall(WORD32 dwMsgId, void* pBody, BYTE ucFlag)
{
    if (pJobEntry == nullptr) {
        return;
    }
    // Only this thread writes the count, so a plain store publishes it without a locked cycle.
    const WORD32 seq = dwEntrySeq_.load(std::memory_order_relaxed);
    dwEntrySeq_.store(seq + 1, std::memory_order_release);
    try {
        pJobEntry(static_cast<WORD16>(GetCurState()), dwMsgId, pBody, bPrivateData_, ucFlag);
    } catch (const std::exception& e) {
        CN_PlatLog("job %s: exception from its entry on message 0x%X: %s\n", stJobName_.c_str(), dwMsgId, e.what());
    } catch (...) {
        CN_PlatLog("job %s: exception from its entry on message 0x%X\n", stJobName_.c_str(), dwMsgId);
    }
    dwEntrySeq_.store(seq + 2, std::memory_order_release);
}

clock_t CN_Job_Base::OwnerProcessorTicks() const
{
    clockid_t cid;
    if (!IsOwnerThrNoSet() || pthread_getcpuclockid(GetOwnerThrNo(), &cid) != 0) {
        return static_cast<clock_t>(-1);
    }
    timespec ts{};
    if (clock_gettime(cid, &ts) != 0) {
        return static_cast<clock_t>(-1);
    }
    return static_cast<clock_t>(ts.tv_sec) * CLOCKS_PER_SEC +
           static_cast<clock_t>(ts.tv_nsec / (1000000000L / CLOCKS_PER_SEC));
}

clock_t CN_Job_Base::EntryTicks(clock_t now)
{
    const WORD32 seq = dwEntrySeq_.load(std::memory_order_acquire);
    if ((seq & 1U) == 0 || now == static_cast<clock_t>(-1)) {
        ticks_start.store(-1, std::memory_order_relaxed);
        return static_cast<clock_t>(-1);
    }
    clock_t start = ticks_start.load(std::memory_order_relaxed);
    if (seq != dwWatchedSeq_ || start == static_cast<clock_t>(-1)) {
        dwWatchedSeq_ = seq;
        ticks_start.store(now, std::memory_order_relaxed);
        return now;
    }
    return start;
}

CN_Job_Base* CN_Job_Base::GetPCB()
{
    WORD16 index = cn_kernel::current_task_index();
    if (index == 0 || index >= CN_MAX_TASK_SLOTS) {
        return nullptr;
    }
    return pCurrentPCB_[index];
}

void CN_Job_Base::SetPCB(CN_Job_Base* pJob)
{
    WORD16 index = cn_kernel::current_task_index();
    if (index != 0 && index < CN_MAX_TASK_SLOTS) {
        pCurrentPCB_[index] = pJob;
    }
}

CN_Job_Base* CN_Job_Base::GetJobByType(WORD16 wJobType)
{
    const T_JobCreatReg* table = cn_kernel::job_table();
    if (table == nullptr) {
        return nullptr;
    }
    if (table[0].wJobType == wJobType) {
        return CNCtrlTask::g_JobObj[0];
    }
    for (WORD16 row = 1; row < CN_MAX_JOB_ROWS && table[row].PEntry != nullptr; ++row) {
        if (table[row].wJobType == wJobType) {
            return CNCtrlTask::g_JobObj[row];
        }
    }
    return nullptr;
}

CN_Job_Base* CN_Job_Base::GetJobHandlerByJid(const JID* pJid)
{
    if (pJid == nullptr) {
        return nullptr;
    }
    if (!cn_kernel::is_own_module_unit(*pJid)) {
        return cn_kernel::lookup_job(*pJid, false);
    }
    CN_Job_Base* job = GetJobByType(static_cast<WORD16>(pJid->dwJno >> 16));
    return job != nullptr ? job : CNCtrlTask::g_JobObj[1];
}

void CN_Job_Base::dump()
{
    CN_PlatLog("\n===\nJob name =%s\n", stJobName_.c_str());
    CN_PlatLog("wState_=%u|dwCurMsgID_=0X%X|dwCurMsgLen_=%u|uCurMsgType_=%u|dwTimerPara_=%u|dwTimerID_=0X%X|"
               "dwJobType_=0X%X\n",
               GetCurState(), dwCurMsgID_, dwCurMsgLen_, uCurMsgType_, dwTimerPara_, dwTimerID_, dwJobType_);
    CN_PlatLog("datasize_=%u|self_thr_no_=0X%X|blSelfThrNoSet_=%u\n", datasize_,
               static_cast<unsigned>(GetOwnerThrNo()), IsOwnerThrNoSet());
    CN_PlatLog("tSenderJID_: dwJno=0X%X|wModule=%u|wUnit=%u\n", tSenderJID_.dwJno, tSenderJID_.wModule,
               tSenderJID_.wUnit);
    CN_PlatLog("tSelfJID_: dwJno=0X%X|wModule=%u|wUnit=%u\n===\n", tSelfJID_.dwJno, tSelfJID_.wModule,
               tSelfJID_.wUnit);
    if (pCnTask_ != nullptr) {
        pCnTask_->dump();
    }
}

WORD32 CN_Job_Base::GetSelfJID(JID* pJid) const
{
    if (pJid != nullptr) {
        *pJid = tSelfJID_;
    }
    return 0;
}

WORD32 CN_Job_Base::GetSenderJID(JID* pJid) const
{
    if (pJid != nullptr) {
        *pJid = tSenderJID_;
    }
    return 0;
}

WORD32 CN_Job_Base::GetReceiverJID(JID* pJid) const
{
    if (pJid != nullptr) {
        *pJid = tReceiverJID_;
    }
    return 0;
}

void CN_Job_Base::SetSenderJID(const JID* pJid)
{
    if (pJid != nullptr) {
        tSenderJID_ = *pJid;
    }
}

void CN_Job_Base::SetReceiverJID(const JID* pJid)
{
    if (pJid != nullptr) {
        tReceiverJID_ = *pJid;
    }
}

void CN_Job_Base::SetOwnerThrNo()
{
    if (!blSelfThrNoSet_.load(std::memory_order_acquire)) {
        self_thr_no_.store(ACE_Thread::self(), std::memory_order_release);
        blSelfThrNoSet_.store(TRUE, std::memory_order_release);
    }
}

void notexist_Job_Entry(WORD16 wState, WORD32 dwMsgId, void* pMsgBody, void* pPData, BYTE ucFlag)
{
    switch (wState) {
    case 0:
        if (dwMsgId == CN_MSG_POWER_ON) {
            XOS_PowerOnAck(CN_MSG_POWER_ON_ACK, nullptr, 0, 0);
        }
        XOS_SetNextState(1);
        return;
    case 1:
        XOS_SetNextState(1);
        return;
    default:
        return;
    }
}
