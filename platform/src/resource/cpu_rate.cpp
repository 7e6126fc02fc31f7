// cpu_rate.cpp - the processor load from the first line of /proc/stat.
#include <cstdio>
#include <mutex>

#include "resource/XOS_CpuRate.h"

namespace {

constexpr const char kProcStat[] = "/proc/stat";

// The previous reading of OSS_GetCpuUseRate, all zero until the first call.
T_tCpuOccupy g_tCpuOccupy = {};
std::mutex g_cpu_sample_lock;

// Delta of a counter that only grows, across at most one wrap of its 32 bits.
unsigned long long counter_delta(WORD32 before, WORD32 after) { return static_cast<WORD32>(after - before); }

} // namespace

int cpu_occupy_read(const char* path, T_tCpuOccupy* ptcpust) {
    if (path == nullptr || ptcpust == nullptr) {
        return -1;
    }
    FILE* file = std::fopen(path, "r");
    if (file == nullptr) {
        return -1;
    }
    char line[256];
    const bool read = std::fgets(line, sizeof line, file) != nullptr;
    std::fclose(file);
    if (!read) {
        return -1;
    }
    // The kernel's counters are 64-bit: read them whole and keep the low 32 bits, which is what
    // the record holds (the rate works on deltas, which survive one wrap).
    T_tCpuOccupy sample = {};
    unsigned long long user = 0, nice = 0, system = 0, idle = 0;
    if (std::sscanf(line, "%19s %llu %llu %llu %llu", sample.name, &user, &nice, &system, &idle) != 5) {
        return -1;
    }
    sample.user = static_cast<WORD32>(user);
    sample.nice = static_cast<WORD32>(nice);
    sample.system = static_cast<WORD32>(system);
    sample.idle = static_cast<WORD32>(idle);
    *ptcpust = sample;
    return 0;
}

int _Calc_CpuRate(T_tCpuOccupy* o, T_tCpuOccupy* n) {
    if (o == nullptr || n == nullptr) {
        return 0;
    }
    // 64-bit: in 32 bits, busy x 100 overflows after hours of uptime.
    const unsigned long long busy = counter_delta(o->system, n->system) + counter_delta(o->user, n->user);
    const unsigned long long total = busy + counter_delta(o->nice, n->nice) + counter_delta(o->idle, n->idle);
    if (total == 0) {
        return 0;
    }
    const unsigned long long rate = busy * 100ULL / total;
    return rate > 100 ? 100 : static_cast<int>(rate);
}

BYTE cpu_rate_update(const char* path, T_tCpuOccupy* previous) {
    T_tCpuOccupy now;
    if (previous == nullptr || cpu_occupy_read(path, &now) != 0) {
        return 0;
    }
    const int rate = _Calc_CpuRate(previous, &now);
    *previous = now;
    return static_cast<BYTE>(rate);
}

int _get_cpuoccupy(T_tCpuOccupy* ptcpust) { return cpu_occupy_read(kProcStat, ptcpust); }

BYTE OSS_GetCpuUseRate() {
    std::lock_guard<std::mutex> lock(g_cpu_sample_lock);
    return cpu_rate_update(kProcStat, &g_tCpuOccupy);
}
