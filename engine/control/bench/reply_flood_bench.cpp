// The control handler under floods of anchor results that no test asked for: 200,000 anchor
// messages from one anchor while the handler is idle (communication results 82 07 00 00 00, or
// final range results 84 ... after no range test), then the controller's "zub cfg". Reports the
// size of that reply, the heap the flood added (after the flood, and once the reply is sent) and
// what the flood sent to anchors; the same for a communication test over 448 anchors that awaits
// every one of 200,256 results (its reply holds 64 KiB of them), and the cost of one unsolicited
// message.
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
size_t g_anchor_frames = 0;

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
        p.send_to_anchor = [](const BYTE*, WORD16, Anchor*) {
            ++g_anchor_frames;
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

// sock_data_t from an anchor: local id, length, then 82 07 00 00 00, or a final range result
// of 1.2345 m (84 00 00 00 00 00 39 30 00 00 07 00).
std::vector<BYTE> result_from(WORD16 local, BYTE code)
{
    std::vector<BYTE> payload = {0x82, 0x07, 0x00, 0x00, 0x00};
    if (code == 0x84) {
        payload = {0x84, 0, 0, 0, 0, 0, 0x39, 0x30, 0, 0, 0x07, 0x00};
    }
    std::vector<BYTE> m = {static_cast<BYTE>(local & 0xFF), static_cast<BYTE>(local >> 8),
                           static_cast<BYTE>(payload.size()), 0};
    for (BYTE b : payload) {
        m.push_back(b);
    }
    return m;
}

std::vector<BYTE> unsolicited_result(BYTE code = 0x82)
{
    return result_from(Anchor::zub_get_anchor_by_hardware_id(kAnchors[0])->id, code);
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

// Arg: the result code, 0x82 or 0x84.
void BM_UnsolicitedResultsThenZubCfg(benchmark::State& state)
{
    idle_handler();
    const std::vector<BYTE> message = unsolicited_result(static_cast<BYTE>(state.range(0)));
    for (auto _ : state) {
        g_anchor_frames = 0;
        const FloodFigures f = flood_then_zub_cfg(idle_handler(), message);
        state.counters["reply_bytes"] = static_cast<double>(f.reply_bytes);
        state.counters["heap_flood_MiB"] = mib(f.heap_flooded);
        state.counters["heap_answered_MiB"] = mib(f.heap_answered);
        state.counters["anchor_frames"] = static_cast<double>(g_anchor_frames);
    }
}
BENCHMARK(BM_UnsolicitedResultsThenZubCfg)->Arg(0x82)->Arg(0x84)->Iterations(1)->Unit(benchmark::kMillisecond);

// The most a reply can hold: a communication test over 448 anchors, each transmitting in turn,
// awaits 448 x 447 = 200,256 results and gets them.
void BM_AwaitedResultsPastTheBound(benchmark::State& state)
{
    constexpr unsigned kTestAnchors = 448;
    idle_handler();
    context_t* c = zub_context();
    for (WORD64 hw = 0xb0000000; c->anchor_count < kTestAnchors; ++hw) {
        const WORD16 local = zub_new_anchor_id(hw);
        c->anchors[local].init(hw, local);
        c->anchors[local].link_record(900u + local, nullptr);
        ++c->anchor_count;
    }
    std::vector<std::vector<BYTE>> messages;
    for (WORD16 local = 0; local < kTestAnchors; ++local) {
        messages.push_back(result_from(local, 0x82));
    }
    for (auto _ : state) {
        RTLSControlHandler* h = idle_handler();
        const char line[] = "<req type=\"comm test\"/>";
        char* text = static_cast<char*>(std::malloc(sizeof line));
        std::memcpy(text, line, sizeof line);
        h->HandleRequests(text);
        const long before = heap_bytes();
        for (unsigned round = 0; round + 1 < kTestAnchors; ++round) {
            for (const std::vector<BYTE>& m : messages) {
                h->HandleResponse(m.data(), static_cast<WORD16>(m.size()));
            }
        }
        const long flooded = heap_bytes();
        g_reply_bytes = 0;
        ask_zub_cfg(h);
        state.counters["awaited_left"] = static_cast<double>(h->expectedRxResponseNum);
        state.counters["reply_bytes"] = static_cast<double>(g_reply_bytes);
        state.counters["heap_flood_KiB"] = static_cast<double>(flooded - before) / 1024.0;
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
