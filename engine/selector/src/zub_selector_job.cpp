// The selector jobs' state table and the job entry that adapts it to the platform.
#include <exception>

#include "CNPlatform.h"
#include "XOS_Api.h"
#include "startup/cn_scs_job.h"
#include "zub_msg.h"
#include "zub_msg_id.h"
#include "zub_print.h"
#include "zub_selector_job.h"
#include "zub_time.h"
#include "zub_timer.h"

namespace {
// The bound on the tag records of all selectors together; defined before them, so it
// outlives them.
TagBudget selector_tag_budget(ZUB_TAG_RECORDS_MAX, ZUB_TAG_SILENCE_MS);
}  // namespace

Selector selectors[ZUB_SELECTOR_NUM];

namespace {

constexpr WORD32 kSolvePeriodMs = 10;
constexpr WORD32 kEvPowerOnOther = 6002;

void start_round(Selector& sel, SelectorJobPort& port)
{
    init();
    port.answer_start();
    sel.solve_timer = port.start_loop_timer(ZUB_TIMER_TYPE_SOLVE, 0, kSolvePeriodMs);
}

WORD16 on_wait(Selector& sel, SelectorJobPort& port, WORD32 event)
{
    if (event == ZUB_EV_CTRL_XX_INIT_START) {
        start_round(sel, port);
        return ZUB_SELECTOR_STATE_RUN;
    }
    if (event == EV_CN_POWER_ON || event == kEvPowerOnOther) {
        return ZUB_SELECTOR_STATE_RUN;
    }
    return ZUB_SELECTOR_STATE_WAIT;
}

void on_report(Selector& sel, const BYTE* data, WORD32 length)
{
    if (data == nullptr || length <= ZUB_SOCK_DATA_HEAD) {
        return;
    }
    switch (data[ZUB_SOCK_DATA_HEAD]) {
    case 0x32:
        sel.recv_toa_report(data, length);
        break;
    case 0x33:
        sel.recv_toa_imu_report(data, length);
        break;
    case 0x83:
        sel.recv_tof_report(data, length);
        break;
    default:
        break;
    }
}

WORD16 on_run(Selector& sel, SelectorJobPort& port, WORD32 event, const BYTE* data, WORD32 length,
              WORD32 timer_para)
{
    if (event == ZUB_EV_RELATIVE_TIMER || event == ZUB_EV_LOOP_TIMER) {
        zub_selector_timeout(timer_para, sel);
    } else if (event == ZUB_EV_MANAGER_XX_ANCHOR_MSG) {
        on_report(sel, data, length);
    } else if (event == ZUB_EV_CTRL_XX_INIT_START && sel.solve_timer == ZUB_INVALID_TIMER_ID) {
        // Powered on before the start event: without this answer the job would never solve.
        start_round(sel, port);
    }
    return ZUB_SELECTOR_STATE_RUN;
}

class PlatformPort : public SelectorJobPort {
public:
    void answer_start() override
    {
        zub_asyn_msg_send(ZUB_EV_XX_CTRL_JOB_START_OK, nullptr, 0, &zub_context()->jid_control);
    }
    WORD32 start_loop_timer(BYTE type, WORD32 value, WORD32 period_ms) override
    {
        return zub_SetLoopMSecTimer(type, value, period_ms);
    }
};

}  // namespace

void init() {}

WORD16 zub_selector_step(Selector& sel, SelectorJobPort& port, WORD16 state, WORD32 event, const BYTE* data,
                         WORD32 length, WORD32 timer_para)
{
    switch (state) {
    case ZUB_SELECTOR_STATE_WAIT:
        return on_wait(sel, port, event);
    case ZUB_SELECTOR_STATE_RUN:
        return on_run(sel, port, event, data, length, timer_para);
    default:
        return state;
    }
}

void zub_selector_timeout(WORD32 para, Selector& sel)
{
    if (zub_timer_type(para) != ZUB_TIMER_TYPE_SOLVE) {
        return;
    }
    sel.recv_timer_periodic_calculate();
    sel.recv_timer_periodic_calculate_tof();
}

// Also the monotonic clock and the shared tag budget; the job sets its holder number.
SelectorEnv zub_selector_platform_env()
{
    SelectorEnv env;
    env.now_ms = [] { return zub_cur_time_ms_get(); };
    env.steady_ms = [] { return CN_MonotonicMs(); };
    env.tag_budget = &selector_tag_budget;
    env.refused_tags = &zub_refused_tags();
    env.send = [](WORD32 event, const void* data, WORD16 len) {
        zub_asyn_msg_send(event, static_cast<const BYTE*>(data), len, &zub_context()->jid_display);
    };
    return env;
}

void zub_selector_entry(WORD16 state, WORD32 event, void* data, void*, BYTE)
{
    try {
        JID self{};
        XOS_GetSelfJID(&self);
        const unsigned index = ((self.dwJno >> 16) - 0x4008u) % ZUB_SELECTOR_NUM;
        Selector& sel = selectors[index];
        if (!sel.has_env()) {
            SelectorEnv env = zub_selector_platform_env();
            env.budget_holder = index;
            sel.set_env(std::move(env));
        }
        WORD16 length = 0;
        XOS_GetMsgDataLen(&length);
        const WORD32 para = (event == ZUB_EV_RELATIVE_TIMER || event == ZUB_EV_LOOP_TIMER) ? zub_GetParaFromCurTimer() : 0;
        PlatformPort port;
        const WORD16 next = zub_selector_step(sel, port, state, event, static_cast<const BYTE*>(data), length, para);
        if (next != state) {
            XOS_SetNextState(next);
        }
    } catch (const std::exception& e) {
        ZUB_PRINT(ZUB_PRINT_ERROR, "selector event %x: %s", event, e.what());
    } catch (...) {
        ZUB_PRINT(ZUB_PRINT_ERROR, "selector event %x: unknown exception", event);
    }
}
