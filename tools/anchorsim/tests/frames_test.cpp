// The frames a fake anchor sends, byte for byte against the frame layout: STX 0x02, u16
// payload length little-endian, payload, CRC-16/KERMIT of the payload little-endian, ETX 0x03.
#include <gtest/gtest.h>

#include "anchorsim/frames.h"
#include "zub_crc16.h"

using anchorsim::Bytes;

namespace {

// CRC-16/KERMIT bit by bit (reflected polynomial 0x8408, initial 0, no final XOR): an
// independent reckoning of the checksum a frame must carry.
uint16_t kermit(const Bytes& data)
{
    uint16_t crc = 0;
    for (uint8_t b : data) {
        crc ^= b;
        for (int i = 0; i < 8; ++i) {
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0x8408) : static_cast<uint16_t>(crc >> 1);
        }
    }
    return crc;
}

Bytes framed_by_hand(const Bytes& payload)
{
    Bytes f;
    f.reserve(payload.size() + 6);
    f.push_back(0x02);
    f.push_back(static_cast<uint8_t>(payload.size()));
    f.push_back(static_cast<uint8_t>(payload.size() >> 8));
    for (uint8_t b : payload) {
        f.push_back(b);
    }
    const uint16_t crc = kermit(payload);
    f.push_back(static_cast<uint8_t>(crc));
    f.push_back(static_cast<uint8_t>(crc >> 8));
    f.push_back(0x03);
    return f;
}

}  // namespace

TEST(anchorsim_Frames, FrameAroundAPayload)
{
    struct Row {
        const char* what;
        Bytes payload;
        Bytes frame;
    };
    const Row rows[] = {
        {"check string", {'1', '2', '3', '4', '5', '6', '7', '8', '9'},
         {0x02, 0x09, 0x00, '1', '2', '3', '4', '5', '6', '7', '8', '9', 0x89, 0x21, 0x03}},
        {"empty payload", {}, {0x02, 0x00, 0x00, 0x00, 0x00, 0x03}},
        {"start command code", {0x57, 0x01}, framed_by_hand({0x57, 0x01})},
        {"300 bytes: length high byte", Bytes(300, 0xA5), framed_by_hand(Bytes(300, 0xA5))},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        const Bytes f = anchorsim::encode_frame(r.payload);
        EXPECT_EQ(f, r.frame);
        EXPECT_EQ(check_crc16(f.data() + 3, static_cast<WORD16>(r.payload.size() + 2)), CRC_OKAY);
    }
    EXPECT_EQ(anchorsim::encode_frame(Bytes(8086, 1)).size(), 8092u);
    EXPECT_TRUE(anchorsim::encode_frame(Bytes(8087, 1)).empty());
}

// A broken frame differs from the good one in exactly the bytes named, so that only the
// check it is meant to fail fails.
TEST(anchorsim_Frames, BrokenFramesDifferOnlyWhereNamed)
{
    const Bytes payload = {0x32, 0x01, 0x02, 0x03};
    const uint16_t crc = kermit(payload);
    const uint8_t lo = static_cast<uint8_t>(crc), hi = static_cast<uint8_t>(crc >> 8);
    struct Row {
        const char* what;
        Bytes got;
        Bytes want;
        bool crc_ok;
    };
    const Row rows[] = {
        {"checksum inverted", anchorsim::encode_frame_bad_crc(payload),
         {0x02, 0x04, 0x00, 0x32, 0x01, 0x02, 0x03, static_cast<uint8_t>(~lo), static_cast<uint8_t>(~hi), 0x03}, false},
        {"end byte not ETX", anchorsim::encode_frame_bad_etx(payload),
         {0x02, 0x04, 0x00, 0x32, 0x01, 0x02, 0x03, lo, hi, 0xFC}, true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        EXPECT_EQ(r.got, r.want);
        EXPECT_EQ(check_crc16(r.got.data() + 3, 6), r.crc_ok ? CRC_OKAY : CRC_ERROR);
    }
}

TEST(anchorsim_Frames, ReportPayloads)
{
    struct Row {
        const char* what;
        Bytes got;
        Bytes want;
    };
    anchorsim::ImuData imu;
    imu.warn_type = 1;
    imu.heart_rate = 80;
    imu.power = 55;
    imu.temperature = -5;
    Bytes imu_want = {0x33, 0x09, 0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01, 0xEE, 0xDD, 0xCC, 0xBB, 0xAA,
                      0x80, 0xBB, 30};
    Bytes imu_data(30, 0);
    imu_data[2] = 2;
    imu_data[3] = 1;
    imu_data[4] = 80;
    imu_data[5] = 55;
    imu_data[6] = 0xFB;
    imu_want.insert(imu_want.end(), imu_data.begin(), imu_data.end());
    const Row rows[] = {
        // first path 750 -> 750 x 64 = 48000 = 0xBB80
        {"arrival", anchorsim::toa_payload(0x11, 0x0102030405060708ull, 0xAABBCCDDEEull, 750),
         {0x32, 0x11, 0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01, 0xEE, 0xDD, 0xCC, 0xBB, 0xAA, 0x80, 0xBB, 0x00}},
        {"arrival time cut to 40 bits", anchorsim::toa_payload(0, 1, 0x12AABBCCDDEEull, 0),
         {0x32, 0x00, 0x01, 0, 0, 0, 0, 0, 0, 0, 0xEE, 0xDD, 0xCC, 0xBB, 0xAA, 0x00, 0x00, 0x00}},
        {"arrival with inertial data", anchorsim::toa_imu_payload(0x09, 0x0102030405060708ull, 0xAABBCCDDEEull, 750, imu),
         imu_want},
        // first path 700 -> 44800 = 0xAF00
        {"clock packet heard", anchorsim::ccp_rx_payload(7, 0x0822614400000001ull, 0x100, 700),
         {0x31, 0x07, 0x01, 0x00, 0x00, 0x00, 0x44, 0x61, 0x22, 0x08, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0xAF, 0x00}},
        {"clock packet sent", anchorsim::ccp_tx_payload(0xFE, 0x0102030405ull),
         {0x30, 0xFE, 0x05, 0x04, 0x03, 0x02, 0x01, 0x00}},
        // 1234 mm = 0x4D2
        {"range", anchorsim::tof_payload(3, 0x0001, 0x0105, 1234),
         {0x83, 0x03, 0x01, 0x00, 0x05, 0x01, 0xD2, 0x04, 0x00, 0x00, 0, 0, 0, 0}},
        {"negative range", anchorsim::tof_payload(4, 0x0203, 0x0405, -2),
         {0x83, 0x04, 0x03, 0x02, 0x05, 0x04, 0xFE, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}},
        {"configuration request", anchorsim::req_cfg_payload(0x0822614400000001ull, "v1"),
         {0x42, 0x01, 0x00, 0x00, 0x00, 0x44, 0x61, 0x22, 0x08, 'v', '1', 0x00}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        EXPECT_EQ(r.got, r.want);
    }
}
