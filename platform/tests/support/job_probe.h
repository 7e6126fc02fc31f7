// job_probe.h - what the platform and engine tests share to watch jobs from the inside: a probe
// entry that records each message a probe job receives, the recorder it writes to (with an
// optional reaction per job type), a way to run code inside a job (on its own task thread, as
// its current job), and a network namespace of the process's own.
//
// A job table that wants probes names probe::entry as the rows' entry; the job of type
// kSenderType (the control job, row 0 of every table) must exist, as run_on_job sends from it.
//
// Threads: the recorder is locked; run_on_job and post_to_job may be called from any thread
// that is not the target job's own; enter_private_netns from main before any thread starts.
#pragma once

#include <chrono>
#include <cstdio>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <pthread.h>

#include "VorlenComm.h"

namespace probe {

// Message id the probe treats as "run the function whose holder the body points at".
constexpr WORD32 kRunFnMsg = 0xFEED0001;
// The job in-job work is sent from.
constexpr WORD16 kSenderType = 0x0000;

// One entry call as the probe saw it, with the accessors read inside the call.
struct Call {
    WORD16 jobType = 0;
    WORD16 state = 0;
    WORD32 msgId = 0;
    WORD16 len = 0;
    BYTE type = 0;
    JID sender{};
    JID receiver{};
    JID self{};
    pthread_t thread{};
    std::vector<BYTE> body;
    WORD32 timerPara = 0;
    XOS_TIMER_ID timerId = 0;
    std::chrono::steady_clock::time_point at;
};

// What a probe job does with a message (after it is recorded); runs on the job's thread.
using Reaction = std::function<void(const Call&)>;

class Recorder {
public:
    static Recorder& instance();
    void record(const Call& c);
    // Forgets the calls and the reactions.
    void clear();
    void set_reaction(WORD16 jobType, Reaction r);
    Reaction reaction(WORD16 jobType);
    std::vector<Call> calls(WORD16 jobType);
    std::vector<Call> calls(WORD16 jobType, WORD32 msgId);
    // Waits until at least n calls of (jobType, msgId) are recorded; false on time-out.
    bool wait_for(WORD16 jobType, WORD32 msgId, size_t n, std::chrono::milliseconds timeout);
    bool wait_for_any(WORD16 jobType, size_t n, std::chrono::milliseconds timeout);

private:
    std::mutex mutex_;
    std::condition_variable cond_;
    std::vector<Call> calls_;
    std::vector<std::pair<WORD16, Reaction>> reactions_;
};

// The probe jobs' entry: runs queued work, and records every other message, then calls the
// job type's reaction if one is set.
void entry(WORD16 wState, WORD32 dwMsgId, void* pMsgBody, void* pPData, BYTE ucFlag);

// A function queued for a job, and whether it has run.
struct Work {
    std::function<void()> fn;
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
};

// Safety net of the waits below that take no time-out of their own: long enough for any job
// to catch up with its queue under a sanitizer on a busy machine; reached only when one never does.
constexpr std::chrono::milliseconds kCatchUpBound{60000};

// Waits while the queue of job jobType's task is at its mark (a job still catching up with
// earlier traffic); false when it is still full after the time-out.
bool wait_for_room(WORD16 jobType, std::chrono::milliseconds timeout = kCatchUpBound);

// Queues fn for job jobType, first waiting while its queue is full, not for fn to run; nullptr
// when the queue stayed full or the message could not be sent.
std::shared_ptr<Work> queue_work(WORD16 jobType, std::function<void()> fn,
                                 std::chrono::milliseconds timeout = kCatchUpBound);
// Waits until the work has run; false on time-out.
bool wait_work(Work& work, std::chrono::milliseconds timeout);

// Runs fn inside job jobType and waits for it; false when it could not be queued or did not
// finish within the time-out (each wait, for room and for the run, has the whole time-out).
bool run_on_job(WORD16 jobType, const std::function<void()>& fn, std::chrono::milliseconds timeout);

// Queues *pfn for job jobType as queue_work does, not waiting for it to run; the caller keeps
// *pfn alive until it has run.
bool post_to_job(WORD16 jobType, std::function<void()>* pfn);

JID local_jid(WORD16 jobType);

// One row of a job table: one instance, no stack size of its own.
T_JobCreatReg job_row(WORD16 type, WORD16 pri, WORD16 task, const std::string& name, PTFUNCJOBENTRY entry,
                      WORD32 data_size, WORD32 flags);

// Waits until task threads 1..taskCount have recorded themselves and every job its owner
// thread; false on time-out.
bool wait_tasks_ready(WORD16 taskCount, std::chrono::milliseconds timeout);

// Outside a network namespace of our own, moves the profile's module number so that its
// intra-board port (30000 + module * 10) lies in a high range no real program uses.
void keep_off_real_ports(CN_PlatformProfile& prof);

// Brings the platform up on `prof` as a program would, without daemonising: the platform log
// into `log`, the control tasks, the reactor on a thread of its own; then waits until every
// task is ready. false when a step fails. From the test thread.
bool start_platform(const CN_PlatformProfile& prof, FILE* log);

// Moves the process into a network namespace of its own with loopback up, so fixed ports can be
// used. false when not permitted (tests needing fixed ports then skip).
bool enter_private_netns();
bool in_private_netns();

} // namespace probe
