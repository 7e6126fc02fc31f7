// CN_Job_Base.h - the job object: one per job-table row, holding the job's state, the context of
// the message it is handling (sender, id, length, type, timer fields), its private data and its
// live timers.
//
// Threads: a job is created by the start-up thread and afterwards runs only on its own control
// task's thread; every Set*/Get* accessor of the current-message context and SetNextState are for
// that thread. GetCurState (an atomic read) may be called from any thread. The timer operations
// SetTimer/KillTimerById/KillTimerByNo belong to the owning thread (KillTimerById refuses any
// other); the timer map is shared with the reactor thread, which reads it on expiry, and every
// map access holds the job's own timer-map mutex (never held across a reactor call).
// The static lookups (GetJobHandlerByJid) read tables filled before the tasks run and may be
// called from any thread.
#pragma once

#include <atomic>
#include <ctime>
#include <mutex>
#include <string>
#include <unordered_map>

#include <ace/OS_NS_Thread.h>

#include "CNPlatform.h"
#include "CNXosTypes.h"

class CNCtrlTask;

// One started timer, as the job sees it and as its expiry message carries it.
typedef struct {
    BOOLEAN bLoop;      // 1 periodic, 0 one-shot
    WORD32 dwTimerID;   // platform timer id (never reused while the process runs)
    JID OwnerJID;       // the job that started the timer
    WORD32 dwTimerNo;   // becomes the expiry message's id
    WORD32 dwPara;      // the expiry message's 4-byte body
    void* ptPara;       // null in the map; in an expiry message, the record's address (identification only)
} Timer_Para;

// Timer expiry message: DestJID = OwnerJID, SrcJID zero, dwMsgID = dwTimerNo, dwMsgLen 4.
typedef struct {
    T_CNMessageHead tHead;
    Timer_Para tTimer;
} T_CNTimerMessage;

// Message types of the current message.
constexpr BYTE CN_MSG_TYPE_JOB = 1;
constexpr BYTE CN_MSG_TYPE_TIMER = 8;

// Platform-internal record behind a map entry: the job-visible fields plus the reactor's id.
struct CN_TimerRecord {
    Timer_Para tPara;
    long lReactorId;     // the reactor timer serving this record; -1 once it no longer runs
    int64_t qwPeriodMs;  // the length it was started with
};

class CN_Job_Base final {
public:
    CN_Job_Base();
    ~CN_Job_Base();
    CN_Job_Base(const CN_Job_Base&) = delete;
    CN_Job_Base& operator=(const CN_Job_Base&) = delete;

    // Initialises the object from table row wRow; 0, or -1 when the private data cannot be had.
    int init(CNCtrlTask* pTask, const JID* pJid, WORD16 wRow);

    // Calls the entry with the current state, the message id, body, private data and flag.
    virtual void pJobCall(WORD32 dwMsgId, void* pBody, BYTE ucFlag);

    // The job the calling control-task thread runs now, or null (off a control-task thread too).
    static CN_Job_Base* GetPCB();
    static void SetPCB(CN_Job_Base* pJob);
    // The local job for a JID: unknown types of this module and unit give the `notexist` job
    // (row 1); another module or unit logs and gives null.
    static CN_Job_Base* GetJobHandlerByJid(const JID* pJid);
    // The local job whose row has this job type, or null (no fallback).
    static CN_Job_Base* GetJobByType(WORD16 wJobType);

    void dump();

    WORD32 GetSelfJID(JID* pJid) const;
    WORD32 GetSenderJID(JID* pJid) const;
    WORD32 GetReceiverJID(JID* pJid) const;
    const JID& SelfJID() const { return tSelfJID_; }
    void SetSenderJID(const JID* pJid);
    void SetReceiverJID(const JID* pJid);
    void SetCurMsgID(WORD32 dwId) { dwCurMsgID_ = dwId; }
    WORD32 GetCurMsgID() const { return dwCurMsgID_; }
    void SetCurMsgType(BYTE ucType) { uCurMsgType_ = ucType; }
    BYTE GetCurMsgType() const { return uCurMsgType_; }
    void SetParaOfCurTimer(WORD32 dwPara) { dwTimerPara_ = dwPara; }
    WORD32 GetParaOfCurTimer() const { return dwTimerPara_; }
    void GetCurTimerID(WORD32 dwTimerId) { dwTimerID_ = dwTimerId; } // stores the id
    WORD32 GetCurTimerID() const { return dwTimerID_; }
    void SetCurMsgLen(WORD32 dwLen) { dwCurMsgLen_ = dwLen; }
    WORD32 GetCurMsgLen() const { return dwCurMsgLen_; }
    CNCtrlTask* GetParentTask() const { return pCnTask_; }
    WORD32 GetCurState() const { return wState_.load(std::memory_order_relaxed); }
    void SetNextState(WORD32 dwState) { wState_.store(dwState & 0xFFFF, std::memory_order_relaxed); }
    void SetOwnerThrNo();
    ACE_thread_t GetOwnerThrNo() const { return self_thr_no_.load(std::memory_order_acquire); }
    BOOLEAN IsOwnerThrNoSet() const { return blSelfThrNoSet_.load(std::memory_order_acquire); }
    // Dead-loop watch, for the checking thread only. The dispatch path stamps nothing but an entry
    // count, so no clock is read per message: the owning thread's processor clock is read by
    // the check instead, and the first look at a running entry fixes its starting reading.
    // OwnerProcessorTicks: the owning thread's processor time in clock() ticks, -1 unknown.
    // EntryTicks(now): -1 while the job is not inside its entry; otherwise the reading taken
    // when the check first found this entry running (now, on that first look).
    clock_t OwnerProcessorTicks() const;
    clock_t EntryTicks(clock_t now);
    clock_t GetTicksStart() const { return ticks_start.load(std::memory_order_relaxed); }
    const std::string& GetJobName() const { return stJobName_; }
    WORD32 GetJobType() const { return dwJobType_; }
    WORD16 GetRow() const { return wRow_; }
    void* GetPrivateData() const { return bPrivateData_; }
    WORD32 GetDataSize() const { return datasize_; }

    // Timers. SetTimer: 0xFFFFFFFF for a negative duration or when the reactor refuses.
    XOS_TIMER_ID SetTimer(WORD32 dwTimerNo, SWORD32 sdwDuration, WORD32 dwPara, BOOLEAN bLoop);
    // The same with a 64-bit delay in milliseconds (absolute timers far ahead).
    XOS_TIMER_ID SetTimerMs(WORD32 dwTimerNo, int64_t qwDelayMs, WORD32 dwPara, BOOLEAN bLoop);
    WORD32 KillTimerById(XOS_TIMER_ID dwTimerId);           // 0, or 1 (not found, not the owner)
    WORD32 KillTimerByNo(WORD32 dwTimerNo, WORD32 dwPara);  // 0, or 0xFFFFFFFF (no match)
    size_t TimerCount() const;                              // live timers (tests, dumps)
    // Cancels every live timer of the job (platform shutdown; caller holds the reactor token).
    void CancelAllTimers();

    // Timer-map operations, each under the map mutex. Del* hand the record back to the caller.
    bool mapAddPtr(CN_TimerRecord* pRec);
    bool mapFindPtrByID(XOS_TIMER_ID dwId, CN_TimerRecord* pCopy) const;
    CN_TimerRecord* mapDelPtrByID(XOS_TIMER_ID dwId);
    CN_TimerRecord* mapDelPtrByNo(WORD32 dwTimerNo, WORD32 dwPara);

    // Expiry on the reactor thread (CNTime_Handler): builds the message copy when the timer is
    // live; a one-shot record leaves the map and the reactor. false: nothing to deliver.
    bool OnTimerExpiry(XOS_TIMER_ID dwId, T_CNTimerMessage* pMsg);

    static CN_Job_Base* pCurrentPCB_[CN_MAX_TASK_SLOTS];

private:
    PTFUNCJOBENTRY pJobEntry;
    std::atomic<clock_t> ticks_start;   // the checker's reading for the entry it watches
    std::atomic<ACE_thread_t> self_thr_no_;
    std::atomic<BOOLEAN> blSelfThrNoSet_;
    void* bPrivateData_;
    const WORD16 dwMaxTimerNum_;
    WORD16 wTimerNum_;
    std::unordered_map<XOS_TIMER_ID, CN_TimerRecord*> TimerID2Index_;
    mutable std::mutex timerMapMutex_;
    std::atomic<WORD32> wState_;
    JID tSenderJID_;
    JID tReceiverJID_;
    WORD32 dwCurMsgLen_;
    WORD32 dwCurMsgID_;
    BYTE uCurMsgType_;
    WORD32 dwTimerPara_;
    WORD32 dwTimerID_;
    std::string stJobName_;
    WORD32 dwJobType_;
    JID tSelfJID_;
    CNCtrlTask* pCnTask_;
    WORD32 datasize_;
    WORD16 wRow_;
    std::atomic<WORD32> dwEntrySeq_;    // odd while the entry runs; written by the owning thread
    WORD32 dwWatchedSeq_;               // the entry ticks_start belongs to (checker's own)
};

// The placeholder job of row 1: answers a first power-on, then stays in state 1.
void notexist_Job_Entry(WORD16 wState, WORD32 dwMsgId, void* pMsgBody, void* pPData, BYTE ucFlag);
