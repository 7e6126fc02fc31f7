#include "zub_print.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <forward_list>
#include <mutex>

namespace {

// The sink and its gate are installed together; a print reads the pair as one, so a gate
// never filters for a sink it does not belong to.
struct Route {
    zub_print_sink_t sink;
    zub_print_gate_t gate;
};

// Routes are few (one per installation) and never freed: a printing thread may still hold the
// one that was just replaced.
std::atomic<const Route*> g_route{nullptr};

constexpr int kLineBytes = 2048;

// The one Route of each (sink, gate) pair ever installed, so that installing the same pair
// again allocates nothing; the programs install two or three pairs in their life.
const Route* intern_route(zub_print_sink_t sink, zub_print_gate_t gate)
{
    static std::mutex lock;
    static std::forward_list<Route> routes;
    const std::lock_guard<std::mutex> hold(lock);
    for (const Route& r : routes) {
        if (r.sink == sink && r.gate == gate) {
            return &r;
        }
    }
    routes.push_front(Route{sink, gate});
    return &routes.front();
}

}  // namespace

zub_print_sink_t zub_print_set_gated_sink(zub_print_sink_t sink, zub_print_gate_t gate)
{
    const Route* route = sink != nullptr ? intern_route(sink, gate) : nullptr;
    const Route* old = g_route.exchange(route, std::memory_order_acq_rel);
    return old != nullptr ? old->sink : nullptr;
}

zub_print_sink_t zub_print_set_sink(zub_print_sink_t sink) { return zub_print_set_gated_sink(sink, nullptr); }

bool zub_print_wanted(BYTE level)
{
    const Route* route = g_route.load(std::memory_order_acquire);
    return route != nullptr && (route->gate == nullptr || route->gate(level));
}

void zub_print(BYTE level, const char* file, int line, const char* fmt, ...)
{
    const Route* route = g_route.load(std::memory_order_acquire);
    if (route == nullptr || fmt == nullptr || (route->gate != nullptr && !route->gate(level))) {
        return;
    }
    const zub_print_sink_t sink = route->sink;
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
