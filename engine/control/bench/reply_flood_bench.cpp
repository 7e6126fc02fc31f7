// The control handler under a flood of communication-test results that no test asked for:
// 200,000 anchor messages 82 07 00 00 00 from one anchor while the handler is idle, then the
// controller's "zub cfg". Reports the size of that reply and the resident memory the flood
// added (after the flood, and once the reply is sent), and the cost of one such message.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
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

long resident_bytes()
{
    long pages_total = 0;
    long pages_resident = 0;
    FILE* f = std::fopen("/proc/self/statm", "r");
    if (f == nullptr) {
        return -1;
    }
    if (std::fscanf(f, "%ld %ld", &pages_total, &pages_resident) != 2) {
        pages_resident = -1;
    }
    std::fclose(f);
    return pages_resident * sysconf(_SC_PAGESIZE);
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

void BM_UnsolicitedResultsThenZubCfg(benchmark::State& state)
{
    RTLSControlHandler* h = idle_handler();
    const std::vector<BYTE> message = unsolicited_result();
    for (auto _ : state) {
        h = idle_handler();
        const long before = resident_bytes();
        for (int i = 0; i < kFlood; ++i) {
            h->HandleResponse(message.data(), static_cast<WORD16>(message.size()));
        }
        const long flooded = resident_bytes();
        g_reply_bytes = 0;
        ask_zub_cfg(h);
        const long answered = resident_bytes();
        state.counters["reply_bytes"] = static_cast<double>(g_reply_bytes);
        state.counters["rss_flood_MiB"] = mib(flooded - before);
        state.counters["rss_answered_MiB"] = mib(answered - before);
    }
}
BENCHMARK(BM_UnsolicitedResultsThenZubCfg)->Iterations(1)->Unit(benchmark::kMillisecond);

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
