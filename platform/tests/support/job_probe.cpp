// job_probe.cpp - the probe entry, its recorder, in-job execution and the private namespace.
#include "job_probe.h"

#include <cstdio>
#include <cstring>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace probe {

namespace {

bool g_netns = false;

// The body of a kRunFnMsg is the address of a heap holder that keeps the work alive until the
// job has taken it; the sender frees the holder only when the send fails.
void run_queued_work(void* pMsgBody)
{
    std::shared_ptr<Work>* holder = nullptr;
    std::memcpy(&holder, pMsgBody, sizeof holder);
    std::shared_ptr<Work> work = *holder;
    delete holder;
    work->fn();
    std::lock_guard<std::mutex> lock(work->m);
    work->done = true;
    work->cv.notify_all();
}

Call read_call(WORD16 wState, WORD32 dwMsgId, const void* pMsgBody)
{
    Call c;
    c.jobType = static_cast<WORD16>(XOS_GetSelfJNO() >> 16);
    c.state = wState;
    c.msgId = dwMsgId;
    XOS_GetMsgDataLen(&c.len);
    c.type = XOS_GetMsgType();
    XOS_Sender(&c.sender);
    XOS_Receiver(&c.receiver);
    XOS_GetSelfJID(&c.self);
    c.thread = pthread_self();
    const BYTE* body = static_cast<const BYTE*>(pMsgBody);
    if (body != nullptr) {
        c.body.assign(body, body + c.len);
    }
    c.timerPara = XOS_GetParaOfCurTimer();
    c.timerId = XOS_GetTidOfCurTimer();
    c.at = std::chrono::steady_clock::now();
    return c;
}

size_t count_calls(const std::vector<Call>& calls, WORD16 jobType, const WORD32* msgId)
{
    size_t count = 0;
    for (const Call& c : calls) {
        count += (c.jobType == jobType && (msgId == nullptr || c.msgId == *msgId)) ? 1 : 0;
    }
    return count;
}

// The queue of the task that runs job jobType; nullptr for a job the platform does not have.
CNTaskQueue* queue_of(WORD16 jobType)
{
    CN_Job_Base* job = CN_Job_Base::GetJobByType(jobType);
    CNCtrlTask* task = job != nullptr ? job->GetParentTask() : nullptr;
    return task != nullptr ? task->task_queue() : nullptr;
}

// The queue's own test for a put: the bytes queued and those taken but not started, against the mark.
bool has_room(CNTaskQueue& q)
{
    return q.message_bytes() + q.taken_bytes() < q.high_water_mark();
}

} // namespace

bool wait_for_room(WORD16 jobType, std::chrono::milliseconds timeout)
{
    CNTaskQueue* q = queue_of(jobType);
    if (q == nullptr) {
        return true; // the send itself says what becomes of it
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!has_room(*q)) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

Recorder& Recorder::instance()
{
    static Recorder r;
    return r;
}

void Recorder::record(const Call& c)
{
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back(c);
    cond_.notify_all();
}

void Recorder::clear()
{
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.clear();
    reactions_.clear();
}

void Recorder::set_reaction(WORD16 jobType, Reaction r)
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& entry : reactions_) {
        if (entry.first == jobType) {
            entry.second = std::move(r);
            return;
        }
    }
    reactions_.emplace_back(jobType, std::move(r));
}

Reaction Recorder::reaction(WORD16 jobType)
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& entry : reactions_) {
        if (entry.first == jobType) {
            return entry.second;
        }
    }
    return {};
}

std::vector<Call> Recorder::calls(WORD16 jobType)
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<Call> out;
    for (const Call& c : calls_) {
        if (c.jobType == jobType) {
            out.push_back(c);
        }
    }
    return out;
}

std::vector<Call> Recorder::calls(WORD16 jobType, WORD32 msgId)
{
    std::vector<Call> out;
    for (const Call& c : calls(jobType)) {
        if (c.msgId == msgId) {
            out.push_back(c);
        }
    }
    return out;
}

bool Recorder::wait_for(WORD16 jobType, WORD32 msgId, size_t n, std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(mutex_);
    return cond_.wait_for(lock, timeout, [&] { return count_calls(calls_, jobType, &msgId) >= n; });
}

bool Recorder::wait_for_any(WORD16 jobType, size_t n, std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(mutex_);
    return cond_.wait_for(lock, timeout, [&] { return count_calls(calls_, jobType, nullptr) >= n; });
}

void entry(WORD16 wState, WORD32 dwMsgId, void* pMsgBody, void* /*pPData*/, BYTE /*ucFlag*/)
{
    if (dwMsgId == kRunFnMsg && XOS_GetMsgType() == CN_MSG_TYPE_JOB) {
        run_queued_work(pMsgBody);
        return;
    }
    const Call c = read_call(wState, dwMsgId, pMsgBody);
    Recorder::instance().record(c);
    if (Reaction r = Recorder::instance().reaction(c.jobType)) {
        r(c);
    }
}

std::shared_ptr<Work> queue_work(WORD16 jobType, std::function<void()> fn, std::chrono::milliseconds timeout)
{
    auto work = std::make_shared<Work>();
    work->fn = std::move(fn);
    auto* holder = new std::shared_ptr<Work>(work);
    const JID sender = local_jid(kSenderType);
    const JID dest = local_jid(jobType);
    // The explicit-sender send drops a block that meets a full queue; a test wants its work run
    // once the job has caught up with what came before, as a job's own waiting send would.
    if (!wait_for_room(jobType, timeout) ||
        XOS_SendAsynMsgNJ(kRunFnMsg, reinterpret_cast<BYTE*>(&holder), sizeof holder, 0, 0, &sender, &dest) != 0) {
        delete holder;
        return nullptr;
    }
    return work;
}

bool wait_work(Work& work, std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(work.m);
    return work.cv.wait_for(lock, timeout, [&] { return work.done; });
}

bool run_on_job(WORD16 jobType, const std::function<void()>& fn, std::chrono::milliseconds timeout)
{
    std::shared_ptr<Work> work = queue_work(jobType, fn, timeout);
    return work != nullptr && wait_work(*work, timeout);
}

bool post_to_job(WORD16 jobType, std::function<void()>* pfn)
{
    return queue_work(jobType, [pfn] { (*pfn)(); }) != nullptr;
}

JID local_jid(WORD16 jobType) { return CN_LocalJID(jobType); }

T_JobCreatReg job_row(WORD16 type, WORD16 pri, WORD16 task, const std::string& name, PTFUNCJOBENTRY entry,
                      WORD32 data_size, WORD32 flags)
{
    T_JobCreatReg r{};
    r.wJobType = type;
    r.wPri = pri;
    r.wSchIndex = task;
    r.wInstance = 1;
    std::snprintf(r.acName, sizeof r.acName, "%s", name.c_str());
    r.PEntry = entry;
    r.StckSize = 0;
    r.DataSize = data_size;
    r.dwFlags = flags;
    return r;
}

bool wait_tasks_ready(WORD16 taskCount, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        bool all = true;
        for (WORD16 i = 1; i <= taskCount; ++i) {
            all = all && CNCtrlTask::thisThrNo[i].load() != pthread_t{};
        }
        for (CN_Job_Base* job : CNCtrlTask::g_JobObj) {
            all = all && (job == nullptr || job->IsOwnerThrNoSet());
        }
        if (all) {
            return true;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void keep_off_real_ports(CN_PlatformProfile& prof)
{
    if (!g_netns) {
        prof.wModule = static_cast<WORD16>(1000 + getpid() % 276);
    }
}

bool start_platform(const CN_PlatformProfile& prof, FILE* log)
{
    if (CN_PlatformInit(&prof) != 0) {
        return false;
    }
    CN_SetPlatLogFile(log);
    CN_StampPowerOnTime();
    if (CN_StartControlTasks() != CN_START_OK || CN_StartReactorThread() != 0) {
        return false;
    }
    return wait_tasks_ready(prof.wTaskCount, std::chrono::seconds(10));
}

bool enter_private_netns()
{
    if (unshare(CLONE_NEWNET) != 0) {
        return false;
    }
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) {
        return false;
    }
    ifreq ifr{};
    std::strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
    bool ok = ioctl(fd, SIOCGIFFLAGS, &ifr) == 0;
    ifr.ifr_flags = static_cast<short>(ifr.ifr_flags | IFF_UP | IFF_RUNNING);
    ok = ok && ioctl(fd, SIOCSIFFLAGS, &ifr) == 0;
    close(fd);
    g_netns = ok;
    return ok;
}

bool in_private_netns() { return g_netns; }

} // namespace probe
