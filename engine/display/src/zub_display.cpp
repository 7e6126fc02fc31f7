#include "zub_display.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "zub_context.h"
#include "zub_msg_id.h"
#include "zub_print.h"
#include "zub_tag_index.h"
#include "zub_shared_field.h"
#include "zub_stat_time.h"
#include "zub_timer.h"
#include "zub_trace_file.h"
#include "zub_trace_list.h"

namespace {

constexpr WORD32 kPowerOn = 6000;
constexpr WORD32 kPowerOnAgain = 6002;

bool hex_id(const std::string& token, WORD64* out)
{
    size_t i = 0;
    if (token.size() > 2 && token[0] == '0' && (token[1] == 'x' || token[1] == 'X')) {
        i = 2;
    }
    if (i >= token.size()) {
        return false;
    }
    WORD64 v = 0;
    for (; i < token.size(); ++i) {
        const int c = static_cast<unsigned char>(token[i]);
        if (!std::isxdigit(c)) {
            return false;
        }
        if (v >> 60 != 0) {
            return false;  // a 65th bit
        }
        const int digit = std::isdigit(c) ? c - '0' : std::tolower(c) - 'a' + 10;
        v = (v << 4) | static_cast<WORD64>(digit);
    }
    *out = v;
    return true;
}

}  // namespace

std::vector<WORD64> zub_parse_trace_ids(std::istream& in)
{
    std::vector<WORD64> ids;
    std::string token;
    while (ids.size() < ZUB_TRACE_MAX_IDS && in >> token) {
        WORD64 id = 0;
        if (!hex_id(token, &id)) {
            break;
        }
        ids.push_back(id);
    }
    return ids;
}

display_core::display_core(context_t& ctx, display_clients& clients, display_platform& platform,
                           std::function<WORD64()> wall_ms, std::string root)
    : ctx_(ctx),
      platform_(platform),
      wall_ms_(std::move(wall_ms)),
      root_(std::move(root)),
      out_(clients),
      tag_loc_buff_{{}, ZUB_FRAME_TAG_LOC_LEN, display_stream::tag_loc},
      tag_ext_buff_{{}, ZUB_FRAME_TAG_EXT_LEN, display_stream::tag_ext},
      anc_stat_buff_{{}, ZUB_FRAME_ANC_STAT_LEN, display_stream::anc_stat},
      stats_(std::make_unique<tag_statistics_t>()),
      stat_index_(ZUB_TAG_INDEX_SLOTS, 0)
{
}

const send_buff_t& display_core::batch(display_stream s) const
{
    return const_cast<display_core*>(this)->batch_of(s).buf;
}

display_core::batch_t& display_core::batch_of(display_stream s)
{
    switch (s) {
    case display_stream::tag_ext:
        return tag_ext_buff_;
    case display_stream::anc_stat:
        return anc_stat_buff_;
    default:
        return tag_loc_buff_;
    }
}

// ---- states ---------------------------------------------------------------------------------

WORD16 display_core::on_event(WORD16 state, WORD32 msg_id, const BYTE* body, size_t len, WORD32 timer_para)
{
    switch (state) {
    case ZUB_JOB_STATE_POWER_ON:
        if (msg_id == kPowerOn || msg_id == kPowerOnAgain) {
            platform_.power_on_ack();
            return ZUB_JOB_STATE_WAIT_START;
        }
        ZUB_PRINT(ZUB_PRINT_ERROR, "display rcv unknow msg id %d", static_cast<int>(msg_id));
        return state;
    case ZUB_JOB_STATE_WAIT_START:
        return on_wait_start(msg_id);
    case ZUB_JOB_STATE_RUNNING:
        on_running(msg_id, body, len, timer_para);
        return state;
    default:
        ZUB_PRINT(ZUB_PRINT_ERROR, "display rcv unknow msg id %d", static_cast<int>(msg_id));
        return state;
    }
}

WORD16 display_core::on_wait_start(WORD32 msg_id)
{
    if (msg_id != ZUB_EV_CTRL_XX_INIT_START) {
        ZUB_PRINT(ZUB_PRINT_ERROR, "display rcv unknow msg id %d", static_cast<int>(msg_id));
        return ZUB_JOB_STATE_WAIT_START;
    }
    start_timers();
    platform_.start_ok();
    return ZUB_JOB_STATE_RUNNING;
}

void display_core::start_timers()
{
    const struct {
        BYTE type;
        const report_cfg_t& cfg;
    } flushes[] = {{ZUB_DISPLAY_TIMER_TAG_LOC, ctx_.tag_loc},
                   {ZUB_DISPLAY_TIMER_TAG_EXT, ctx_.tag_ext},
                   {ZUB_DISPLAY_TIMER_ANC_STAT, ctx_.anc_stat}};
    for (const auto& f : flushes) {
        WORD32 ms = f.cfg.sleep_time;
        if (ms == 0) {
            // A 0-ms periodic timer would fire at every turn of the platform reactor.
            ZUB_PRINT(ZUB_PRINT_ERROR, "display timer %u has sleep_time 0, flushing every 1 ms", f.type);
            ms = 1;
        }
        platform_.start_loop_timer_ms(f.type, ms);
    }
    platform_.start_loop_timer_ms(ZUB_DISPLAY_TIMER_TRACE, ZUB_DISPLAY_FILE_PERIOD_S * 1000);
    platform_.start_loop_timer_ms(ZUB_DISPLAY_TIMER_STATISTICS, ZUB_DISPLAY_FILE_PERIOD_S * 1000);
}

void display_core::on_running(WORD32 msg_id, const BYTE* body, size_t len, WORD32 timer_para)
{
    switch (msg_id) {
    case ZUB_EV_SELECTOR_DISPLAY_TAG_LOC: {
        msg_position_t pos{};
        if (msg_position_decode(body, len, &pos)) {
            return on_tag_loc(pos);
        }
        break;
    }
    case ZUB_EV_SELECTOR_DISPLAY_TAG_EXT: {
        msg_imu_t imu{};
        if (msg_imu_decode(body, len, &imu)) {
            return on_tag_ext(imu);
        }
        break;
    }
    case ZUB_EV_SELECTOR_DISPLAY_RAW_BLIBK: {
        msg_raw_blink_t blink{};
        if (msg_raw_blink_decode(body, len, &blink)) {
            return on_raw_blink(blink);
        }
        break;
    }
    case ZUB_EV_CLOCKSYNC_DISPLAY_DAC_CCP: {
        dac_ccp_rx_t rx{};
        if (dac_ccp_rx_decode(body, len, &rx)) {
            return on_raw_ccp(rx);
        }
        break;
    }
    case ZUB_EV_RECON_DISPLAY_MSG:
        if (body != nullptr && len >= 2) {
            return on_anchor_status(static_cast<WORD16>(body[0] | body[1] << 8));
        }
        break;
    case ZUB_EV_RELATIVE_TIMER:
    case ZUB_EV_LOOP_TIMER:
        return on_timer(zub_timer_type(timer_para));
    default:
        ZUB_PRINT(ZUB_PRINT_ERROR, "recv error unknown msgid(%d)", static_cast<int>(msg_id));
        return;
    }
    ZUB_PRINT(ZUB_PRINT_ERROR, "display msgid(%d) with a body of %zu bytes dropped", static_cast<int>(msg_id), len);
}

// ---- streams --------------------------------------------------------------------------------

void display_core::append(batch_t& b, const BYTE* frame, WORD16 max_num)
{
    // A frame never goes past the buffer, whatever max_num says.
    if ((b.buf.cnt + 1u) * b.frame_len > ZUB_SEND_BUFF_LEN) {
        flush(b);
    }
    std::memcpy(b.buf.buff + b.buf.cnt * b.frame_len, frame, b.frame_len);
    ++b.buf.cnt;
    if (b.buf.cnt == max_num) {
        flush(b);
    }
}

void display_core::flush(batch_t& b)
{
    if (b.buf.cnt != 0) {
        out_.send_all(b.stream, b.buf.buff, b.buf.cnt * b.frame_len);
        b.buf.cnt = 0;  // frames are written before they are sent: no need to wipe the bytes
    }
}

void display_core::on_tag_loc(const msg_position_t& pos)
{
    BYTE frame[ZUB_FRAME_MAX_LEN];
    zub_frame_tag_loc(pos, frame);
    append(tag_loc_buff_, frame, 0);
    flush(tag_loc_buff_);

    const WORD16 type = ctx_.displayer_type;
    if (type == ZUB_DISPLAYER_TYPE_ORIGINAL) {
        out_.send_all(display_stream::dsply, frame, zub_frame_display_original(pos, frame));
    } else if (type == ZUB_DISPLAYER_TYPE_NORVAT) {
        out_.send_all(display_stream::dsply, frame, zub_frame_display_norvat(pos, frame));
    }

    if (zub_trace_contains(ctx_.tag_trace_cfg, pos.tag_id)) {
        out_.send_all(display_stream::dac_pos, frame, zub_frame_raw_pos(pos, frame));
    }
}

void display_core::on_tag_ext(const msg_imu_t& imu)
{
    BYTE frame[ZUB_FRAME_TAG_EXT_LEN];
    zub_frame_tag_ext(imu, frame);
    append(tag_ext_buff_, frame, ctx_.tag_ext.max_num);
}

BYTE display_core::anchor_status(WORD16 local_id) const
{
    const Anchor& a = ctx_.anchors[local_id];
    const AnchorLinkState link = a.link_state();
    if (!link.ever_connected) {
        return ZUB_ANC_STATUS_NEVER_CONNECTED;
    }
    if (link.sock == 0 || link.sock == 0xFFFFFFFFu) {
        return ZUB_ANC_STATUS_NO_LINK;
    }
    if (zub_load(ctx_.zubRTLSStarted) != 0) {
        const WORD64 now = wall_ms_();
        const WORD64 last = zub_load(a.last_ccp_time);
        if (now > last && now - last > ZUB_SYNC_STALE_MS) {
            return ZUB_ANC_STATUS_SYNC_STALE;
        }
    }
    return ZUB_ANC_STATUS_CONNECTED;
}

void display_core::on_anchor_status(WORD16 local_id)
{
    if (local_id >= ZUB_MAX_ANCHOR_NUM) {
        ZUB_PRINT(ZUB_PRINT_ERROR, "display anchor status for id %u out of range", local_id);
        return;
    }
    const WORD64 hardware_id = ctx_.anchors[local_id].hardware_id;
    if (hardware_id == 0) {
        return;
    }
    BYTE frame[ZUB_FRAME_ANC_STAT_LEN];
    zub_frame_anc_stat(hardware_id, anchor_status(local_id), frame);
    append(anc_stat_buff_, frame, ctx_.anc_stat.max_num);
}

void display_core::on_raw_blink(const msg_raw_blink_t& blink)
{
    count_blink(blink.tag_id);
    if (zub_trace_contains(ctx_.tag_trace_cfg, blink.tag_id)) {
        BYTE frame[ZUB_FRAME_RAW_BLINK_LEN];
        out_.send_all(display_stream::dac_blink, frame, zub_frame_raw_blink(blink, frame));
    }
}

void display_core::on_raw_ccp(const dac_ccp_rx_t& rx)
{
    if (zub_trace_contains(ctx_.anc_trace_cfg, rx.slave_id)) {
        BYTE frame[ZUB_FRAME_RAW_CCP_LEN];
        out_.send_all(display_stream::dac_ccp, frame, zub_frame_raw_ccp(rx, frame));
    }
}

void display_core::on_timer(BYTE type)
{
    switch (type) {
    case ZUB_DISPLAY_TIMER_TAG_LOC:
        // The streams without a timer of their own catch up with their slow clients here.
        for (display_stream s : {display_stream::tag_loc, display_stream::dsply, display_stream::dac_blink,
                                 display_stream::dac_pos, display_stream::dac_ccp}) {
            out_.drain(s);
        }
        return flush(tag_loc_buff_);
    case ZUB_DISPLAY_TIMER_TAG_EXT:
        out_.drain(display_stream::tag_ext);
        return flush(tag_ext_buff_);
    case ZUB_DISPLAY_TIMER_ANC_STAT:
        out_.drain(display_stream::anc_stat);
        return flush(anc_stat_buff_);
    case ZUB_DISPLAY_TIMER_TRACE:
        return read_trace_files();
    case ZUB_DISPLAY_TIMER_STATISTICS:
        return write_tag_statistics();
    default:
        ZUB_PRINT(ZUB_PRINT_ERROR, "display timer type %u unknown", type);
    }
}

// ---- tag statistics ---------------------------------------------------------------------------

// A full statistics table must leave the index room to end every search at a free slot.
static_assert(ZUB_TAG_STATISTICS_MAX < ZUB_TAG_INDEX_SLOTS);

void display_core::count_blink(WORD64 tag_id)
{
    tag_statistics_t& s = *stats_;
    const TagIndexProbe found = zub_tag_index_probe(stat_index_.data(), s.tag_blink, s.tag_cnt, tag_id);
    if (found.entry >= 0) {
        ++s.tag_blink[found.entry].blink_cnt;
        return;
    }
    if (s.tag_cnt < ZUB_TAG_STATISTICS_MAX && found.slot < ZUB_TAG_INDEX_SLOTS) {
        s.tag_blink[s.tag_cnt] = tag_blink_info_t{1, tag_id};
        ++s.tag_cnt;
        stat_index_[found.slot] = static_cast<WORD16>(s.tag_cnt);  // entry + 1
    }
}

void display_core::write_tag_statistics()
{
    tag_statistics_t& s = *stats_;
    if (s.tag_cnt == 0) {
        return;
    }
    const std::string path = root_ + "/log/tag_all_statistics.txt";
    FILE* f = std::fopen(path.c_str(), "w");
    if (f == nullptr) {
        ZUB_PRINT(ZUB_PRINT_ERROR, "open file failed.");
        return;
    }
    std::fprintf(f, "=================write time:%s 5s内这些tag收到了blink数量=================\n",
                 zub_stat_time_text(wall_ms_()).c_str());
    for (unsigned i = 0; i < s.tag_cnt; ++i) {
        std::fprintf(f, "tag id(%lx) rcv blink(%ld)\n", static_cast<unsigned long>(s.tag_blink[i].tag_id),
                     static_cast<long>(s.tag_blink[i].blink_cnt));
        s.tag_blink[i].blink_cnt = 0;
    }
    std::fprintf(f, "=================end=================\n");
    std::fclose(f);
}

// ---- trace lists -------------------------------------------------------------------------------

template <class List>
void display_core::read_trace_file(const char* name, const char* missing_line, List& list, mode_t& refused)
{
    const trace_file_read r = zub_read_trace_file(root_ + "/cfg/" + name);
    switch (r.result) {
    case trace_file_result::read:
        refused = 0;
        zub_trace_replace(list, r.ids.data(), static_cast<unsigned>(r.ids.size()));
        return;
    case trace_file_result::missing:
        refused = 0;
        ZUB_PRINT(ZUB_PRINT_ERROR, "%s", missing_line);
        return;
    case trace_file_result::not_regular:
        // Said once while the same kind of thing stays there, not at every reading.
        if (refused != r.type) {
            ZUB_PRINT(ZUB_PRINT_ERROR, "%s is a %s, not a regular file: its trace list is emptied", name,
                      zub_file_type_name(r.type));
            refused = r.type;
        }
        zub_trace_replace(list, nullptr, 0);
        return;
    }
}

void display_core::read_trace_files()
{
    read_trace_file("tag_trace.cfg", "cannot get tag_trace cfg file", ctx_.tag_trace_cfg, tag_trace_refused_);
    read_trace_file("anc_trace.cfg", "cannot get anc_trace cfg file", ctx_.anc_trace_cfg, anc_trace_refused_);
}
