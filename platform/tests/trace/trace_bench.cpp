// Trace lines per second through CN_PrintToLog (the path of every engine print), from 1 and 8
// threads, with the engine's options (date and time, text) into a ring of two files in /tmp.
#include <benchmark/benchmark.h>

#include <string>

#include "temp_trace_log.h"
#include "trace/CNTrace.h"

namespace {

void BM_PrintToLog(benchmark::State& state) {
    open_temp_trace_log_once();
    const std::string text = "[ZUB_SELECTOR_3] tag 0x00000000012345 pos x=12345 y=-2345 z=1200 mode 4 anchors 6";
    for (auto _ : state) {
        CN_PrintToLog(2, text.c_str());
    }
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_PrintToLog)->Threads(1)->Threads(8)->UseRealTime();

} // namespace
