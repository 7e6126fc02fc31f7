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
    c.toa_ignore_time = 350;
    c.zeroAlgorithmEnable = 1;
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
        cs.last_update_time = 1000;
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

}  // namespace

BENCHMARK(BM_ComposeAndReference)->Arg(8)->Arg(22);
