// The cost of an engine print (a selector's per-arrival line, with a float and a 64-bit id) as
// the print layer routes it: written to the trace log at level 3, dropped at level 2 (the gate
// refuses it before anything is formatted), and, for comparison, formatted in full and then
// dropped by the trace log as it was before the gate.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>

#include "temp_trace_log.h"
#include "trace/CNTrace.h"
#include "zub_print.h"
#include "zub_print_layer.h"

namespace {

// Sets the print flag with its banner sent to /dev/null; thread 0 only, before the timed loop.
void set_flag(const benchmark::State& state, BYTE flag)
{
    if (state.thread_index() != 0) {
        return;
    }
    std::fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    const int null_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
    dup2(null_fd, STDOUT_FILENO);
    qeSetPrnFlag(flag);
    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(null_fd);
    close(saved);
}

void print_arrival(int i)
{
    ZUB_PRINT(ZUB_PRINT_MSG, "recv:%16" PRIx64 " %d %5d-%d %4.15e %d", static_cast<uint64_t>(0x0822614400001234ull),
              i & 0xFFFF, 7, 3, 1.2345678901234567 + i, 745);
}

void BM_PrintWrittenAtLevel3(benchmark::State& state)
{
    open_temp_trace_log_once();
    set_flag(state, 3);
    int i = 0;
    for (auto _ : state) {
        print_arrival(i++);
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_PrintDroppedAtLevel2(benchmark::State& state)
{
    open_temp_trace_log_once();
    set_flag(state, 2);
    int i = 0;
    for (auto _ : state) {
        print_arrival(i++);
    }
    state.SetItemsProcessed(state.iterations());
}

// What a dropped print cost without the gate: formatted, prefixed, then refused by the log.
void format_then_drop(BYTE level, const char*, int, const char* text)
{
    char line[2048];
    std::snprintf(line, sizeof line, "[Sh] [print_bench.cpp 52 line]. %s", text);
    qePrintStr(level, line);
}

void BM_PrintFormattedThenDroppedAtLevel2(benchmark::State& state)
{
    open_temp_trace_log_once();
    set_flag(state, 2);
    zub_print_set_sink(format_then_drop);
    int i = 0;
    for (auto _ : state) {
        print_arrival(i++);
    }
    set_flag(state, 2);
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_PrintWrittenAtLevel3)->Threads(1)->Threads(8)->UseRealTime();
BENCHMARK(BM_PrintDroppedAtLevel2)->Threads(1)->Threads(8)->UseRealTime();
BENCHMARK(BM_PrintFormattedThenDroppedAtLevel2)->Threads(1)->UseRealTime();

}  // namespace
