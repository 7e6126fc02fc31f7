#include "zub_print.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace {

std::atomic<zub_print_sink_t> g_sink{nullptr};

constexpr int kLineBytes = 2048;

}  // namespace

zub_print_sink_t zub_print_set_sink(zub_print_sink_t sink)
{
    return g_sink.exchange(sink, std::memory_order_acq_rel);
}

void zub_print(BYTE level, const char* file, int line, const char* fmt, ...)
{
    const zub_print_sink_t sink = g_sink.load(std::memory_order_acquire);
    if (sink == nullptr || fmt == nullptr) {
        return;
    }
    thread_local char text[kLineBytes];
    va_list args;
    va_start(args, fmt);
    const int n = std::vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    if (n < 0) {
        return;
    }
    sink(level, file, line, text);
}
