// Fuzz target: report messages of any shape through one selector's state table, each
// followed by a solve tick. Input: records of [length byte][message]; the first byte
// chooses wireless (even) or wired (odd) sync. Tag ids are folded to 16 values so that the
// insert-only tag tree stays small however long the run.
#include <cstddef>
#include <algorithm>
#include <cstdint>
#include <vector>

#include "selector_site.h"
#include "zub_selector_job.h"

namespace {

using namespace selector_site;

class NoPort : public SelectorJobPort {
public:
    void answer_start() override {}
    WORD32 start_loop_timer(BYTE, WORD32, WORD32) override { return 1; }
};

WORD64 g_now = 1'000'000;

Selector& selector()
{
    static Selector sel = [] {
        SelectorEnv env;
        env.now_ms = [] { return g_now; };
        env.send = [](WORD32, const void*, WORD16) {};
        return Selector(std::move(env));
    }();
    return sel;
}

void site()
{
    reset_context();
    context_t& c = *zub_context();
    c.toa_ignore_time = 65535;
    c.zubSolveWaitTime = 5;
    c.zubFPIRF = 1;
    c.zeroAlgorithmEnable = 1;
    c.single_blink_count = 2;
    c.log_ctrl.diagnostics_log = 1;
    const double xy[8][2] = {{0, 0}, {20, 0}, {0, 10}, {20, 10}, {10, 5}, {5, 0}, {15, 0}, {10, 10}};
    for (WORD16 i = 0; i < 8; ++i) {
        const BYTE mode = i == 5 ? ZUB_ANCHOR_WORKING_MODE_SINGLE
                                 : (i == 6 || i == 7 ? ZUB_ANCHOR_WORKING_MODE_COUPLE : ZUB_ANCHOR_WORKING_MODE_MULTIPLE);
        set_anchor(i, 0x7000 + i, xy[i][0], xy[i][1], 0.0, mode);
    }
    set_master_flag(7, 1);
    set_four_anc_mode(3, true);
    set_reference(0, 1);
    for (WORD16 i = 1; i < 8; ++i) {
        set_sync(i, 0, i == 7 ? 6 : 0, WORD64{1} << 62);
    }
    Selector::ComputeGlobalDistanceMatrix(0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool ready = (site(), true);
    (void)ready;
    if (size == 0) {
        return 0;
    }
    zub_context()->zubWirelessSync = (data[0] & 1) == 0 ? 1 : 0;
    Selector& sel = selector();
    NoPort port;
    size_t at = 1;
    std::vector<BYTE> msg;
    while (at < size) {
        const size_t len = std::min<size_t>(data[at], size - at - 1);
        msg.assign(data + at + 1, data + at + 1 + len);
        at += 1 + len;
        if (msg.size() >= 10 && msg[4] == 0x83) {
            msg[8] &= 0x0F;  // short id (payload 4..5)
            msg[9] = 0;
        } else if (msg.size() >= 14) {
            msg[6] &= 0x0F;  // tag id (payload 2..9)
            std::fill(msg.begin() + 7, msg.begin() + 14, 0);
        }
        zub_selector_step(sel, port, ZUB_SELECTOR_STATE_RUN, ZUB_EV_MANAGER_XX_ANCHOR_MSG, msg.data(),
                          static_cast<WORD32>(msg.size()), 0);
        g_now += 7;
        zub_selector_step(sel, port, ZUB_SELECTOR_STATE_RUN, ZUB_EV_LOOP_TIMER, nullptr, 0,
                          static_cast<WORD32>(ZUB_TIMER_TYPE_SOLVE) << 24);
    }
    return 0;
}
