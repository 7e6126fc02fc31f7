#include "zub_display_frames.h"

#include <cstring>

namespace {

// Appends little-endian fields whatever the host order.
class frame_writer {
public:
    explicit frame_writer(BYTE* out) : out_(out) {}

    frame_writer& u8(BYTE v)
    {
        out_[n_++] = v;
        return *this;
    }
    frame_writer& le(WORD64 v, unsigned bytes)
    {
        for (unsigned i = 0; i < bytes; ++i) {
            out_[n_++] = static_cast<BYTE>(v >> (8 * i));
        }
        return *this;
    }
    frame_writer& u16(WORD16 v) { return le(v, 2); }
    frame_writer& u32(WORD32 v) { return le(v, 4); }
    frame_writer& i32(SWORD32 v) { return le(static_cast<WORD32>(v), 4); }
    frame_writer& u64(WORD64 v) { return le(v, 8); }
    frame_writer& f64(double v)
    {
        WORD64 bits = 0;
        std::memcpy(&bits, &v, sizeof bits);
        return le(bits, 8);
    }
    frame_writer& zeros(unsigned n)
    {
        std::memset(out_ + n_, 0, n);
        n_ += n;
        return *this;
    }
    size_t size() const { return n_; }

private:
    BYTE* out_;
    size_t n_ = 0;
};

}  // namespace

size_t zub_frame_tag_loc(const msg_position_t& pos, BYTE* out)
{
    frame_writer w(out);
    w.u8(ZUB_FRAME_MARK).u16(sizeof(msg_position_t));
    w.u8(pos.anchor_mode).u64(pos.tag_id).u64(pos.anchor_id).i32(pos.x).i32(pos.y).i32(pos.z);
    return w.u8(ZUB_FRAME_MARK).size();
}

size_t zub_frame_tag_ext(const msg_imu_t& imu, BYTE* out)
{
    frame_writer w(out);
    w.u8(ZUB_FRAME_MARK).u16(sizeof(msg_imu_t));
    w.u64(imu.tagId).u64(imu.anchor_id).u32(imu.power);
    w.u8(static_cast<BYTE>(imu.temperature)).u8(imu.heart_rate).u8(imu.warn_type);
    return w.u8(ZUB_FRAME_MARK).size();
}

size_t zub_frame_anc_stat(WORD64 hardware_id, BYTE status, BYTE* out)
{
    frame_writer w(out);
    w.u8(ZUB_FRAME_MARK).u16(9).u64(hardware_id).u8(status);
    return w.u8(ZUB_FRAME_MARK).size();
}

size_t zub_frame_display_original(const msg_position_t& pos, BYTE* out)
{
    frame_writer w(out);
    w.u8(ZUB_DISPLAY_RECORD_CODE);
    w.f64(pos.x / 1000.0).f64(pos.y / 1000.0).f64(pos.z / 1000.0).u64(pos.tag_id);
    w.u8(4).zeros(1);  // nAnch, then the byte that aligns idx
    for (WORD16 i = 1; i <= 4; ++i) {
        w.u16(i);
    }
    w.zeros(18 * 2);
    return w.zeros(2).size();
}

size_t zub_frame_display_norvat(const msg_position_t& pos, BYTE* out)
{
    frame_writer w(out);
    w.u8(ZUB_FRAME_MARK).u8(0x1D).u8(ZUB_DISPLAY_RECORD_CODE);
    w.i32(pos.x).i32(pos.y).i32(pos.z).u64(pos.tag_id).u64(pos.anchor_id);
    return w.u8(ZUB_FRAME_MARK).size();
}

size_t zub_frame_raw_blink(const msg_raw_blink_t& blink, BYTE* out)
{
    frame_writer w(out);
    w.u8(ZUB_FRAME_MARK).u8(sizeof(msg_raw_blink_t));
    w.u64(blink.tag_id).u64(blink.anchor_id).u8(blink.seq);
    return w.u8(ZUB_FRAME_MARK).size();
}

size_t zub_frame_raw_pos(const msg_position_t& pos, BYTE* out)
{
    frame_writer w(out);
    w.u8(ZUB_FRAME_MARK).u8(0x14);
    w.u64(pos.tag_id).i32(pos.x).i32(pos.y).i32(pos.z);
    return w.u8(ZUB_FRAME_MARK).size();
}

size_t zub_frame_raw_ccp(const dac_ccp_rx_t& rx, BYTE* out)
{
    frame_writer w(out);
    w.u8(ZUB_FRAME_MARK).u8(sizeof(dac_ccp_rx_t));
    w.u64(rx.slave_id).u64(rx.master_id).u8(rx.seq_num).u16(rx.first_path);
    return w.u8(ZUB_FRAME_MARK).size();
}
