// Composition and reference choice of one tag round, 8 and 22 arrivals: A0 at the centre
// of a 30 x 20 m hall as the clock master of every other anchor on its walls.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "round_driver.h"
#include "selector_site.h"

namespace {

using namespace selector_site;

constexpr double C = 299702547.0;

void site(unsigned n)
{
    reset_context();
    context_t& c = *zub_context();
    c.toa_ignore_time = 65535;
    c.zeroAlgorithmEnable = 1;
    for (unsigned i = 0; i < n; ++i) {
        const double angle = 2.0 * M_PI * i / (n - 1);
        set_anchor(static_cast<WORD16>(i), 0xF000 + i, i == 0 ? 15.0 : 15.0 + 15.0 * std::cos(angle),
                   i == 0 ? 10.0 : 10.0 + 10.0 * std::sin(angle), 0.0);
    }
    for (unsigned i = 1; i < n; ++i) {
        // updated "later" than any benchmark clock: always fresh
        set_sync(static_cast<WORD16>(i), 0, 0, WORD64{1} << 62, 1e-3 * i);
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
        const double d = anchor_distance(static_cast<WORD16>(i), 11.0, 7.0);
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
    std::vector<std::vector<BYTE>> msgs;
    for (unsigned i = 0; i < n; ++i) {
        const auto anc = static_cast<WORD16>(i);
        // tag 42, first path 800, no extension
        msgs.push_back(toa_msg(0x32, anc, 0, 42, ticks_of(3.0 + anchor_distance(anc, 11.0, 7.0) / C + 1e-3 * i),
                               800 << 6));
    }
    selector_bench::run_rounds(state, selector_bench::kTdoaRound, msgs);
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
