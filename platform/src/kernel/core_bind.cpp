// core_bind.cpp - optional thread-to-core binding read from "./corebind.cfg" (the location
// engine carries it but does not call it). Start-up thread for the load; any thread may bind.
#include "kernel_internal.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <pthread.h>
#include <sched.h>

int g_SMP_CoreBindCfg[CN_MAX_TASK_SLOTS] = {};
int g_UP_CoreBindCfg[CN_MAX_TASK_SLOTS] = {};

namespace {
constexpr unsigned kMaxCore = 1024;
const char kKey[] = "thread2core=";

// The decimal number at the end of a "thread2core=" line, or -1.
int trailing_number(const char* line)
{
    size_t len = strcspn(line, "\r\n");
    size_t end = len;
    while (end > 0 && (line[end - 1] == ' ' || line[end - 1] == '\t')) {
        --end;
    }
    size_t begin = end;
    while (begin > 0 && line[begin - 1] >= '0' && line[begin - 1] <= '9') {
        --begin;
    }
    if (begin == end) {
        return -1;
    }
    return std::atoi(line + begin);
}
} // namespace

int LoadCoreBindCfg(const char* pcFileName)
{
    FILE* fp = fopen(pcFileName, "r");
    if (fp == nullptr) {
        return -1;
    }
    enum { kNone, kSmp, kUp } section = kNone;
    int smp = 0;
    int up = 0;
    char line[256];
    while (fgets(line, sizeof line, fp) != nullptr) {
        if (strncmp(line, "[SMPEND]", 8) == 0 || strncmp(line, "[UPEND]", 7) == 0) {
            section = kNone;
        } else if (strncmp(line, "[SMP]", 5) == 0) {
            section = kSmp;
        } else if (strncmp(line, "[UP]", 4) == 0) {
            section = kUp;
        } else if (section != kNone && strncmp(line, kKey, sizeof kKey - 1) == 0) {
            int value = trailing_number(line);
            if (value < 0) {
                continue;
            }
            if (section == kSmp && smp < CN_MAX_TASK_SLOTS) {
                g_SMP_CoreBindCfg[smp] = value;
                CN_PlatLog("g_SMP_CoreBindCfg[%d] = %d\n", smp, value);
                ++smp;
            } else if (section == kUp && up < CN_MAX_TASK_SLOTS) {
                g_UP_CoreBindCfg[up] = value;
                CN_PlatLog("g_UP_CoreBindCfg[%d] = %d\n", up, value);
                ++up;
            }
        }
    }
    fclose(fp);
    return smp + up;
}

int bindthread2core(ACE_thread_t thread, unsigned int core)
{
    if (core >= kMaxCore) {
        return -1;
    }
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(core, &set);
    int rc = pthread_setaffinity_np(thread, sizeof set, &set);
    if (rc != 0) {
        CN_PlatLog("Error while binding to core %u: errno=%i\n", core, rc);
        return -1;
    }
    cpu_set_t got;
    CPU_ZERO(&got);
    if (pthread_getaffinity_np(thread, sizeof got, &got) != 0) {
        CN_PlatLog("get thread affinity failed\n");
        return -1;
    }
    CN_PlatLog("cpu index =%d, thread %d is running in processor %d\n", static_cast<int>(core),
               static_cast<int>(thread), sched_getcpu());
    return 0;
}

int BindCore(WORD16 wSchIndex)
{
    if (wSchIndex >= CN_MAX_TASK_SLOTS) {
        return -1;
    }
    return bindthread2core(ACE_Thread::self(), static_cast<unsigned>(g_SMP_CoreBindCfg[wSchIndex]));
}
