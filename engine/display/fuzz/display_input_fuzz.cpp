// Fuzz target: what reaches the display job from other jobs and from its trace files. The first
// byte picks the message (position, extension, raw blink, clock sync, anchor status or a flush
// tick), the rest is its body; the whole input is also read as a trace file. Frames go to one
// client that takes every byte and checks that each batch holds whole frames.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "zub_context.h"
#include "zub_display.h"
#include "zub_msg_id.h"
#include "zub_timer.h"
#include "zub_trace_list.h"

namespace {

class checking_clients final : public display_clients {
public:
    void for_each(display_stream s, const std::function<void(unsigned, int)>& visit) override
    {
        stream_ = s;
        visit(0, 1);
    }
    ssize_t send(int, const BYTE* data, size_t len) override
    {
        const size_t frame = frame_len(stream_, len);
        if (len == 0 || frame == 0 || len % frame != 0 || data[0] != (frame == 81 ? 0x65 : 0xA8)) {
            __builtin_trap();
        }
        return static_cast<ssize_t>(len);
    }
    WORD64 identity(int) override { return 1; }
    void remove(display_stream, int) override { __builtin_trap(); }

private:
    static size_t frame_len(display_stream s, size_t len)
    {
        switch (s) {
        case display_stream::tag_loc:
            return ZUB_FRAME_TAG_LOC_LEN;
        case display_stream::tag_ext:
            return ZUB_FRAME_TAG_EXT_LEN;
        case display_stream::anc_stat:
            return ZUB_FRAME_ANC_STAT_LEN;
        case display_stream::dsply:
            return len == ZUB_FRAME_DISPLAY_ORIGINAL_LEN ? len : ZUB_FRAME_DISPLAY_NORVAT_LEN;
        case display_stream::dac_blink:
            return ZUB_FRAME_RAW_BLINK_LEN;
        case display_stream::dac_pos:
            return ZUB_FRAME_RAW_POS_LEN;
        case display_stream::dac_ccp:
            return ZUB_FRAME_RAW_CCP_LEN;
        }
        return 0;
    }
    display_stream stream_ = display_stream::tag_loc;
};

class no_platform final : public display_platform {
public:
    void power_on_ack() override {}
    void start_ok() override {}
    void start_loop_timer_ms(BYTE, WORD32) override {}
};

constexpr WORD32 kMessages[] = {ZUB_EV_SELECTOR_DISPLAY_TAG_LOC, ZUB_EV_SELECTOR_DISPLAY_TAG_EXT,
                                ZUB_EV_SELECTOR_DISPLAY_RAW_BLIBK, ZUB_EV_CLOCKSYNC_DISPLAY_DAC_CCP,
                                ZUB_EV_RECON_DISPLAY_MSG, ZUB_EV_LOOP_TIMER};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static checking_clients clients;
    static no_platform platform;
    static display_core* core = [] {
        context_t& ctx = *zub_context();
        ctx.tag_ext.max_num = 100;   // past what the buffer holds
        ctx.anc_stat.max_num = 200;
        ctx.anchors[1].hardware_id = 0xA1;
        const WORD64 traced[] = {0x1122334455667788ull};
        zub_trace_replace(ctx.tag_trace_cfg, traced, 1);
        zub_trace_replace(ctx.anc_trace_cfg, traced, 1);
        return new display_core(ctx, clients, platform, [] { return WORD64{1}; }, "/nonexistent");
    }();

    std::istringstream text(std::string(reinterpret_cast<const char*>(data), size));
    if (zub_parse_trace_ids(text).size() > ZUB_TRACE_MAX_IDS) {
        __builtin_trap();
    }
    if (size == 0) {
        return 0;
    }
    const WORD32 msg = kMessages[data[0] % (sizeof kMessages / sizeof kMessages[0])];
    // Flush ticks only: the file timers would touch the file system.
    const WORD32 para = zub_timer_para(static_cast<BYTE>(ZUB_DISPLAY_TIMER_TAG_LOC + data[0] / 8 % 3), 0);
    zub_context()->displayer_type = static_cast<WORD16>(data[0] >> 7);
    core->on_event(1, msg, data + 1, size - 1, para);
    return 0;
}
