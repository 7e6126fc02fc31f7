// How fast the simulator makes reports: the world's reports of eight anchors for many tags,
// and the framing of one arrival report (the simulator must keep up with some 400,000
// arrival frames per second over eight links).
#include <benchmark/benchmark.h>

#include "anchorsim/frames.h"
#include "anchorsim/world.h"

namespace {

anchorsim::SiteModel eight_anchor_site(int tags, double rate_hz)
{
    anchorsim::SiteModel site;
    const anchorsim::Vec3 spots[8] = {{0, 0, 3}, {15, 0, 3}, {30, 0, 3}, {30, 10, 3},
                                      {30, 20, 3}, {15, 20, 3}, {0, 20, 3}, {0, 10, 3}};
    for (int i = 0; i < 8; ++i) {
        anchorsim::AnchorSpec a;
        a.hw_id = 0x0822614400000001ull + static_cast<uint64_t>(i);
        a.pos = spots[i];
        a.ccp_master = i == 0;
        if (i > 0) {
            a.follows = {0x0822614400000001ull};
        }
        site.anchors.push_back(a);
    }
    for (int t = 0; t < tags; ++t) {
        anchorsim::TagSpec tag;
        tag.id = 0x1000u + static_cast<uint64_t>(t);
        tag.rate_hz = rate_hz;
        tag.path = {{1.0 + t % 28, 1.0 + (t / 28) % 18, 1.2}};
        site.tags.push_back(tag);
    }
    return site;
}

// Items: arrival and clock reports made, framed as they would be sent.
void BM_WorldReportsFramed(benchmark::State& state)
{
    anchorsim::World world(eight_anchor_site(static_cast<int>(state.range(0)), 10.0), 1);
    std::vector<anchorsim::Report> reports;
    std::vector<anchorsim::Truth> truth;
    double t = 0.0;
    size_t made = 0;
    for (auto _ : state) {
        reports.clear();
        truth.clear();
        t += 0.01;
        world.advance(t, &reports, &truth);
        for (const anchorsim::Report& r : reports) {
            benchmark::DoNotOptimize(anchorsim::encode_frame(r.payload).data());
        }
        made += reports.size();
    }
    state.SetItemsProcessed(static_cast<int64_t>(made));
}
BENCHMARK(BM_WorldReportsFramed)->Arg(100)->Arg(1000)->Arg(5000);

void BM_EncodeArrivalFrame(benchmark::State& state)
{
    const anchorsim::Bytes payload = anchorsim::toa_payload(1, 0x0822614400001001ull, 0x12345678ull, 750);
    for (auto _ : state) {
        benchmark::DoNotOptimize(anchorsim::encode_frame(payload).data());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EncodeArrivalFrame);

}  // namespace
