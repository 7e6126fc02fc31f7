#include "selector_site.h"

#include <algorithm>
#include <cmath>
#include <mutex>

namespace selector_site {

void reset_context(unsigned upto)
{
    context_t& c = *zub_context();
    c.zubWirelessSync = 1;
    c.zubFPIRF = 0;
    c.zubSolveWaitTime = 20;
    c.zubSolver3D = 0;
    c.zeroAlgorithmEnable = 0;
    c.enable_motion_filter = 0;
    c.min_mulitiple = 3;
    c.single_blink_count = 4;
    c.single_blink_expire = 20;
    c.max_position_variance = 0.0f;
    c.max_human_speed = 0.0f;
    c.toa_ignore_time = 350;
    c.tad_id_prefix = 0;
    c.ground_clearance = 0.0;
    c.filter = 0;
    c.log_ctrl = log_ctrl_t{};
    c.anchor_count = 0;
    for (unsigned i = 0; i < upto; ++i) {
        Anchor& a = c.anchors[i];
        a.init(0, static_cast<WORD16>(i));
        a.hardware_id = 0;
        std::lock_guard<GuardMutex> hold(a.cfg_lock);
        AnchorConfig cfg = a.config_snapshot();
        cfg.mode = ZUB_ANCHOR_WORKING_MODE_MULTIPLE;
        cfg.position[0] = cfg.position[1] = cfg.position[2] = 0.0;
        a.config_publish(cfg);
    }
    Selector::FreeGlobalDistanceMatrix();
}

void place_anchor(WORD16 id, WORD64 hw, double x, double y, double z, BYTE mode, WORD16 idx)
{
    context_t& c = *zub_context();
    Anchor& a = c.anchors[id];
    a.init(hw, id);
    {
        std::lock_guard<GuardMutex> hold(a.cfg_lock);
        AnchorConfig cfg = a.config_snapshot();
        cfg.idx = idx;
        cfg.mode = mode;
        cfg.position[0] = x;
        cfg.position[1] = y;
        cfg.position[2] = z;
        a.config_publish(cfg);
    }
    if (c.anchor_count <= id) {
        c.anchor_count = static_cast<WORD16>(id + 1);
    }
}

void set_anchor(WORD16 id, WORD64 hw, double x, double y, double z, BYTE mode)
{
    place_anchor(id, hw, x, y, z, mode, static_cast<WORD16>(id + 100));
}

void set_anchor_config(WORD16 id, void (*edit)(AnchorConfig&, const void*), const void* arg)
{
    Anchor& a = zub_context()->anchors[id];
    std::lock_guard<GuardMutex> hold(a.cfg_lock);
    AnchorConfig cfg = a.config_snapshot();
    edit(cfg, arg);
    a.config_publish(cfg);
}

void set_four_anc_mode(WORD16 id, bool on)
{
    set_anchor_config(id, [](AnchorConfig& c, const void* v) { c.four_anc_mode = *static_cast<const bool*>(v); }, &on);
}

void set_master_flag(WORD16 id, int master)
{
    set_anchor_config(id, [](AnchorConfig& c, const void* v) { c.master = *static_cast<const int*>(v); }, &master);
}

void set_reference(WORD16 id, int reference)
{
    set_anchor_config(id, [](AnchorConfig& c, const void* v) { c.reference = *static_cast<const int*>(v); }, &reference);
}

void set_clock_offset(WORD16 id, double offset)
{
    set_anchor_config(id, [](AnchorConfig& c, const void* v) { c.clockOffset = *static_cast<const double*>(v); },
                      &offset);
}

void publish_sync(WORD16 slave, unsigned slot, WORD16 master, WORD64 updated_ms, const SyncFilter& f, bool valid)
{
    context_t& c = *zub_context();
    Anchor& a = c.anchors[slave];
    std::lock_guard<std::mutex> hold(zub_ccp_lock());
    ClockSync cs = a.cs_snapshot(slot);
    cs.master = &c.anchors[master];
    cs.valid_sync = valid;
    cs.last_update_time = updated_ms;
    cs.cs_kalman.x0 = f.x0;
    cs.cs_kalman.x1 = f.x1;
    cs.cs_kalman.prevTxTime = f.prev_tx;
    cs.cs_kalman.prevRxTime = f.prev_rx;
    a.cs_publish(slot, cs);
    if (a.cs_count() <= slot) {
        a.cs_set_count(static_cast<WORD16>(slot + 1));
    }
}

void set_sync(WORD16 slave, unsigned slot, WORD16 master, WORD64 updated_ms, double offset, bool valid)
{
    publish_sync(slave, slot, master, updated_ms, SyncFilter{offset, 1.0, 0.0, offset}, valid);
}

double anchor_distance(WORD16 id, double x, double y, double z)
{
    const AnchorConfig cfg = zub_context()->anchors[id].config_snapshot();
    return std::sqrt((cfg.position[0] - x) * (cfg.position[0] - x) + (cfg.position[1] - y) * (cfg.position[1] - y) +
                     (cfg.position[2] - z) * (cfg.position[2] - z));
}

std::vector<BYTE> toa_msg(BYTE type, WORD16 anc, BYTE seq, WORD64 tag, WORD64 ticks, WORD16 first_path16,
                          const std::vector<BYTE>& ext)
{
    std::vector<BYTE> m(22 + ext.size());
    m[0] = anc & 0xFF;
    m[1] = anc >> 8;
    const size_t data_len = 18 + ext.size();
    m[2] = data_len & 0xFF;
    m[3] = (data_len >> 8) & 0xFF;
    BYTE* p = m.data() + 4;
    p[0] = type;
    p[1] = seq;
    for (int i = 0; i < 8; ++i) {
        p[2 + i] = static_cast<BYTE>(tag >> (8 * i));
    }
    for (int i = 0; i < 5; ++i) {
        p[10 + i] = static_cast<BYTE>(ticks >> (8 * i));
    }
    p[15] = first_path16 & 0xFF;
    p[16] = first_path16 >> 8;
    p[17] = static_cast<BYTE>(ext.size());
    std::copy(ext.begin(), ext.end(), p + 18);
    return m;
}

std::vector<BYTE> tof_msg(WORD16 anc, BYTE seq, WORD16 short_id, int32_t distance, BYTE alarm_status, BYTE alarm)
{
    std::vector<BYTE> m(18, 0);
    m[0] = anc & 0xFF;
    m[1] = anc >> 8;
    m[2] = 14;
    BYTE* p = m.data() + 4;
    p[0] = 0x83;
    p[1] = seq;
    p[4] = short_id & 0xFF;
    p[5] = short_id >> 8;
    const auto d = static_cast<WORD32>(distance);
    for (int i = 0; i < 4; ++i) {
        p[6 + i] = static_cast<BYTE>(d >> (8 * i));
    }
    p[10] = alarm_status;
    p[11] = alarm;
    return m;
}

WORD64 ticks_of(double seconds)
{
    return static_cast<WORD64>(std::llround(seconds * 128.0 * 499.2e6));
}

}  // namespace selector_site
