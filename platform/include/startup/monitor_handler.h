// monitor_handler.h - the process's signal handling (SIGINT, SIGTERM and SIGABRT end the reactor
// loop with 0, 0 and 2) and the dead-loop check that the programs carry but do not schedule.
//
// handle_signal runs on the main thread in signal context: it only writes a fixed line to
// standard error (the diagnostic log, "/dev/null" in a daemon) and sets the exit atomics.
#pragma once

#include <ace/Event_Handler.h>

// Exit code for a handled signal, or -1 for a signal that is ignored.
int CN_ExitCodeForSignal(int signum);

class CNMonitor_Handler : public ACE_Event_Handler {
public:
    int handle_signal(int signum, siginfo_t* info, ucontext_t* ctx) override;
    // Dead-loop check: act is a counter of job-table rows (advanced per call, 128 wraps to 0).
    int handle_timeout(const ACE_Time_Value& now, const void* act) override;
};
