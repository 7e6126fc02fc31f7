// Heap held by tag records: the bytes of one record (with its tree node and index entries),
// and 20,000 new tag ids, one report each, through the eighteen selectors sharing one budget,
// without a bound (argument 0: every id keeps a record, as when records were never freed) and
// with the engine's bound (1). Heap in use from mallinfo2, after minus before.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <climits>
#include <memory>
#include <vector>

#include "selector_site.h"

namespace {

using namespace selector_site;

double heap_in_use()
{
    const struct mallinfo2 m = mallinfo2();
    return static_cast<double>(m.uordblks + m.hblkhd);
}

SelectorEnv bench_env(TagBudget* budget, unsigned holder)
{
    SelectorEnv env;
    env.now_ms = [] { return WORD64{1000}; };
    env.tag_budget = budget;
    env.budget_holder = holder;
    return env;
}

void feed(Selector& sel, WORD64 tag_id)
{
    const std::vector<BYTE> m = toa_msg(0x32, 1, 1, tag_id, 1000, 800 << 6);
    sel.recv_toa_report(m.data(), static_cast<WORD32>(m.size()));
}

void BM_TagRecordBytes(benchmark::State& state)
{
    reset_context();
    set_anchor(1, 0xF001, 0, 0, 0);
    constexpr WORD64 kTags = 1000;
    double per_record = 0;
    for (auto _ : state) {
        TagBudget budget(ZUB_TAG_RECORDS_MAX, ZUB_TAG_SILENCE_MS);
        Selector sel(bench_env(&budget, 0));
        const double before = heap_in_use();
        for (WORD64 id = 0; id < kTags; ++id) {
            feed(sel, 0x10000 + id * 18);
        }
        per_record = (heap_in_use() - before) / static_cast<double>(sel.tags.count);
    }
    state.counters["bytes_per_record"] = per_record;
    state.counters["sizeof_Tag"] = sizeof(Tag);
}

void BM_NewIdsThroughSelectors(benchmark::State& state)
{
    reset_context();
    set_anchor(1, 0xF001, 0, 0, 0);
    constexpr WORD64 kIds = 20000;
    const unsigned limit = state.range(0) != 0 ? ZUB_TAG_RECORDS_MAX : UINT_MAX;
    double grown = 0;
    double records = 0;
    double refused = 0;
    for (auto _ : state) {
        TagBudget budget(limit, ZUB_TAG_SILENCE_MS);
        std::vector<std::unique_ptr<Selector>> selectors;
        for (unsigned s = 0; s < TagBudget::kHolders; ++s) {
            selectors.push_back(std::make_unique<Selector>(bench_env(&budget, s)));
        }
        const double before = heap_in_use();
        for (WORD64 id = 0; id < kIds; ++id) {
            feed(*selectors[id % TagBudget::kHolders], 0x10000 + id);
        }
        grown = heap_in_use() - before;
        records = budget.held();
        refused = static_cast<double>(budget.refused());
    }
    state.counters["heap_MB"] = grown / 1e6;
    state.counters["records"] = records;
    state.counters["refused"] = refused;
}

}  // namespace

BENCHMARK(BM_TagRecordBytes)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NewIdsThroughSelectors)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);
