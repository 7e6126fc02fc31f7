#include "anchorsim/frames.h"

#include "zub_crc16.h"

namespace anchorsim {

namespace {

void put_le(Bytes* b, uint64_t v, unsigned n)
{
    for (unsigned i = 0; i < n; ++i) {
        b->push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
}

Bytes frame(const Bytes& payload, bool good_crc, uint8_t etx = kEtx)
{
    if (payload.size() > kMaxPayload) {
        return {};
    }
    Bytes f;
    f.reserve(payload.size() + 6);
    f.push_back(kStx);
    put_le(&f, payload.size(), 2);
    f.insert(f.end(), payload.begin(), payload.end());
    // The engine's CRC routine gives the byte stored first in its high half.
    WORD16 crc = calc_crc16(payload.data(), static_cast<int16_t>(payload.size()));
    if (!good_crc) {
        crc = static_cast<WORD16>(~crc);
    }
    f.push_back(static_cast<uint8_t>(crc >> 8));
    f.push_back(static_cast<uint8_t>(crc & 0xFF));
    f.push_back(etx);
    return f;
}

// The 18-byte head shared by arrival reports and clock-calibration receptions.
Bytes report_head(uint8_t code, uint8_t seq, uint64_t id, uint64_t rx_ticks, uint16_t first_path)
{
    Bytes p;
    p.reserve(18 + 30);
    p.push_back(code);
    p.push_back(seq);
    put_le(&p, id, 8);
    put_le(&p, rx_ticks & ((uint64_t{1} << 40) - 1), 5);
    put_le(&p, static_cast<uint64_t>(first_path) * 64u, 2);
    return p;
}

}  // namespace

Bytes encode_frame(const Bytes& payload)
{
    return frame(payload, true);
}

Bytes encode_frame_bad_crc(const Bytes& payload)
{
    return frame(payload, false);
}

Bytes encode_frame_bad_etx(const Bytes& payload)
{
    return frame(payload, true, kBadEtx);
}

Bytes req_cfg_payload(uint64_t hw_id, const std::string& version)
{
    Bytes p{0x42};
    put_le(&p, hw_id, 8);
    p.insert(p.end(), version.begin(), version.end());
    p.push_back(0);
    return p;
}

Bytes ccp_tx_payload(uint8_t seq, uint64_t tx_ticks)
{
    Bytes p{0x30, seq};
    put_le(&p, tx_ticks & ((uint64_t{1} << 40) - 1), 5);
    p.push_back(0);  // no extension
    return p;
}

Bytes ccp_rx_payload(uint8_t seq, uint64_t master_id, uint64_t rx_ticks, uint16_t first_path)
{
    Bytes p = report_head(0x31, seq, master_id, rx_ticks, first_path);
    p.push_back(0);
    return p;
}

Bytes toa_payload(uint8_t seq, uint64_t tag_id, uint64_t rx_ticks, uint16_t first_path)
{
    Bytes p = report_head(0x32, seq, tag_id, rx_ticks, first_path);
    p.push_back(0);
    return p;
}

Bytes toa_imu_payload(uint8_t seq, uint64_t tag_id, uint64_t rx_ticks, uint16_t first_path, const ImuData& imu)
{
    Bytes p = report_head(0x33, seq, tag_id, rx_ticks, first_path);
    p.push_back(30);
    Bytes data(30, 0);
    data[2] = 2;  // an inertial record
    data[3] = imu.warn_type;
    data[4] = imu.heart_rate;
    data[5] = imu.power;
    data[6] = static_cast<uint8_t>(imu.temperature);
    p.insert(p.end(), data.begin(), data.end());
    return p;
}

Bytes tof_payload(uint8_t seq, uint16_t anchor_short_id, uint16_t tag_short_id, int32_t distance_mm)
{
    Bytes p{0x83, seq};
    put_le(&p, anchor_short_id, 2);
    put_le(&p, tag_short_id, 2);
    put_le(&p, static_cast<uint32_t>(distance_mm), 4);
    p.insert(p.end(), {0, 0, 0, 0});  // no alarm, spare bytes
    return p;
}

}  // namespace anchorsim
