// Composition and reference choice of one tag round, 8 and 22 arrivals: A0 at the centre
// of a 30 x 20 m hall as the clock master of every other anchor on its walls.
#include <benchmark/benchmark.h>

#include <cmath>
#include <mutex>

#include "zub_public.h"
#include "zub_selector.h"

namespace {

constexpr double C = 299702547.0;

void site(unsigned n)
{
    context_t& c = *zub_context();
    c.zubWirelessSync = 1;
    c.min_mulitiple = 3;
    c.toa_ignore_time = 65535;
    c.zeroAlgorithmEnable = 1;
    c.zubSolveWaitTime = 20;
    c.zubFPIRF = 0;
    c.enable_motion_filter = 0;
    c.anchor_count = static_cast<WORD16>(n);
    for (unsigned i = 0; i < n; ++i) {
        Anchor& a = c.anchors[i];
        a.init(0xF000 + i, static_cast<WORD16>(i));
        const double angle = 2.0 * M_PI * i / (n - 1);
        std::lock_guard<GuardMutex> hold(a.cfg_lock);
        AnchorConfig cfg = a.config_snapshot();
        cfg.position[0] = i == 0 ? 15.0 : 15.0 + 15.0 * std::cos(angle);
        cfg.position[1] = i == 0 ? 10.0 : 10.0 + 10.0 * std::sin(angle);
        cfg.position[2] = 0.0;
        a.config_publish(cfg);
    }
    for (unsigned i = 1; i < n; ++i) {
        Anchor& a = c.anchors[i];
        std::lock_guard<std::mutex> hold(zub_ccp_lock());
        ClockSync cs = a.cs_snapshot(0);
        cs.master = &c.anchors[0];
        cs.valid_sync = true;
        cs.last_update_time = WORD64{1} << 62;  // updated "later" than any benchmark clock: always fresh
        cs.cs_kalman.x0 = 1e-3 * i;
        cs.cs_kalman.x1 = 1.0;
        cs.cs_kalman.prevTxTime = 0.0;
        cs.cs_kalman.prevRxTime = 1e-3 * i;
        a.cs_publish(0, cs);
        a.cs_set_count(1);
    }
    Selector::ComputeGlobalDistanceMatrix(0);
}

void BM_ComposeAndReference(benchmark::State& state)
{
    const auto n = static_cast<unsigned>(state.range(0));
    site(n);
    SelectorEnv env;
    env.now_ms = [] { return WORD64{1000}; };
    Selector sel(env);
    Tag* tag = sel.find_tag(1);
    for (unsigned i = 0; i < n; ++i) {
        const AnchorConfig cfg = zub_context()->anchors[i].config_snapshot();
        const double d = std::hypot(cfg.position[0] - 11.0, cfg.position[1] - 7.0);
        sel.process_toa_report(&zub_context()->anchors[i], 1, 1, 3.0 + d / C + 1e-3 * i);
    }
    const blinks_t round = tag->blinkReports;
    for (auto _ : state) {
        tag->blinkReports.nBlinks = round.nBlinks;
        benchmark::DoNotOptimize(sel.calculate_tdoa(tag));
        benchmark::DoNotOptimize(sel.tdoa.memptr());
    }
    state.counters["rows"] = sel.syncbl.nBlinks;
}

// The whole road of one tag blink: intake of every anchor's report message, the round with
// composition, reference choice, solve, motion filter, position filter and the record.
void BM_TdoaRoad(benchmark::State& state)
{
    const auto n = static_cast<unsigned>(state.range(0));
    site(n);
    WORD64 now = 1000;
    WORD64 records = 0;
    SelectorEnv env;
    env.now_ms = [&now] { return now; };
    env.send = [&records](WORD32, const void*, WORD16) { ++records; };
    Selector sel(env);
    std::vector<std::vector<BYTE>> msgs(n, std::vector<BYTE>(22, 0));
    for (unsigned i = 0; i < n; ++i) {
        const AnchorConfig cfg = zub_context()->anchors[i].config_snapshot();
        const double d = std::hypot(cfg.position[0] - 11.0, cfg.position[1] - 7.0);
        const auto ticks = static_cast<WORD64>((3.0 + d / C + 1e-3 * i) * 128.0 * 499.2e6);
        BYTE* m = msgs[i].data();
        m[0] = static_cast<BYTE>(i);
        m[2] = 18;
        m[4] = 0x32;
        m[6] = 0x2A;  // tag 42
        for (int b = 0; b < 5; ++b) {
            m[14 + b] = static_cast<BYTE>(ticks >> (8 * b));
        }
        m[19] = static_cast<BYTE>((800 << 6) & 0xFF);
        m[20] = static_cast<BYTE>((800 << 6) >> 8);  // first path 800, no extension
    }
    BYTE seq = 0;
    for (auto _ : state) {
        ++seq;
        for (auto& m : msgs) {
            m[5] = seq;
            sel.recv_toa_report(m.data(), 22);
        }
        now += 20;
        sel.recv_timer_periodic_calculate();
        now += 80;
    }
    state.counters["positions/s"] = benchmark::Counter(static_cast<double>(records), benchmark::Counter::kIsRate);
    state.counters["records"] = static_cast<double>(records);
}

// The tick of a selector with 10,000 tags none of which is due: with no round open
// (argument 0), and with every tag's round open, its first arrival just heard (1).
void BM_IdleTick(benchmark::State& state)
{
    site(8);
    SelectorEnv env;
    env.now_ms = [] { return WORD64{1000}; };
    Selector sel(env);
    for (WORD64 id = 0; id < 10000; ++id) {
        sel.find_tag(id * 18 + 5);
        if (state.range(0) != 0) {
            sel.process_toa_report(&zub_context()->anchors[1], 1, id * 18 + 5, 1.0);
        }
    }
    for (auto _ : state) {
        sel.recv_timer_periodic_calculate();
    }
}

// A report's look-up of its tag among `tags` known tags, taken in a scattered order.
void BM_FindTag(benchmark::State& state)
{
    const auto n = static_cast<WORD64>(state.range(0));
    SelectorEnv env;
    env.now_ms = [] { return WORD64{1000}; };
    Selector sel(env);
    for (WORD64 i = 0; i < n; ++i) {
        sel.find_tag(0x10000 + i * 18);
    }
    WORD64 k = 0;
    for (auto _ : state) {
        k = (k + 7919) % n;
        benchmark::DoNotOptimize(sel.find_tag(0x10000 + k * 18));
    }
    state.SetItemsProcessed(state.iterations());
}

}  // namespace

BENCHMARK(BM_FindTag)->Arg(444)->Arg(10000);
BENCHMARK(BM_ComposeAndReference)->Arg(8)->Arg(22);
BENCHMARK(BM_TdoaRoad)->Arg(8)->Arg(22);
BENCHMARK(BM_IdleTick)->Arg(0)->Arg(1);
