#include "manager_router.h"

#include "startup/cn_scs_job.h"
#include "zub_context.h"
#include "zub_manager.h"
#include "zub_msg_id.h"

namespace {

// A second power-on message the sequencer may send; acknowledged like the first.
constexpr WORD32 kPowerOnAgain = 6002;

WORD64 read_le(const BYTE* p, unsigned n)
{
    WORD64 v = 0;
    for (unsigned i = n; i-- > 0;) {
        v = (v << 8) | p[i];
    }
    return v;
}

void write_le(BYTE* p, WORD64 v, unsigned n)
{
    for (unsigned i = 0; i < n; ++i) {
        p[i] = static_cast<BYTE>(v >> (8 * i));
    }
}

WORD16 report_anchor(const BYTE* msg)
{
    return static_cast<WORD16>(read_le(msg, 2));
}

WORD64 hardware_id_of(WORD16 anc_id)
{
    return zub_context()->anchors[anc_id % ZUB_MAX_ANCHOR_NUM].hardware_id;
}

}  // namespace

RawBlinkBytes encode_raw_blink(const msg_raw_blink_t& rec)
{
    RawBlinkBytes b{};
    write_le(b.data(), rec.tag_id, 8);
    write_le(b.data() + 8, rec.anchor_id, 8);
    b[16] = rec.seq;
    return b;
}

WORD16 ManagerRouter::handle(WORD16 state, WORD32 msg_id, const BYTE* body, WORD16 len)
{
    switch (state) {
    case ZUB_MANAGER_STATE_WAIT_START: return on_wait_start(msg_id);
    case ZUB_MANAGER_STATE_RUNNING:    return on_running(msg_id, body, len);
    default:                           return state;
    }
}

WORD16 ManagerRouter::on_wait_start(WORD32 msg_id)
{
    if (msg_id == EV_CN_POWER_ON || msg_id == kPowerOnAgain) {
        out_.power_on_ack();
        return ZUB_MANAGER_STATE_WAIT_START;
    }
    if (msg_id == ZUB_EV_CTRL_XX_INIT_START) {
        out_.start_ok();
        return ZUB_MANAGER_STATE_RUNNING;
    }
    return ZUB_MANAGER_STATE_WAIT_START;
}

WORD16 ManagerRouter::on_running(WORD32 msg_id, const BYTE* body, WORD16 len)
{
    if (body != nullptr) {
        if (msg_id == ZUB_EV_SOCKET_XX_ANCHOR_MSG) {
            on_arrival_report(body, len);
        } else if (msg_id == ZUB_EV_SOCKET_TOF_ANCHOR_MSG) {
            on_ranging_report(body, len);
        }
    }
    return ZUB_MANAGER_STATE_RUNNING;
}

bool ManagerRouter::on_arrival_report(const BYTE* msg, WORD16 len)
{
    if (len < kMinArrivalMsgLen) {
        return false;
    }
    // Payload bytes 2..9: the 64-bit tag id.
    route(read_le(msg + kReportHeadLen + 2, 8), msg, len);
    return true;
}

bool ManagerRouter::on_ranging_report(const BYTE* msg, WORD16 len)
{
    if (len < kMinRangingMsgLen) {
        return false;
    }
    // Payload bytes 4..5: the tag's 16-bit short id.
    route(read_le(msg + kReportHeadLen + 4, 2), msg, len);
    return true;
}

void ManagerRouter::route(WORD64 key, const BYTE* msg, WORD16 len)
{
    const WORD16 anc_id = report_anchor(msg);
    out_.to_selector(static_cast<unsigned>(key % ZUB_SELECTOR_NUM), msg, len);
    out_.to_display(encode_raw_blink(msg_raw_blink_t{key, hardware_id_of(anc_id), msg[kReportHeadLen + 1]}));
    zub_anchor_recv_tag_statistics(anc_id, key);
}

void zub_anchor_recv_tag_statistics(WORD16 anc_id, WORD64 tag_id)
{
    Anchor& anchor = zub_context()->anchors[anc_id % ZUB_MAX_ANCHOR_NUM];
    if (anchor.hardware_id == 0 || anchor.id >= ZUB_MAX_ANCHOR_NUM) {
        return;
    }
    anchor.count_tag_blink(tag_id);
}
