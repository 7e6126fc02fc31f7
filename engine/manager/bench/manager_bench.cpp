// Cost of a manager's work per report: counting at an anchor that knows 100 or 10,000 tags
// (one to three managers at once), and a whole report handled with its sends discarded.
#include <benchmark/benchmark.h>

#include <vector>

#include "manager_router.h"
#include "zub_manager.h"
#include "zub_msg_id.h"
#include "zub_public.h"

namespace {

constexpr WORD64 kTagBase = 0x0822614400000000ull;

// The anchor of a benchmark argument, filled with `tags` tags once.
WORD16 filled_anchor(long tags)
{
    const auto id = static_cast<WORD16>(100 + tags % 9973);
    Anchor& a = zub_context()->anchors[id];
    if (a.blink_table_size() != tags) {
        a.init(0x0822614400100000ull + static_cast<WORD64>(id), id);
        for (long t = 0; t < tags; ++t) {
            zub_anchor_recv_tag_statistics(id, kTagBase + static_cast<WORD64>(t));
        }
    }
    return id;
}

// Reports of every known tag in turn, as a site's blinks arrive.
void BM_CountReport(benchmark::State& state)
{
    const long tags = state.range(0);
    const WORD16 id = filled_anchor(tags);
    long t = state.thread_index() * 7;
    for (auto _ : state) {
        zub_anchor_recv_tag_statistics(id, kTagBase + static_cast<WORD64>(t));
        if (++t == tags) {
            t = 0;
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CountReport)->Arg(100)->Arg(10000)->ThreadRange(1, 3)->UseRealTime();

class DiscardOutput final : public ManagerOutput {
public:
    void power_on_ack() override {}
    void start_ok() override {}
    void to_selector(unsigned index, const BYTE* msg, WORD16 len) override
    {
        benchmark::DoNotOptimize(index);
        benchmark::DoNotOptimize(msg);
        benchmark::DoNotOptimize(len);
    }
    void to_display(const RawBlinkBytes& raw_blink) override { benchmark::DoNotOptimize(raw_blink.data()); }
};

// One whole arrival report: selector choice, raw blink, count.
void BM_HandleArrivalReport(benchmark::State& state)
{
    const long tags = state.range(0);
    const WORD16 id = filled_anchor(tags);
    std::vector<BYTE> msg(92, 0);
    msg[0] = static_cast<BYTE>(id);
    msg[1] = static_cast<BYTE>(id >> 8);
    msg[2] = 88;
    msg[4] = 0x32;
    DiscardOutput out;
    ManagerRouter router(out);
    long t = 0;
    for (auto _ : state) {
        const WORD64 tag = kTagBase + static_cast<WORD64>(t);
        for (int i = 0; i < 8; ++i) {
            msg[6 + static_cast<size_t>(i)] = static_cast<BYTE>(tag >> (8 * i));
        }
        router.handle(ZUB_MANAGER_STATE_RUNNING, ZUB_EV_SOCKET_XX_ANCHOR_MSG, msg.data(),
                      static_cast<WORD16>(msg.size()));
        if (++t == tags) {
            t = 0;
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_HandleArrivalReport)->Arg(100)->Arg(10000);

}  // namespace
