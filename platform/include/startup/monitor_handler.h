// monitor_handler.h - the process's signal handling (SIGINT, SIGTERM and SIGABRT end the reactor
// loop with 0, 0 and 2) and the dead-loop check that the programs carry but do not schedule.
//
// handle_signal runs on the main thread in signal context: it only writes a fixed line to
// standard error (the diagnostic log, "/dev/null" in a daemon) and sets the exit atomics.
#pragma once

#include <ace/Event_Handler.h>

// Exit code for a handled signal, or -1 for a signal that is ignored.
int CN_ExitCodeForSignal(int signum);

class CN_Job_Base;

// Processor-clock ticks (clock() units) a job may spend inside one entry call.
constexpr long CN_DEAD_LOOP_TICKS = 30000;

// True when the job is inside its entry and its thread has used more than CN_DEAD_LOOP_TICKS
// of processor time since the check first found that entry running (so a dead loop is found
// on the second look). For the one thread that runs the check.
bool CN_JobInDeadLoop(CN_Job_Base* job);

class CNMonitor_Handler : public ACE_Event_Handler {
public:
    int handle_signal(int signum, siginfo_t* info, ucontext_t* ctx) override;
    // Dead-loop check: act is a counter of job-table rows (advanced per call, 128 wraps to 0).
    int handle_timeout(const ACE_Time_Value& now, const void* act) override;
};
