// Trace lines per second through CN_PrintToLog (the path of every engine print), from 1 and 8
// threads, with the engine's options (date and time, text) into a ring of two files in /tmp.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <mutex>
#include <string>

#include "trace/CNLogFile.h"
#include "trace/CNTrace.h"

namespace {

std::string g_dir;

void open_log_once() {
    static std::once_flag once;
    std::call_once(once, [] {
        char pattern[] = "/tmp/vorlen_trace_bench_XXXXXX";
        g_dir = mkdtemp(pattern);
        std::filesystem::current_path(g_dir);
        CN_initCNLogFile(3, -1);  // a ring of two 50 MB files bounds the disk use
        CN_ClearLogOptions(CNTrace::Thread);
        std::atexit([] {
            CNLogFile::Instance().Close();
            std::filesystem::remove_all(g_dir);
        });
    });
}

void BM_PrintToLog(benchmark::State& state) {
    open_log_once();
    const std::string text = "[ZUB_SELECTOR_3] tag 0x00000000012345 pos x=12345 y=-2345 z=1200 mode 4 anchors 6";
    for (auto _ : state) {
        CN_PrintToLog(2, text.c_str());
    }
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_PrintToLog)->Threads(1)->Threads(8)->UseRealTime();

} // namespace
