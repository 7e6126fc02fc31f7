// CNCtrlTask.h - the control tasks (one thread and one message queue per schedule index, running
// only the jobs of that index), the per-task timer handler, the process-wide intra-board UDP
// handler, the one-shot CNCommTask and the optional thread-to-core binding.
//
// Threads: tasks are built and opened by the start-up thread (CN_StartControlTasks). svc() is
// the task's own thread. PutBlock may be called from any thread (the queue has its own lock).
// CNTime_Handler and CNIntraMsgHandler callbacks run on the process reactor's thread and never
// wait on a queue. CNIntraMsgHandler::SendDatagram may be called from any thread (one sendto).
#pragma once

#include <atomic>

#include <ace/Event_Handler.h>
#include <ace/INET_Addr.h>
#include <ace/SOCK_Dgram.h>
#include <ace/Synch_Traits.h>
#include <ace/Task.h>

#include "CN_Job_Base.h"
#include "CNPlatform.h"
#include "CNTaskQueue.h"

class CNTime_Handler;
class CNIntraMsgHandler;

class CNCtrlTask : public ACE_Task<ACE_MT_SYNCH> {
public:
    explicit CNCtrlTask(WORD16 wTaskType);
    ~CNCtrlTask() override;

    int open(void* arg) override;   // arg: long* priority; -1 when the intra-board handler fails
    int close(u_long flags) override;
    int svc() override;

    int kill();                     // exit block (waits while full), then 5 ms; 0 or the queue's error
    void dump();

    CNTime_Handler* get_timehandler() const { return TimeHandler_; }
    static CNIntraMsgHandler* get_intramsghandler();

    WORD16 GetSchIndex() const { return wSchIndex; }
    WORD16 GetTaskType() const { return wTaskType; }

    // Puts a block at the tail of the queue (strict first in, first out); bWait: wait while the
    // queue is over its high-water mark, else fail at once. 0, or -1 (the caller keeps the block).
    int PutBlock(ACE_Message_Block* pBlock, bool bWait);
    CNTaskQueue* task_queue() const { return queue_; }

    // Runs the blocks queued at the call on the calling thread, as the task's own thread would
    // (the calling thread is this task's for the time of the call), and returns how many ran;
    // what they send to this task waits for the next call. For harnesses that build tasks
    // without opening them (fuzz targets); never while the task's thread runs.
    size_t RunQueuedHere();

    static CN_Job_Base* g_JobObj[CN_MAX_JOB_ROWS];
    static std::atomic<ACE_thread_t> thisThrNo[CN_MAX_TASK_SLOTS];
    static CNCtrlTask* gaCNCtrlTask[CN_MAX_TASK_SLOTS];

private:
    ACE_Message_Block* take_first(ACE_Message_Block*& pChain); // unlinked, no longer counted
    bool dispatch(ACE_Message_Block* pBlock); // false: the block ends the thread
    void dispatch_timer(ACE_Message_Block* pBlock);
    void dispatch_job_message(ACE_Message_Block* pBlock);
    bool forward_to_owner(CN_Job_Base* pJob, ACE_Message_Block* pBlock);
    void run_job(CN_Job_Base* pJob, WORD32 dwMsgId, void* pBody);

    WORD16 wSchIndex;
    WORD16 wTaskType;
    CNTime_Handler* TimeHandler_;
    WORD16 wModule_;
    WORD16 wUnit_;
    CNTaskQueue* queue_; // owned; the task's msg_queue()
};

// Job timers of one task in the process reactor. handle_timeout's act packs the job's table row
// and the platform timer id (no pointer), so a late expiry of a cancelled timer finds nothing.
class CNTime_Handler : public ACE_Event_Handler {
public:
    int handle_timeout(const ACE_Time_Value& current_time, const void* act) override;

    static const void* MakeAct(WORD16 wRow, XOS_TIMER_ID dwId);
};

// The intra-board UDP endpoint of the process: 127.0.0.1 at the own port.
class CNIntraMsgHandler : public ACE_Event_Handler {
public:
    // Binds 127.0.0.1:wPort; 0, or -1 when the port cannot be bound (logged).
    int Open(WORD16 wPort);
    ACE_HANDLE get_handle() const override;
    int handle_input(ACE_HANDLE fd) override;
    int handle_exception(ACE_HANDLE fd) override;
    int handle_close(ACE_HANDLE fd, ACE_Reactor_Mask mask) override;  // closes and deletes itself

    // One datagram to 127.0.0.1:wPort, from the bound port; 0, or -1 when it cannot be sent.
    int SendDatagram(const void* pData, size_t len, WORD16 wPort);
    // Validates and queues one datagram received from `from` (what handle_input does after the
    // read): only the partner program's datagrams (the profile's wPartnerPort on 127.0.0.1) and
    // the process's own are taken; others are counted in ForeignDrops and logged under a rate limit.
    void Deliver(const BYTE* pData, ssize_t len, const ACE_INET_Addr& from);
    WORD16 LocalPort() const { return wPort_; }
    // Datagrams dropped since the handler was made for not coming from the partner. Any thread.
    WORD64 ForeignDrops() const { return qwForeignDrops_.load(std::memory_order_relaxed); }

private:
    bool from_partner_or_self(const ACE_INET_Addr& from, ssize_t len);

    ACE_SOCK_Dgram sock_;
    ACE_INET_Addr local_;
    WORD16 wPort_ = 0;
    std::atomic<WORD64> qwForeignDrops_{0};
    BYTE abRecvBuf_[CN_INTRA_RECV_BUF_LEN];
};

// A task that runs one entry once on a thread of its own (the console starter).
class CNCommTask : public ACE_Task<ACE_MT_SYNCH> {
public:
    typedef void (*CommEntry)(void*);
    int open(void* entry) override; // entry: CommEntry; -1 for null
    int svc() override;

private:
    CommEntry pEntry_ = nullptr;
};

// Thread-to-core binding (the location engine does not call it).
extern int g_SMP_CoreBindCfg[CN_MAX_TASK_SLOTS];
extern int g_UP_CoreBindCfg[CN_MAX_TASK_SLOTS];
int LoadCoreBindCfg(const char* pcFileName = "./corebind.cfg"); // number of values read, -1 no file
int bindthread2core(ACE_thread_t thread, unsigned int core);    // 0, or -1
int BindCore(WORD16 wSchIndex);                                 // binds the calling task thread
