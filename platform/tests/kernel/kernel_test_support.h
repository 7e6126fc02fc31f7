// kernel_test_support.h - a small job table of probe jobs, a recorder of what each job saw, a
// way to run code inside a job (on its own task thread, as its current job), a private network
// namespace so the fixed intra-board ports can be used, and a capture of the platform log.
//
// Threads: the recorder is locked; run_on_job may be called from any non-task thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include <pthread.h>

#include "VorlenComm.h"

namespace kt {

// Job types of the probe table (rows 0..7, END at row 8).
constexpr WORD16 kTypeScs = 0x0000;   // row 0, task 1
constexpr WORD16 kTypeNotExist = 0x0001; // row 1, task 1 (notexist)
constexpr WORD16 kTypeA = 0x0100;     // row 2, task 2
constexpr WORD16 kTypeB = 0x0101;     // row 3, task 3
constexpr WORD16 kTypeB2 = 0x0102;    // row 4, task 3 (second job on task 3)
constexpr WORD16 kTypeC = 0x0103;     // row 5, task 4
constexpr WORD16 kTypeD = 0x0104;     // row 6, task 5
constexpr WORD16 kTypeBackComm = CN_BACKCOMM_JOB_TYPE; // row 7, task 6
constexpr WORD16 kTaskCount = 28;

// Message id the probe treats as "run the std::function whose address is the body".
constexpr WORD32 kRunFnMsg = 0xFEED0001;

const T_JobCreatReg* probe_table();
// A maintenance-program-like table: T_SCS, notexist and T_A on task 1, BackComm on task 2.
const T_JobCreatReg* probe_table_omp();

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

// Runs fn inside job jobType (current job set, on its task thread) and waits for it.
// false when it could not be queued or did not finish within the time-out.
bool run_on_job(WORD16 jobType, const std::function<void()>& fn,
                std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Queues fn for job jobType without waiting; the caller keeps *pfn alive until it has run.
bool post_to_job(WORD16 jobType, std::function<void()>* pfn);

JID local_jid(WORD16 jobType);
CN_Job_Base* job_of(WORD16 jobType);

// Moves the process into a network namespace of its own with loopback up. Call from main
// before any thread starts. false when not permitted (tests needing fixed ports then skip).
bool enter_private_netns();
bool in_private_netns();

// Brings the platform up with the probe table (profile adjusted by `adjust`), the reactor on a
// thread of its own, and the platform log in a temporary file.
bool start_platform(const std::function<void(CN_PlatformProfile&)>& adjust = {});
void stop_platform();

// The platform log written so far.
std::string log_text();

// A UDP socket on 127.0.0.1:port for receiving what the platform sends. -1 on failure.
int bind_udp(WORD16 port);
// Receives one datagram within the time-out; empty on time-out.
std::vector<BYTE> recv_datagram(int fd, std::chrono::milliseconds timeout);
bool send_datagram(const void* data, size_t len, WORD16 port);

} // namespace kt
