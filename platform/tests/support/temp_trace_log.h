// A trace log in a folder of its own under /tmp for the benchmarks that write through it: opened
// once per process with the engine's options (date and time, text), in a ring of two 50 MB files
// so that a long run bounds its disk use, and removed with the folder at exit.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>

#include "trace/CNLogFile.h"
#include "trace/CNTrace.h"

inline void open_temp_trace_log_once()
{
    static std::once_flag once;
    static std::string dir;
    std::call_once(once, [] {
        char pattern[] = "/tmp/vorlen_trace_bench_XXXXXX";
        dir = mkdtemp(pattern);
        std::filesystem::current_path(dir);
        CN_initCNLogFile(3, -1);
        CN_ClearLogOptions(CNTrace::Thread);
        std::atexit([] {
            CNLogFile::Instance().Close();
            std::filesystem::remove_all(dir);
        });
    });
}
