// Report intake: the three report formats, the collection of a tag's round, the
// extension records to the display job.
#include <cinttypes>
#include <cstring>

#include "zub_device_time.h"
#include "zub_diagnostics.h"
#include "zub_hex.h"
#include "zub_msg_id.h"
#include "zub_print.h"
#include "zub_print_layer.h"
#include "zub_print_limited.h"
#include "zub_selector.h"
#include "zub_shared_field.h"
#include "zub_tag_id.h"

namespace {

constexpr unsigned kFirstPathLow = 700;
constexpr unsigned kFirstPathHigh = 900;

bool is_silent_anchor(WORD64 hardware_id)
{
    return hardware_id == ZUB_SPECIAL_ANCHOR_A || hardware_id == ZUB_SPECIAL_ANCHOR_B;
}

// A blink of the last solved round or up to eight before it.
bool is_late(const Tag& tag, BYTE seq)
{
    if (!tag.prev_sequence_valid) {
        return false;
    }
    const BYTE d = static_cast<BYTE>(seq - tag.prevSeqNum);
    return d == 0 || d > ZUB_LATE_WINDOW_LOW;
}

void count_working_mode(blinks_t& round, BYTE mode, WORD16 anchor_id, WORD64 now_ms)
{
    if (mode == ZUB_ANCHOR_WORKING_MODE_SINGLE) {
        ++round.count_single_mode;
        if (round.single_mode_idx > ZUB_SINGLE_MODE_RING - 1) {
            round.single_mode_idx = 0;
        }
        round.single_mode_anchor[round.single_mode_idx] = single_blink_t{anchor_id, now_ms};
        ++round.single_mode_count;
        ++round.single_mode_idx;
    } else if (mode == ZUB_ANCHOR_WORKING_MODE_COUPLE) {
        ++round.count_couple_mode;
    } else {
        ++round.count_multiple_mode;
    }
}

struct ToaHead {
    const BYTE* payload;
    const Anchor* anchor;
    BYTE seq;
    WORD64 tag_id;
    double toa;
    unsigned first_path;
    BYTE ext_len;
};

// The checks and fields shared by 0x32 and 0x33; false when the length rules refuse it.
bool parse_toa(const context_t& ctx, const BYTE* data, WORD32 length, ToaHead& h)
{
    if (data == nullptr || length < ZUB_TOA_MIN_MSG) {
        return false;
    }
    const BYTE* p = data + ZUB_SOCK_DATA_HEAD;
    if (length != ZUB_TOA_MIN_MSG + p[ZUB_TOA_EXT_LEN]) {
        return false;
    }
    h.payload = p;
    h.anchor = &ctx.anchors[read16bitIDfrommessagebuffer(data) % ZUB_MAX_ANCHOR_NUM];
    h.seq = p[ZUB_TOA_SEQ];
    h.tag_id = read64bitIDfrommessagebuffer(p + ZUB_TOA_TAG_ID);
    h.toa = convertdevicetimetosecu(read40bittimefrommessagebuffer(p + ZUB_TOA_RAW_TOA));
    h.first_path = read16bitIDfrommessagebuffer(p + ZUB_TOA_FIRST_PATH) >> 6;
    h.ext_len = p[ZUB_TOA_EXT_LEN];
    return true;
}

// Diagnostics go to the log only, and only when the extension really carries them.
void log_diagnostics(const context_t& ctx, const ToaHead& h, unsigned full_ext, unsigned diag_offset)
{
    if (h.ext_len < full_ext || zub_load(ctx.log_ctrl.diagnostics_log) == 0 ||
        !zub_print_wanted(ZUB_PRINT_MSG)) {
        return;  // the dump costs more than the line; build it only for a log that keeps it
    }
    BYTE regs[ZUB_DIAG_OUTPUT_BYTES];
    if (!zub_diag_convert_to_format(regs, h.payload + ZUB_TOA_EXT + diag_offset, true)) {
        return;
    }
    char hex[2 * ZUB_DIAG_OUTPUT_BYTES + 1];
    zub_bytes_to_hex(hex, regs, ZUB_DIAG_OUTPUT_BYTES);
    ZUB_TAG_PRINT(h.tag_id, ZUB_PRINT_MSG, "diag:%16" PRIx64 " %u %s", h.tag_id, h.seq, hex);
}

// Steps shared by both arrival formats: the log, the first-path window, the collection.
void take_arrival(Selector& sel, const context_t& ctx, const ToaHead& h)
{
    const AnchorConfig cfg = h.anchor->config_snapshot();
    ZUB_TAG_PRINT(h.tag_id, ZUB_PRINT_MSG, "recv:%16" PRIx64 " %d %5d-%d %4.15e %d", h.tag_id, h.seq,
                  h.anchor->id, cfg.mode, h.toa, h.first_path);
    if (ctx.zubFPIRF != 0 && (h.first_path < kFirstPathLow || h.first_path > kFirstPathHigh)) {
        return;
    }
    if (ctx.zubWirelessSync != 0) {
        sel.process_toa_report(h.anchor, h.seq, h.tag_id, h.toa);
        return;
    }
    const WORD64 raw = read40bittimefrommessagebuffer(h.payload + ZUB_TOA_RAW_TOA);
    if (sel.process_traning_tag(h.tag_id, h.seq, h.toa, raw) != 0) {
        sel.process_toa_report(h.anchor, h.seq, h.tag_id, h.toa);
    }
}

}  // namespace

int Selector::recv_toa_report(const BYTE* data, WORD32 length)
{
    const context_t& c = ctx();
    ToaHead h{};
    if (!parse_toa(c, data, length, h)) {
        return 1;
    }
    log_diagnostics(c, h, ZUB_TOA_FULL_EXT, ZUB_TOA_DIAG_OFFSET);
    take_arrival(*this, c, h);
    return 0;
}

int Selector::recv_toa_imu_report(const BYTE* data, WORD32 length)
{
    const context_t& c = ctx();
    ToaHead h{};
    if (!parse_toa(c, data, length, h)) {
        return 1;
    }
    log_diagnostics(c, h, ZUB_IMU_FULL_EXT, ZUB_IMU_DIAG_OFFSET);
    take_arrival(*this, c, h);

    Tag* tag = find_tag(h.tag_id);
    if (tag == nullptr || h.seq == tag->lastIMUseq) {
        return 0;
    }
    tag->lastIMUseq = h.seq;
    const bool carries_imu = (h.ext_len >= 7 && h.ext_len <= ZUB_IMU_DATA_LEN) || h.ext_len == ZUB_IMU_FULL_EXT;
    const BYTE* imu = h.payload + ZUB_TOA_EXT;
    if (!carries_imu || imu[2] != 2) {
        return 0;
    }
    msg_imu_t rec{};
    rec.tagId = h.tag_id;
    rec.anchor_id = h.anchor->hardware_id;
    rec.power = imu[5];
    rec.temperature = static_cast<int8_t>(imu[6]);
    rec.heart_rate = imu[4];
    rec.warn_type = imu[3];
    send(ZUB_EV_SELECTOR_DISPLAY_TAG_EXT, &rec, sizeof rec);
    ZUB_TAG_PRINT(h.tag_id, ZUB_PRINT_MSG, "send imu:%16" PRIx64, h.tag_id);
    return 0;
}

void Selector::process_toa_report(const Anchor* anchor, BYTE seq, WORD64 tag_id, double toa)
{
    Tag* tag = find_tag(tag_id);
    if (tag == nullptr || anchor == nullptr) {
        return;
    }
    blinks_t& round = tag->blinkReports;
    if (round.nBlinks >= ZUB_MAX_BLINKS_PER_ROUND || is_silent_anchor(anchor->hardware_id)) {
        return;
    }
    if (is_late(*tag, seq)) {
        ZUB_TAG_PRINT(tag_id, ZUB_PRINT_MSG, "latecommer:%u last:%u", seq, tag->prevSeqNum);
        return;
    }
    const WORD64 now_ms = now();
    if (round.nBlinks == 0) {
        round.seqNum = seq;
        round.timeFirstBlink = now_ms;
        open_.push_back(OpenRound{tag_id, now_ms, tag});
    }
    const AnchorConfig cfg = anchor->config_snapshot();
    Blink& b = round.blinks[round.nBlinks];
    if (ctx().zubWirelessSync == 0) {
        double t = toa + cfg.clockOffset;
        if (t > ZUB_DEVICE_TIME_PERIOD_S) {
            t -= ZUB_DEVICE_TIME_PERIOD_S;
        } else if (t < 0) {
            t += ZUB_DEVICE_TIME_PERIOD_S;
        }
        b.syncedToa[0] = t;
    }
    b.toa = toa;
    b.id = anchor->id;
    ++round.nBlinks;
    count_working_mode(round, cfg.mode, anchor->id, now_ms);
}

int Selector::recv_tof_report(const BYTE* data, WORD32 length)
{
    if (data == nullptr || length < ZUB_TOF_MIN_MSG) {
        return 1;
    }
    const context_t& c = ctx();
    const BYTE* p = data + ZUB_SOCK_DATA_HEAD;
    const WORD16 anc_id = read16bitIDfrommessagebuffer(data) % ZUB_MAX_ANCHOR_NUM;
    const Anchor& anchor = c.anchors[anc_id];
    const BYTE seq = p[ZUB_TOF_SEQ];
    const WORD16 short_id = read16bitIDfrommessagebuffer(p + ZUB_TOF_SHORT_ID);
    const auto distance = static_cast<int32_t>(read32bitIDfrommessagebuffer(p + ZUB_TOF_DISTANCE));
    const WORD64 tag_id = zub_full_tag_id(c.tad_id_prefix, short_id);

    if (p[ZUB_TOF_ALARM_STATUS] != 0) {
        msg_imu_t rec{};
        rec.tagId = tag_id;
        rec.anchor_id = anchor.hardware_id;
        rec.power = 0xFFFF;
        rec.temperature = -1;
        rec.heart_rate = 0xFF;
        rec.warn_type = p[ZUB_TOF_ALARM];
        send(ZUB_EV_SELECTOR_DISPLAY_TAG_EXT, &rec, sizeof rec);
    }
    if (distance < 0 && anchor.config_snapshot().master == 1) {
        tof_immediate_fix(tag_id, anc_id);
        return 0;
    }
    process_tof_report(anc_id, seq, tag_id, distance);
    return 0;
}

void Selector::process_tof_report(WORD16 anchor_id, BYTE seq, WORD64 tag_id, int32_t distance)
{
    if (anchor_id >= ZUB_MAX_ANCHOR_NUM) {
        return;
    }
    Tag* tag = find_tag(tag_id);
    if (tag == nullptr) {
        return;
    }
    Anchor& anchor = ctx().anchors[anchor_id];
    const AnchorConfig cfg = anchor.config_snapshot();
    blinks_t& round = tag->blinkReports;
    const unsigned limit = cfg.four_anc_mode != 0 ? 4 : 3;
    if (round.nTofBlinks >= limit) {
        return;
    }
    if (is_late(*tag, seq)) {
        // An error line that an anchor repeating one ranging report would write per frame.
        if (zub_tag_print_allowed(tag_id)) {
            ZUB_PRINT_LIMITED(ZUB_PRINT_ERROR, "process_tof_report latecommer:%u last:%u", seq,
                              tag->prevSeqNum);
        }
        return;
    }
    const WORD64 now_ms = now();
    if (round.nTofBlinks == 0) {
        round.seqNum = seq;
        round.timeFirstBlink = now_ms;
        tof_open_.push_back(tag);
    }
    round.tof_blink[round.nTofBlinks] = TofBlink{anchor_id, distance, &anchor};
    ++round.nTofBlinks;
    count_working_mode(round, cfg.mode, anchor_id, now_ms);
}

int Selector::process_traning_tag(WORD64, BYTE, double, WORD64)
{
    // Tag training belongs to the clock-offset training of wired sync; every report passes.
    return 1;
}

void Selector::recv_montion_filter_start()
{
    const int len = zub_load(ctx().filter_length);
    for (auto it = tags.begin(); it; ++it) {
        Tag* tag = it;
        for (unsigned i = 0; i < 3; ++i) {
            tag->ma[i].Configure(len, Average::kMinMovingLength);
            tag->me[i].Configure(len, Average::kMinTrimmedLength);
        }
    }
}
