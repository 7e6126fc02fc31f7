// The control handler under a flood of communication-test results that no test asked for:
// 200,000 anchor messages 82 07 00 00 00 from one anchor while the handler is idle, then the
// controller's "zub cfg". Reports the size of that reply and the heap the flood added (after
// the flood, and once the reply is sent), the same for a test that awaits every one of those
// results (its reply holds 64 KiB of them), and the cost of one unsolicited message.
#include <benchmark/benchmark.h>

#include <malloc.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "RTLSControlHandler.h"
#include "fuzz_rig.h"

namespace {

constexpr int kFlood = 200000;
const WORD64 kAnchors[] = {0xa0b1000000000001, 0xa0b1000000000002};

size_t g_reply_bytes = 0;

// Bytes the heap hands out now, from its arenas and in blocks of their own (a large reply
// text is one): what the handler keeps shows here exactly.
long heap_bytes()
{
    const struct mallinfo2 m = mallinfo2();
    return static_cast<long>(m.uordblks + m.hblkhd);
}

double mib(long bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0); }

RTLSControlHandler* idle_handler()
{
    static bool ready = false;
    if (!ready) {
        ControlPorts p = control_fuzz::quiet_ports();
        p.send_to_controller = [](const std::string* text) {
            g_reply_bytes = text->size();
            return true;
        };
        zub_control_ports() = p;
        control_fuzz::add_anchors(kAnchors);
        ready = true;
    }
    RTLSControlHandler* h = RTLSControlHandler::Instance();
    h->SetupResponse(0, 0);
    h->xmlResponse.clear();
    h->xmlResponse.shrink_to_fit();
    return h;
}

// sock_data_t from the first anchor: local id, length 5, then 82 07 00 00 00.
std::vector<BYTE> unsolicited_result()
{
    const WORD16 local = Anchor::zub_get_anchor_by_hardware_id(kAnchors[0])->id;
    return {static_cast<BYTE>(local & 0xFF), static_cast<BYTE>(local >> 8), 5, 0, 0x82, 0x07, 0x00, 0x00, 0x00};
}

void ask_zub_cfg(RTLSControlHandler* h)
{
    const char line[] = "<req type=\"zub cfg\"/>";
    char* text = static_cast<char*>(std::malloc(sizeof line));
    std::memcpy(text, line, sizeof line);
    h->HandleRequests(text);
}

// The heap added by kFlood messages (after them, and once "zub cfg" is answered) and the size
// of that answer.
struct FloodFigures {
    long heap_flooded;
    long heap_answered;
    size_t reply_bytes;
};

FloodFigures flood_then_zub_cfg(RTLSControlHandler* h, const std::vector<BYTE>& message)
{
    const long before = heap_bytes();
    for (int i = 0; i < kFlood; ++i) {
        h->HandleResponse(message.data(), static_cast<WORD16>(message.size()));
    }
    const long flooded = heap_bytes();
    g_reply_bytes = 0;
    ask_zub_cfg(h);
    return {flooded - before, heap_bytes() - before, g_reply_bytes};
}

void BM_UnsolicitedResultsThenZubCfg(benchmark::State& state)
{
    idle_handler();
    const std::vector<BYTE> message = unsolicited_result();
    for (auto _ : state) {
        const FloodFigures f = flood_then_zub_cfg(idle_handler(), message);
        state.counters["reply_bytes"] = static_cast<double>(f.reply_bytes);
        state.counters["heap_flood_MiB"] = mib(f.heap_flooded);
        state.counters["heap_answered_MiB"] = mib(f.heap_answered);
    }
}
BENCHMARK(BM_UnsolicitedResultsThenZubCfg)->Iterations(1)->Unit(benchmark::kMillisecond);

// The most a reply can hold: a communication test that awaits 200,000 results and gets them.
void BM_AwaitedResultsPastTheBound(benchmark::State& state)
{
    idle_handler();
    const std::vector<BYTE> message = unsolicited_result();
    for (auto _ : state) {
        RTLSControlHandler* h = idle_handler();
        h->SetupResponse(0x82, kFlood);
        const FloodFigures f = flood_then_zub_cfg(h, message);
        state.counters["reply_bytes"] = static_cast<double>(f.reply_bytes);
        state.counters["heap_flood_KiB"] = static_cast<double>(f.heap_flooded) / 1024.0;
    }
    idle_handler();
}
BENCHMARK(BM_AwaitedResultsPastTheBound)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_OneUnsolicitedResult(benchmark::State& state)
{
    RTLSControlHandler* h = idle_handler();
    const std::vector<BYTE> message = unsolicited_result();
    for (auto _ : state) {
        benchmark::DoNotOptimize(h->HandleResponse(message.data(), static_cast<WORD16>(message.size())));
    }
    state.SetItemsProcessed(state.iterations());
    idle_handler();
}
BENCHMARK(BM_OneUnsolicitedResult)->Iterations(kFlood);

}  // namespace
