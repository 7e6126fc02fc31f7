// The TOF round of one tag per tick, from its range reports to the record: one range from
// a master anchor, two from a couple pair along a corridor, three and four from anchors
// around a room (the least-squares fits), and four couple anchors on two crossing lines.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "round_driver.h"
#include "selector_site.h"

namespace {

using namespace selector_site;

struct Place {
    double x, y, z;
    BYTE mode;
};

// Argument: number of ranges; 5 is the crossing of four couple anchors.
std::vector<Place> layout(int variant)
{
    constexpr BYTE M = ZUB_ANCHOR_WORKING_MODE_MULTIPLE;
    constexpr BYTE C = ZUB_ANCHOR_WORKING_MODE_COUPLE;
    switch (variant) {
    case 1:
        return {{5, 0, 3, M}};
    case 2:
        return {{0, 2, 3, C}, {20, 2, 3, C}};
    case 3:
        return {{0, 0, 3, M}, {20, 0, 3, M}, {10, 20, 3, M}};
    case 4:
        return {{0, 0, 3, M}, {20, 0, 3, M}, {10, 20, 3, M}, {0, 20, 5, M}};
    default:
        return {{0, 0, 4, C}, {8, 0, 4, C}, {20, 5, 4, C}, {20, 13, 4, C}};
    }
}

void BM_TofRound(benchmark::State& state)
{
    const std::vector<Place> anchors = layout(static_cast<int>(state.range(0)));
    reset_context();
    context_t& c = *zub_context();
    c.tad_id_prefix = 0x12;
    c.ground_clearance = 1.0;
    c.filter = 1;
    for (unsigned i = 0; i < anchors.size(); ++i) {
        const auto id = static_cast<WORD16>(i);
        set_anchor(id, 0xE000 + i, anchors[i].x, anchors[i].y, anchors[i].z, anchors[i].mode);
        set_master_flag(id, 1);
        set_four_anc_mode(id, true);
    }
    std::vector<std::vector<BYTE>> msgs;
    for (unsigned i = 0; i < anchors.size(); ++i) {
        const auto id = static_cast<WORD16>(i);
        const auto mm = static_cast<int32_t>(anchor_distance(id, 6, 4, 1) * 1000.0);
        msgs.push_back(tof_msg(id, 0, 0x3, mm));  // short id 3 under the prefix: tag 0x123
    }
    selector_bench::run_rounds(state, selector_bench::kTofRound, msgs);
}

}  // namespace

BENCHMARK(BM_TofRound)->DenseRange(1, 5);
