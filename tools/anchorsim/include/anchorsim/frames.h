// frames.h - the bytes an anchor sends: the frame around a payload (STX 0x02, u16 payload
// length, payload, CRC-16/KERMIT of the payload, ETX 0x03, multi-byte fields little-endian)
// and the payloads of the reports and requests. Pure functions; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace anchorsim {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t kStx = 0x02;
constexpr uint8_t kEtx = 0x03;
constexpr size_t kMaxPayload = 8092 - 6;

// The whole frame of a payload (at most kMaxPayload bytes; a longer one gives an empty
// frame).
Bytes encode_frame(const Bytes& payload);
// The same frame with its CRC bytes inverted, so that it fails the check.
Bytes encode_frame_bad_crc(const Bytes& payload);
// The same frame, checksum right, ending in a byte other than ETX (kBadEtx).
constexpr uint8_t kBadEtx = 0xFC;
Bytes encode_frame_bad_etx(const Bytes& payload);

// 'B': the anchor asks for its configuration: code, its hardware id (8 bytes), the version
// text and a NUL.
Bytes req_cfg_payload(uint64_t hw_id, const std::string& version);

// '0': a master's clock-calibration packet sent: code, seq, 40-bit transmit time, extLen 0.
Bytes ccp_tx_payload(uint8_t seq, uint64_t tx_ticks);
// '1': a clock-calibration packet heard: code, seq, master id, 40-bit receive time,
// first-path index x 64, extLen 0.
Bytes ccp_rx_payload(uint8_t seq, uint64_t master_id, uint64_t rx_ticks, uint16_t first_path);

// Inertial data of a 0x33 report (30 bytes; byte 2 = 2 marks a record to forward).
struct ImuData {
    uint8_t warn_type = 0;
    uint8_t heart_rate = 72;
    uint8_t power = 90;
    int8_t temperature = 25;
};

// '2': a blink's time of arrival: code, seq, tag id, 40-bit arrival, first-path index x 64,
// extLen 0.
Bytes toa_payload(uint8_t seq, uint64_t tag_id, uint64_t rx_ticks, uint16_t first_path);
// '3': the same head with the 30 bytes of inertial data as its extension.
Bytes toa_imu_payload(uint8_t seq, uint64_t tag_id, uint64_t rx_ticks, uint16_t first_path, const ImuData& imu);
// 0x83: a range to a ranging tag: code, seq, anchor short id, tag short id, distance in
// millimetres (i32), alarm status, alarm, two spare bytes (14 bytes).
Bytes tof_payload(uint8_t seq, uint16_t anchor_short_id, uint16_t tag_short_id, int32_t distance_mm);

}  // namespace anchorsim
