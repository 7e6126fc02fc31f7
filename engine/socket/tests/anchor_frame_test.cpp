// The anchor frame parser and router on byte streams fed as reads, with what is routed captured.
#include <gtest/gtest.h>

#include <string>

#include "frame_test_support.h"
#include "zub_msg_id.h"

namespace {

using ft::Bytes;
using ft::frame;

// The routed body as the definition gives it: anchor id, L (both little-endian), payload.
Bytes body(WORD16 anc_id, const Bytes& payload)
{
    Bytes b{static_cast<BYTE>(anc_id & 0xFF), static_cast<BYTE>(anc_id >> 8), static_cast<BYTE>(payload.size() & 0xFF),
            static_cast<BYTE>(payload.size() >> 8)};
    b.insert(b.end(), payload.begin(), payload.end());
    return b;
}

struct Want {
    WORD32 event;
    WORD32 dst;
    Bytes payload;
};

constexpr WORD32 kM0 = ft::kManager0;
constexpr WORD32 kM1 = ft::kManager0 + 0x10000;
constexpr WORD32 kM2 = ft::kManager0 + 0x20000;
constexpr WORD32 kEv3 = ZUB_EV_SOCKET_XX_ANCHOR_MSG;
constexpr WORD32 kEv5 = ZUB_EV_SOCKET_TOF_ANCHOR_MSG;

TEST(AnchorFrame, TestCrcMatchesThePublishedCheckValue)
{
    const std::string check = "123456789";
    EXPECT_EQ(ft::kermit(reinterpret_cast<const BYTE*>(check.data()), check.size()), 0x2189);
}

TEST(AnchorFrame, DeliversAndRoutesFramesOfAStream)
{
    const Bytes toa{0x32, 0x11, 0x22, 0x33};
    const Bytes imu{0x33, 0x44};
    const Bytes tof{0x83, 0x05, 0x01};
    const Bytes cfg{0x42};
    const Bytes ccp_tx{0x30, 0x99};
    const Bytes ccp_rx{0x31, 0x98};
    const Bytes f = frame(toa);
    Bytes bad_crc = frame(imu);
    bad_crc[4] ^= 0x01;
    Bytes bad_etx = frame(imu);
    bad_etx.back() = 0x04;
    const Bytes empty = frame({});
    const Bytes too_long{0x02, 0x97, 0x1F};  // L = 8087

    struct Row {
        const char* name;
        std::vector<Bytes> reads;
        std::vector<Want> want;
    };
    const Row rows[] = {
        {"frame in three reads", {{f[0]}, {f[1], f[2]}, Bytes(f.begin() + 3, f.end())}, {{kEv3, kM0, toa}}},
        {"two frames in one read go to successive managers", {ft::cat({f, frame(imu)})},
         {{kEv3, kM0, toa}, {kEv3, kM1, imu}}},
        {"first byte 0x41 loses the frame behind it", {ft::cat({{0x41}, f})}, {}},
        {"bad CRC and the frame behind it both discarded", {ft::cat({bad_crc, f})}, {}},
        {"ranging report is event 5, next report to the next manager", {frame(tof), f},
         {{kEv5, kM0, tof}, {kEv3, kM1, toa}}},
        {"managers taken in turn", {f, f, f, f}, {{kEv3, kM0, toa}, {kEv3, kM1, toa}, {kEv3, kM2, toa}, {kEv3, kM0, toa}}},
        {"other codes to the control job", {frame(cfg)}, {{kEv3, ft::kControl, cfg}}},
        {"clock-sync reports do not advance the manager", {frame(ccp_tx), frame(ccp_rx), f},
         {{kEv3, ft::kClockSync, ccp_tx}, {kEv3, ft::kClockSync, ccp_rx}, {kEv3, kM0, toa}}},
        {"wrong ETX discarded, next read delivered", {ft::cat({bad_etx, Bytes(20, 0x55)}), f}, {{kEv3, kM0, toa}}},
        {"empty frame consumed, frame behind it delivered", {ft::cat({empty, f})}, {{kEv3, kM0, toa}}},
        {"empty frame alone, next read delivered", {empty, f}, {{kEv3, kM0, toa}}},
        {"L above the largest payload discarded at once", {too_long, f}, {{kEv3, kM0, toa}}},
        {"garbage then a frame in a later read", {Bytes{0x00, 0x02, 0x03}, f}, {{kEv3, kM0, toa}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ft::RouterRig rig;
        for (const Bytes& r : row.reads) {
            rig.read(r);
        }
        ASSERT_EQ(rig.routed.size(), row.want.size());
        for (size_t i = 0; i < row.want.size(); ++i) {
            EXPECT_EQ(rig.routed[i].event, row.want[i].event);
            EXPECT_EQ(rig.routed[i].dst, row.want[i].dst);
            EXPECT_EQ(rig.routed[i].body, body(7, row.want[i].payload));
        }
        EXPECT_EQ(rig.anchor().tcp_sock.rcv_len, 0u);
    }
}

TEST(AnchorFrame, LargestPayloadIsDeliveredWhole)
{
    Bytes payload(ZUB_ANCHOR_PAYLOAD_MAX);
    for (size_t i = 0; i < payload.size(); ++i) {
        payload[i] = static_cast<BYTE>(i * 7 + 1);
    }
    payload[0] = 0x32;
    const Bytes f = frame(payload);
    ASSERT_EQ(f.size(), 8092u);
    ft::RouterRig rig;
    rig.read(f);
    ASSERT_EQ(rig.routed.size(), 1u);
    EXPECT_EQ(rig.routed[0].body.size(), 8090u);
    EXPECT_EQ(rig.routed[0].body, body(7, payload));
}

TEST(AnchorFrame, AFullReadOfFramesIsDeliveredInOrderAndOnlyItsUnfinishedTailStays)
{
    // Frame i carries payload {0x32, i, i ^ 0x5A}; the read may end inside a further frame.
    struct Row {
        const char* name;
        unsigned frames;
        size_t tail;    // bytes of one more frame at the end of the read
        size_t unread;  // bytes the link holds beyond the read: told with every send of its frames
    };
    const unsigned fill = (ZUB_ANCHOR_RCV_BUFF_LEN - 4) / 9;  // 9-byte frames in a full buffer, room for 4 more
    const Row rows[] = {
        {"one frame and a header", 1, 3, 0},
        {"a full buffer, nothing left", fill, 0, 0},
        {"a full buffer but the last frame's ETX", fill, 8, 70000},
        {"a full buffer and an STX, the link far behind", fill, 1, 4u << 20},
    };
    auto payload = [](unsigned i) { return Bytes{0x32, static_cast<BYTE>(i), static_cast<BYTE>(i ^ 0x5A)}; };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Bytes read;
        for (unsigned i = 0; i < row.frames; ++i) {
            const Bytes f = frame(payload(i));
            read.insert(read.end(), f.begin(), f.end());
        }
        const Bytes next = frame(payload(row.frames));
        read.insert(read.end(), next.begin(), next.begin() + static_cast<long>(row.tail));
        ASSERT_LE(read.size(), ZUB_ANCHOR_RCV_BUFF_LEN);
        ft::RouterRig rig;
        ASSERT_EQ(rig.read(read.data(), read.size(), row.unread), read.size());
        ASSERT_EQ(rig.routed.size(), row.frames);
        unsigned wrong = 0;
        for (unsigned i = 0; i < row.frames; ++i) {
            const WORD32 manager = ft::kManager0 + ((i % ZUB_MANAGER_NUM) << 16);
            wrong += rig.routed[i].body != body(7, payload(i)) || rig.routed[i].dst != manager ||
                             rig.routed[i].link_unread != row.unread
                         ? 1
                         : 0;
        }
        EXPECT_EQ(wrong, 0u);
        EXPECT_EQ(rig.router().link_unread(), 0u);  // nothing left over for a later analyse
        const tcp_sock_t& s = rig.anchor().tcp_sock;
        ASSERT_EQ(s.rcv_len, row.tail);
        EXPECT_EQ(Bytes(s.rcv_buff, s.rcv_buff + row.tail), Bytes(next.begin(), next.begin() + static_cast<long>(row.tail)));
        for (size_t i = s.rcv_len; i < ZUB_ANCHOR_RCV_BUFF_LEN; ++i) {
            ASSERT_EQ(s.rcv_buff[i], 0) << i;
        }
        // The tail becomes a frame with the rest of its bytes.
        rig.read(Bytes(next.begin() + static_cast<long>(row.tail), next.end()));
        ASSERT_EQ(rig.routed.size(), row.frames + 1);
        EXPECT_EQ(rig.routed.back().body, body(7, payload(row.frames)));
        EXPECT_EQ(s.rcv_len, 0u);
    }
}

TEST(AnchorFrame, BufferHoldsAnIncompleteFrameAndEmptiesOnDiscard)
{
    struct Row {
        const char* name;
        Bytes bytes;
        WORD16 held;
        WORD16 len_get;
    };
    const Bytes f = frame({0x32, 1, 2, 3, 4});
    Bytes bad = f;
    bad[5] ^= 0xFF;
    const Row rows[] = {
        {"STX alone", {0x02}, 1, 0},
        {"header only", {0x02, 0x05, 0x00}, 3, 0},
        {"all but ETX", Bytes(f.begin(), f.end() - 1), static_cast<WORD16>(f.size() - 1), 0},
        {"bad CRC", bad, 0, 0},
        {"not STX", {0x7E, 0x02}, 0, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ft::RouterRig rig;
        rig.read(row.bytes);
        tcp_sock_t& s = rig.anchor().tcp_sock;
        EXPECT_EQ(s.rcv_len, row.held);
        EXPECT_EQ(zub_socket_tcp_msg_len_get(&s), row.len_get);
        for (size_t i = s.rcv_len; i < ZUB_ANCHOR_RCV_BUFF_LEN; ++i) {
            ASSERT_EQ(s.rcv_buff[i], 0) << i;
        }
        EXPECT_TRUE(rig.routed.empty());
    }
    // A complete frame gives its length without being consumed by the check.
    ft::RouterRig rig;
    std::memcpy(rig.anchor().tcp_sock.rcv_buff, f.data(), f.size());
    rig.anchor().tcp_sock.rcv_len = static_cast<WORD16>(f.size());
    EXPECT_EQ(zub_socket_tcp_msg_len_get(&rig.anchor().tcp_sock), 5);
}

}  // namespace
