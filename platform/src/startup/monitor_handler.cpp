// Signals end the reactor loop; the line for each goes to the diagnostic log (standard error).
#include "startup/monitor_handler.h"

#include <unistd.h>

#include <csignal>
#include <cstring>

#include <cstdlib>
#include <ctime>

#include "CNCtrlTask.h"
#include "CNPlatLog.h"
#include "CNPlatform.h"
#include "CN_Job_Base.h"

int CN_ExitCodeForSignal(int signum) {
    switch (signum) {
    case SIGINT: return 0;
    case SIGTERM: return 0;
    case SIGABRT: return 2;
    case SIGSEGV: return 3;
    case SIGILL: return 4;
    default: return -1;
    }
}

namespace {

const char* signal_line(int signum) {
    switch (signum) {
    case SIGINT: return "SIGINT!\n";
    case SIGTERM: return "SIGTERM!\n";
    case SIGABRT: return "SIGABRT!\n";
    case SIGSEGV: return "SIGSEGV!\n";
    case SIGILL: return "SIGILL!\n";
    default: return nullptr;
    }
}

}  // namespace

int CNMonitor_Handler::handle_signal(int signum, siginfo_t*, ucontext_t*) {
    int code = CN_ExitCodeForSignal(signum);
    if (code < 0) return 0;
    const char* line = signal_line(signum);
    ssize_t ignored = write(STDERR_FILENO, line, std::strlen(line));
    (void)ignored;
    g_nExitCode.store(code);
    g_nCanExit.store(1);
    return 0;
}

bool CN_JobInDeadLoop(CN_Job_Base* job) {
    if (job == nullptr) return false;
    const clock_t now = job->OwnerProcessorTicks();
    const clock_t entered = job->EntryTicks(now);
    return entered != static_cast<clock_t>(-1) && now - entered > CN_DEAD_LOOP_TICKS;
}

int CNMonitor_Handler::handle_timeout(const ACE_Time_Value&, const void* act) {
    // The counter belongs to whoever schedules the check; one row is looked at per call.
    int* row = static_cast<int*>(const_cast<void*>(act));
    if (row == nullptr) return 0;
    if (*row < 0 || *row >= CN_MAX_JOB_ROWS) *row = 0;
    CN_Job_Base* job = CNCtrlTask::g_JobObj[*row];
    if (CN_JobInDeadLoop(job)) {
        CN_PlatLog("\n===\nDead loop detected!\n");
        job->dump();
        std::abort();
    }
    *row = (*row + 1) % CN_MAX_JOB_ROWS;
    return 0;
}
