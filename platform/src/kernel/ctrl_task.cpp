// ctrl_task.cpp - the control tasks: construction of their jobs from the table, the thread
// start, and the dispatch loop that runs one queued block at a time on the task's own thread.
#include "kernel_internal.h"
#include "block_allocator.h"

#include <cstring>
#include <new>
#include <sys/syscall.h>
#include <unistd.h>

CN_Job_Base* CNCtrlTask::g_JobObj[CN_MAX_JOB_ROWS] = {};
std::atomic<ACE_thread_t> CNCtrlTask::thisThrNo[CN_MAX_TASK_SLOTS] = {};
CNCtrlTask* CNCtrlTask::gaCNCtrlTask[CN_MAX_TASK_SLOTS] = {};

namespace {

constexpr long kThreadFlags = THR_BOUND | THR_NEW_LWP | THR_JOINABLE; // 0x10003
// How many blocks a task runs at most before the receivers of what they sent are woken.
constexpr unsigned kBlocksPerWake = 64;

size_t high_water_mark_for(WORD16 wSchIndex)
{
    const CN_PlatformProfile& prof = cn_kernel::profile();
    if ((_thisModuleType & 4) != 0) {
        if (wSchIndex > 3) {
            return 0x20000000;
        }
    } else if ((_thisModuleType & 2) != 0 && wSchIndex != 1 && prof.qwModType2HighWater != 0) {
        return prof.qwModType2HighWater;
    }
    return prof.qwHighWaterMark;
}

} // namespace

CNCtrlTask::CNCtrlTask(WORD16 wTaskType)
    : ACE_Task<ACE_MT_SYNCH>(nullptr, new CNTaskQueue()), wSchIndex(wTaskType & 0xFF), wTaskType(wTaskType),
      TimeHandler_(new CNTime_Handler()), wModule_(0), wUnit_(0),
      queue_(static_cast<CNTaskQueue*>(msg_queue()))
{
    const CN_PlatformProfile& prof = cn_kernel::profile();
    if (wSchIndex < 1 || wSchIndex > prof.wMaxSchIndex) {
        return;
    }
    wModule_ = _thisModuleNo;
    wUnit_ = _thisUnit;
    CN_PlatLog("CNCtrlTask construct opened\n");
    // The line names the platform's base mark in every process; the profile and the module
    // type may then give the task another one, which the line does not follow.
    CN_PlatLog("CNCtrlTask set high_water_mark 512M.\n");
    size_t mark = high_water_mark_for(wSchIndex);
    msg_queue()->high_water_mark(mark);
    // Wake a waiting sender as soon as the queue is below the mark again, not only once drained.
    msg_queue()->low_water_mark(mark);

    const T_JobCreatReg* table = cn_kernel::job_table();
    for (WORD16 row = 0; row < CN_MAX_JOB_ROWS && table[row].PEntry != nullptr; ++row) {
        if (table[row].wSchIndex != wSchIndex) {
            continue;
        }
        if (g_JobObj[row] != nullptr) {
            break;
        }
        JID jid = CN_LocalJID(table[row].wJobType);
        CN_Job_Base* job = new (std::nothrow) CN_Job_Base();
        if (job == nullptr || job->init(this, &jid, row) != 0) {
            CN_PlatLog("CNCtrlTask: cannot create job %s\n", table[row].acName);
            delete job;
            continue;
        }
        g_JobObj[row] = job;
    }
}

CNCtrlTask::~CNCtrlTask()
{
    delete TimeHandler_;
    msg_queue(nullptr);
    delete queue_;
}

void CN_SendWakesAtOnce() { CNTaskQueue::release_wakes(); }

CNIntraMsgHandler* CNCtrlTask::get_intramsghandler() { return cn_kernel::intra_handler(); }

int CNCtrlTask::open(void* arg)
{
    CN_PlatLog(" Active Object Ctrl Task opened \n");
    if (cn_kernel::intra_handler() == nullptr) {
        CNIntraMsgHandler* handler = new (std::nothrow) CNIntraMsgHandler();
        if (handler == nullptr) {
            return -1;
        }
        if (handler->Open(CN_IntraBoardPort(_thisModuleNo, _thisUnit)) != 0) {
            delete handler;
            return -1;
        }
        ACE_Reactor* reactor = CN_GetProcessReactor();
        if (reactor == nullptr || reactor->register_handler(handler, ACE_Event_Handler::READ_MASK) == -1) {
            delete handler;
            return -1;
        }
        cn_kernel::set_intra_handler(handler);
    }
    long priority = arg != nullptr ? *static_cast<long*>(arg) : ACE_DEFAULT_THREAD_PRIORITY;
    if (activate(kThreadFlags, 1, 0, priority) == -1) {
        // No scheduling policy is asked for, so the system may refuse a real-time priority.
        if (activate(kThreadFlags, 1, 0, ACE_DEFAULT_THREAD_PRIORITY) == -1) {
            CN_PlatLog("CNCtrlTask: cannot start the thread of task %d\n", wSchIndex);
            return -1;
        }
    }
    return 0;
}

int CNCtrlTask::close(u_long flags) { return 0; }

int CNCtrlTask::PutBlock(ACE_Message_Block* pBlock, bool bWait)
{
    if (pBlock == nullptr) {
        return -1;
    }
    if (bWait) {
        return msg_queue()->enqueue_tail(pBlock) == -1 ? -1 : 0;
    }
    ACE_Time_Value no_wait(ACE_Time_Value::zero);
    return msg_queue()->enqueue_tail(pBlock, &no_wait) == -1 ? -1 : 0;
}

int CNCtrlTask::kill()
{
    ACE_Message_Block* mb = cn_kernel::make_block(1, MB_USER_EXIT, 0);
    if (mb == nullptr) {
        return -1;
    }
    int rc = msg_queue()->enqueue_tail(mb);
    if (rc == -1) {
        mb->release();
        return rc;
    }
    ACE_OS::sleep(ACE_Time_Value(0, 5000));
    return 0;
}

void CNCtrlTask::dump()
{
    CN_PlatLog("\n===\nwSchIndex=%d|ThrNo=%d|wModule_=%d|wUnit_=%d\n===\n", wSchIndex,
               static_cast<int>(thisThrNo[wSchIndex < CN_MAX_TASK_SLOTS ? wSchIndex : 0].load()), wModule_, wUnit_);
    CN_PlatLog("message queue: %zu blocks, %zu bytes, high water mark %zu\n", msg_queue()->message_count(),
               msg_queue()->message_bytes(), msg_queue()->high_water_mark());
}

int CNCtrlTask::svc()
{
    if (wSchIndex >= CN_MAX_TASK_SLOTS) {
        return -1;
    }
    cn_kernel::set_current_task_index(wSchIndex);
    thisThrNo[wSchIndex].store(ACE_Thread::self());
    CN_PlatLog(" Ctrl Task Work seft = %lu, thread = %ld , 0x%x, is running\n",
               static_cast<unsigned long>(ACE_Thread::self()), static_cast<long>(syscall(SYS_gettid)), wTaskType);
    const T_JobCreatReg* table = cn_kernel::job_table();
    for (WORD16 row = 0; row < CN_MAX_JOB_ROWS && table[row].PEntry != nullptr; ++row) {
        if (table[row].wSchIndex == wSchIndex && g_JobObj[row] != nullptr) {
            g_JobObj[row]->SetOwnerThrNo();
            CN_PlatLog("CNCtrlTask::svc wSchIndex=%d  job name=%s\n", wSchIndex, table[row].acName);
        }
    }
    for (;;) {
        ACE_Message_Block* chain = nullptr;
        if (queue_->dequeue_all(chain) == -1) {
            CN_PlatLog(" Ctrl Task Get a message failure\n");
            return -1;
        }
        // While more blocks of the chain wait, the receivers of what the task sends are woken
        // every few blocks, not once per message.
        CNTaskQueue::hold_wakes();
        unsigned run = 0;
        while (chain != nullptr) {
            ACE_Message_Block* mb = take_first(chain);
            if (chain == nullptr) {
                // The last block: what was held goes now and what it sends wakes at once, so
                // a job that stays in its entry holds nobody up.
                CNTaskQueue::release_wakes();
            }
            if (!dispatch(mb)) {
                CNTaskQueue::release_wakes();
                // What came after the exit block stays queued, as it would have without it.
                queue_->give_back(chain);
                return 0;
            }
            if (++run % kBlocksPerWake == 0) {
                CNTaskQueue::send_held_wakes();
            }
        }
        CNTaskQueue::release_wakes();
        // Between chains: what a burst's blocks took on goes back once the load has fallen.
        cn_kernel::CN_BlockAllocator::trim_when_due();
    }
}

size_t CNCtrlTask::RunQueuedHere()
{
    const WORD16 wOwnIndex = cn_kernel::current_task_index();
    cn_kernel::set_current_task_index(wSchIndex);
    size_t ran = 0;
    ACE_Message_Block* chain = nullptr;
    // dequeue_all waits for work, so it is asked only when something is queued. What the jobs
    // send to this task meanwhile waits for the next call: a job that feeds itself cannot hold
    // the caller for ever.
    if (!queue_->is_empty() && queue_->dequeue_all(chain) > 0) {
        while (chain != nullptr) {
            ++ran;
            if (!dispatch(take_first(chain))) {
                // An exit block ends the run as it would end the thread; the rest stays queued.
                queue_->give_back(chain);
                break;
            }
        }
    }
    cn_kernel::set_current_task_index(wOwnIndex);
    return ran;
}

ACE_Message_Block* CNCtrlTask::take_first(ACE_Message_Block*& pChain)
{
    ACE_Message_Block* mb = pChain;
    pChain = mb->next();
    mb->next(nullptr);
    mb->prev(nullptr);
    queue_->done_with(mb);
    return mb;
}

bool CNCtrlTask::dispatch(ACE_Message_Block* pBlock)
{
    switch (pBlock->msg_type()) {
    case MB_USER_EXIT:
        CN_PlatLog(" Ctrl Task get terminating msg!!!!!");
        pBlock->release();
        return false;
    case MB_USER_TIMER:
        dispatch_timer(pBlock);
        return true;
    case MB_USER_JOB_MESSAGE:
        dispatch_job_message(pBlock);
        return true;
    default:
        CN_PlatLog(" CNCtrlTask:Invalid msg!!!!");
        pBlock->release();
        return true;
    }
}

bool CNCtrlTask::forward_to_owner(CN_Job_Base* pJob, ACE_Message_Block* pBlock)
{
    CNCtrlTask* owner = pJob->GetParentTask();
    if (owner == this) {
        return false;
    }
    // A job runs only on its own task's thread, whatever queue the block reached first.
    if (owner == nullptr || owner->PutBlock(pBlock, false) == -1) {
        CN_PlatLog("CNCtrlTask: block for job %s cannot be passed to its task, dropped\n", pJob->GetJobName().c_str());
        pBlock->release();
    }
    return true;
}

void CNCtrlTask::run_job(CN_Job_Base* pJob, WORD32 dwMsgId, void* pBody)
{
    CN_Job_Base::SetPCB(pJob);
    pJob->pJobCall(dwMsgId, pBody, 1);
    CN_Job_Base::SetPCB(nullptr);
}

void CNCtrlTask::dispatch_timer(ACE_Message_Block* pBlock)
{
    if (pBlock->length() < sizeof(T_CNTimerMessage)) {
        CN_PlatLog(" CNCtrlTask:Invalid msg!!!!");
        pBlock->release();
        return;
    }
    T_CNTimerMessage* msg = reinterpret_cast<T_CNTimerMessage*>(pBlock->rd_ptr());
    CN_Job_Base* job = cn_kernel::lookup_job(msg->tHead.DestJID, true);
    if (job == nullptr) {
        pBlock->release();
        return;
    }
    if (forward_to_owner(job, pBlock)) {
        return;
    }
    job->SetSenderJID(&msg->tHead.SrcJID);
    job->SetCurMsgID(msg->tHead.dwMsgID);
    job->SetCurMsgLen(sizeof(WORD32));
    job->SetCurMsgType(CN_MSG_TYPE_TIMER);
    job->SetParaOfCurTimer(msg->tTimer.dwPara);
    job->GetCurTimerID(msg->tTimer.dwTimerID);
    run_job(job, msg->tHead.dwMsgID, &msg->tTimer.dwPara);
    pBlock->release();
}

void CNCtrlTask::dispatch_job_message(ACE_Message_Block* pBlock)
{
    if (pBlock->length() < sizeof(T_CNMessageHead)) {
        CN_PlatLog(" CNCtrlTask:Invalid msg!!!!");
        pBlock->release();
        return;
    }
    T_CNMessageHead* head = reinterpret_cast<T_CNMessageHead*>(pBlock->rd_ptr());
    if (pBlock->length() - sizeof(T_CNMessageHead) < head->dwMsgLen) {
        CN_PlatLog(" CNCtrlTask:Invalid msg!!!!");
        pBlock->release();
        return;
    }
    bool diverted = head->DestJID.ucRouteType == CN_ROUTE_TYPE_BACKCOMM && cn_kernel::profile().bDivertRouteType5;
    CN_Job_Base* job = cn_kernel::delivery_job(*head, diverted);
    if (job == nullptr) {
        if (!diverted) {
            CN_PlatLog(" CNCtrlTask:not local msg!!!!");
        }
        pBlock->release();
        return;
    }
    if (forward_to_owner(job, pBlock)) {
        return;
    }
    job->SetSenderJID(&head->SrcJID);
    if (diverted) {
        job->SetReceiverJID(&head->DestJID);
    }
    job->SetCurMsgID(head->dwMsgID);
    job->SetCurMsgLen(head->dwMsgLen);
    job->SetCurMsgType(CN_MSG_TYPE_JOB);
    run_job(job, head->dwMsgID, pBlock->rd_ptr() + sizeof(T_CNMessageHead));
    pBlock->release();
}

int CNCommTask::open(void* entry)
{
    if (entry == nullptr) {
        return -1;
    }
    pEntry_ = reinterpret_cast<CommEntry>(entry);
    CN_PlatLog(" Active Object CNCommTask Task opened =%d \n", 21);
    return activate(kThreadFlags, 1);
}

int CNCommTask::svc()
{
    if (pEntry_ == nullptr) {
        return -1;
    }
    pEntry_(nullptr);
    return 0;
}
