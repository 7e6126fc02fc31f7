// kernel_test_support.h - a small job table of probe jobs (the probe entry, its recorder, in-job
// execution and the private network namespace come from the shared job probe), the platform
// brought up on it, a capture of the platform log, and loopback UDP helpers.
//
// Threads: start_platform, stop_platform and log_text from the test thread; the rest as the job
// probe says.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include <ace/INET_Addr.h>

#include "VorlenComm.h"
#include "job_probe.h"

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

const T_JobCreatReg* probe_table();
// A maintenance-program-like table: T_SCS, notexist and T_A on task 1, BackComm on task 2.
const T_JobCreatReg* probe_table_omp();

// The probe jobs, their recorder and in-job execution are the shared job probe's.
using probe::Call;
using probe::local_jid;
using probe::post_to_job;
using probe::Reaction;
using probe::Recorder;

// Runs fn inside job jobType (current job set, on its task thread) once its queue has room, and
// waits for it. false when it could not be queued or did not finish within the time-out.
inline bool run_on_job(WORD16 jobType, const std::function<void()>& fn,
                       std::chrono::milliseconds timeout = probe::kCatchUpBound)
{
    return probe::run_on_job(jobType, fn, timeout);
}

CN_Job_Base* job_of(WORD16 jobType);

// Keeps a job inside one entry call from hold() until release(), so that its queue only fills.
// From the test thread (release also from any other); release() returns once the job has left
// the call, so the hold may then go out of scope.
class JobHold {
public:
    JobHold() = default;
    JobHold(const JobHold&) = delete;
    JobHold& operator=(const JobHold&) = delete;
    ~JobHold() { release(); }
    // Queues the holding call for the job and waits until the job is inside it; false when it
    // could not be queued or the job did not reach it.
    bool hold(WORD16 jobType);
    void release();

private:
    std::function<void()> call_;
    std::mutex m_;
    std::condition_variable cv_;
    bool held_ = false;
    bool released_ = false;
    bool left_ = false;
};

// Moves the process into a network namespace of its own with loopback up. Call from main
// before any thread starts. false when not permitted (tests needing fixed ports then skip).
using probe::enter_private_netns;
using probe::in_private_netns;

// Brings the platform up with the probe table (profile adjusted by `adjust`), the reactor on a
// thread of its own, and the platform log in a temporary file.
bool start_platform(const std::function<void(CN_PlatformProfile&)>& adjust = {});
void stop_platform();

// A soft clock reading of the given local date and time.
T_SysSoftClock clock_of(int y, int mo, int d, int h = 12, int mi = 0, int s = 0, int ms = 0);

// The platform log written so far.
std::string log_text();

// A UDP socket on 127.0.0.1:port for receiving what the platform sends. -1 on failure.
int bind_udp(WORD16 port);
// Receives one datagram within the time-out; empty on time-out.
std::vector<BYTE> recv_datagram(int fd, std::chrono::milliseconds timeout);
// One datagram to 127.0.0.1:port as the partner program sends it: from 127.0.0.1 at the running
// profile's partner port.
bool send_datagram(const void* data, size_t len, WORD16 port);
// The partner's address, for datagrams handed to CNIntraMsgHandler::Deliver directly.
ACE_INET_Addr partner_addr();
// The same from fromIp:fromPort (0: an ephemeral port).
bool send_datagram_from(const void* data, size_t len, WORD16 port, const char* fromIp, WORD16 fromPort);

} // namespace kt
