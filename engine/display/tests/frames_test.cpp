// Every frame of the report streams, byte for byte, worked out field by field (little-endian).
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "zub_display_frames.h"

namespace {

using Bytes = std::vector<BYTE>;

Bytes encode(const std::function<size_t(BYTE*)>& enc)
{
    BYTE out[128];
    std::fill(std::begin(out), std::end(out), 0xEE);
    const size_t n = enc(out);
    EXPECT_EQ(out[n], 0xEE) << "wrote past its frame";
    return Bytes(out, out + n);
}

const msg_position_t kPos{4, 0x1122334455667788ull, 0x0102030405060708ull, 1500, -2, 0x01020304};

TEST(engine_display_Frames, EveryFrameByteForByte)
{
    const msg_imu_t imu{0x1122334455667788ull, 0x0102030405060708ull, 0xA1B2C3D4u, -5, 72, 3};
    const msg_raw_blink_t blink{0x1122334455667788ull, 0x0102030405060708ull, 0x9C};
    const dac_ccp_rx_t ccp{0x1122334455667788ull, 0x0102030405060708ull, 0x42, 0x1234};

    const Bytes tag = {0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11};
    const Bytes anc = {0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01};
    const Bytes x = {0xDC, 0x05, 0x00, 0x00}, y = {0xFE, 0xFF, 0xFF, 0xFF}, z = {0x04, 0x03, 0x02, 0x01};
    auto cat = [](std::initializer_list<Bytes> parts) {
        Bytes out;
        for (const Bytes& p : parts) {
            out.insert(out.end(), p.begin(), p.end());
        }
        return out;
    };
    // x = 1.5 m, y = -0.002 m, z = 16909.060 m as IEEE-754 doubles, little-endian.
    const Bytes dx = {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF8, 0x3F};
    const Bytes dy = {0xFC, 0xA9, 0xF1, 0xD2, 0x4D, 0x62, 0x60, 0xBF};
    const Bytes dz = {0x71, 0x3D, 0x0A, 0xD7, 0x43, 0x83, 0xD0, 0x40};
    Bytes idx(44, 0x00);
    idx[0] = 1, idx[2] = 2, idx[4] = 3, idx[6] = 4;

    struct Row {
        std::string name;
        std::function<size_t(BYTE*)> enc;
        size_t len;
        Bytes bytes;
    };
    const Row rows[] = {
        {"tag location", [&](BYTE* o) { return zub_frame_tag_loc(kPos, o); }, 33,
         cat({{0xA8, 0x1D, 0x00, 0x04}, tag, anc, x, y, z, {0xA8}})},
        {"tag extension", [&](BYTE* o) { return zub_frame_tag_ext(imu, o); }, 27,
         cat({{0xA8, 0x17, 0x00}, tag, anc, {0xD4, 0xC3, 0xB2, 0xA1, 0xFB, 72, 3, 0xA8}})},
        {"anchor status", [&](BYTE* o) { return zub_frame_anc_stat(0x0102030405060708ull, 4, o); }, 13,
         cat({{0xA8, 0x09, 0x00}, anc, {0x04, 0xA8}})},
        {"display original", [&](BYTE* o) { return zub_frame_display_original(kPos, o); }, 81,
         cat({{0x65}, dx, dy, dz, tag, {0x04, 0x00}, idx, {0x00, 0x00}})},
        {"display norvat", [&](BYTE* o) { return zub_frame_display_norvat(kPos, o); }, 32,
         cat({{0xA8, 0x1D, 0x65}, x, y, z, tag, anc, {0xA8}})},
        {"raw blink", [&](BYTE* o) { return zub_frame_raw_blink(blink, o); }, 20,
         cat({{0xA8, 0x11}, tag, anc, {0x9C, 0xA8}})},
        {"raw position", [&](BYTE* o) { return zub_frame_raw_pos(kPos, o); }, 23,
         cat({{0xA8, 0x14}, tag, x, y, z, {0xA8}})},
        {"raw clock sync", [&](BYTE* o) { return zub_frame_raw_ccp(ccp, o); }, 22,
         cat({{0xA8, 0x13}, tag, anc, {0x42, 0x34, 0x12, 0xA8}})},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        ASSERT_EQ(r.bytes.size(), r.len);
        EXPECT_EQ(encode(r.enc), r.bytes);
    }
}

TEST(engine_display_Frames, ShortBodiesAreRefused)
{
    const BYTE body[29] = {4};
    msg_position_t pos{};
    msg_imu_t imu{};
    msg_raw_blink_t blink{};
    dac_ccp_rx_t ccp{};
    struct Row {
        std::string name;
        std::function<bool(size_t)> decode;
        size_t len;
    };
    const Row rows[] = {
        {"position", [&](size_t n) { return msg_position_decode(body, n, &pos); }, 29},
        {"extension", [&](size_t n) { return msg_imu_decode(body, n, &imu); }, 23},
        {"raw blink", [&](size_t n) { return msg_raw_blink_decode(body, n, &blink); }, 17},
        {"clock sync", [&](size_t n) { return dac_ccp_rx_decode(body, n, &ccp); }, 19},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        EXPECT_FALSE(r.decode(r.len - 1));
        EXPECT_TRUE(r.decode(r.len));
    }
    EXPECT_FALSE(msg_position_decode(nullptr, 29, &pos));
}

}  // namespace
