// Costs on the engine's hot paths: a selector's consistent copy of a clock-sync slot and
// of an anchor's configuration (alone and while a writer publishes), a manager's blink
// count, tree lookups, the CRC of a frame and a trace-list lookup.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "zub_public.h"

namespace {

Anchor& bench_anchor(unsigned i)
{
    Anchor& a = zub_context()->anchors[i];
    if (a.hardware_id == 0) {
        a.init(0x0822614400000000ull + i, static_cast<WORD16>(i));
    }
    return a;
}

void BM_ClockSyncSnapshot(benchmark::State& state)
{
    Anchor& a = bench_anchor(1);
    for (auto _ : state) {
        ClockSync s = a.cs_snapshot(0);
        benchmark::DoNotOptimize(s.cs_kalman.syncTOA(1.0));
    }
}
BENCHMARK(BM_ClockSyncSnapshot);

void BM_ClockSyncSnapshotWhileWriting(benchmark::State& state)
{
    Anchor& a = bench_anchor(2);
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        // 100,000 updates a second on one slot: far above what the clock-sync job sees.
        ClockSync s;
        while (!stop.load(std::memory_order_relaxed)) {
            {
                std::lock_guard<std::mutex> lock(zub_ccp_lock());
                s.cs_kalman.x0 += 1e-9;
                a.cs_publish(0, s);
            }
            const auto next = std::chrono::steady_clock::now() + std::chrono::microseconds(10);
            while (std::chrono::steady_clock::now() < next) {
            }
        }
    });
    for (auto _ : state) {
        ClockSync s = a.cs_snapshot(0);
        benchmark::DoNotOptimize(s.cs_kalman.syncTOA(1.0));
    }
    stop.store(true);
    writer.join();
}
BENCHMARK(BM_ClockSyncSnapshotWhileWriting)->UseRealTime();

void BM_ConfigSnapshot(benchmark::State& state)
{
    Anchor& a = bench_anchor(3);
    for (auto _ : state) {
        AnchorConfig c = a.config_snapshot();
        benchmark::DoNotOptimize(c.position[0]);
    }
}
BENCHMARK(BM_ConfigSnapshot);

void BM_CountTagBlink(benchmark::State& state)
{
    Anchor& a = zub_context()->anchors[10 + state.range(0) / 100];
    a.init(0x0822614400001000ull + state.range(0), static_cast<WORD16>(10 + state.range(0) / 100));
    for (long t = 0; t < state.range(0); ++t) {
        a.count_tag_blink(static_cast<WORD64>(t));
    }
    const WORD64 last = static_cast<WORD64>(state.range(0) - 1);  // the linear search's worst case
    for (auto _ : state) {
        benchmark::DoNotOptimize(a.count_tag_blink(last));
    }
}
BENCHMARK(BM_CountTagBlink)->Arg(100)->Arg(10000)->ThreadRange(1, 3)->UseRealTime();

struct Item {
    explicit Item(unsigned long key) : id(key) {}
    unsigned long id;
};

void BM_TreeFind(benchmark::State& state)
{
    static auto* tree = new RBTree<unsigned long, Item>;
    static const bool filled = [] {
        for (unsigned long k = 0; k < 100000; ++k) {
            tree->insert_key(k * 2654435761ul);
        }
        return true;
    }();
    benchmark::DoNotOptimize(filled);
    unsigned long k = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(tree->find_key((k++ % 100000) * 2654435761ul));
    }
}
BENCHMARK(BM_TreeFind);

void BM_CheckCrc16(benchmark::State& state)
{
    std::vector<BYTE> frame(static_cast<size_t>(state.range(0)), 0x5A);
    for (auto _ : state) {
        benchmark::DoNotOptimize(check_crc16(frame.data(), static_cast<WORD16>(frame.size())));
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_CheckCrc16)->Arg(24)->Arg(120);

void BM_TagTraceCheck(benchmark::State& state)
{
    std::vector<WORD64> ids(200);
    for (size_t i = 0; i < ids.size(); ++i) {
        ids[i] = i + 1;
    }
    zub_trace_replace(zub_context()->tag_trace_cfg, ids.data(), 200);
    for (auto _ : state) {
        benchmark::DoNotOptimize(tag_trace_cfg_check(0xFFFF));  // a miss scans all 200
    }
}
BENCHMARK(BM_TagTraceCheck);

}  // namespace
