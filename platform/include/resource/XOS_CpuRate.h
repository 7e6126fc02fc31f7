// XOS_CpuRate.h - the processor load from the first line of /proc/stat.
//
// OSS_GetCpuUseRate keeps one process-wide previous sample under a lock of its own, so it may be
// called from any thread (each caller gets the load since whichever call came before it).
// _get_cpuoccupy and _Calc_CpuRate keep no state and may be called from any thread.
#pragma once

#include "CNXosTypes.h"

typedef struct {
    char name[20];
    WORD32 user;
    WORD32 nice;
    WORD32 system;
    WORD32 idle;
} T_tCpuOccupy;

// Busy percentage 0..100 since the previous call (the first call: since the system started).
// 0 when /proc/stat cannot be read or parsed; the previous sample is then kept.
BYTE OSS_GetCpuUseRate();
// Reads one sample from /proc/stat: 0, or -1 when it cannot be read (the record is left as it was).
int _get_cpuoccupy(T_tCpuOccupy* ptcpust);
// Busy percentage between two samples: (system + user) deltas x 100 / total delta, at most 100;
// 0 when the totals are equal or a pointer is null. A counter that wrapped once between the two
// samples still gives its true delta; the products are 64-bit.
int _Calc_CpuRate(T_tCpuOccupy* o, T_tCpuOccupy* n);

// The same rules over a given file and sample record (the platform passes /proc/stat and its own
// sample), so the load can be worked out from a recorded stat line. Not locked.
int cpu_occupy_read(const char* path, T_tCpuOccupy* ptcpust);
BYTE cpu_rate_update(const char* path, T_tCpuOccupy* previous);
