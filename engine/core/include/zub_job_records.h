// zub_job_records.h - the message bodies that cross engine jobs: an anchor report as the frame
// router hands it on (socket to managers, clock sync, selectors), the left-over report of a
// link's buffer (socket to reconnection), and the records the display job takes in (raw blink
// from the managers, position and extension data from the selectors, clock-sync receptions).
//
// Packed, little-endian (the host's order); each job that sends or reads one of these uses this
// definition, so their sizes cannot drift apart. Plain data; any thread.
#pragma once

#include <cstddef>
#include <cstdint>

#include "VorlenTypes.h"
#include "zub_anchor.h"

// The largest payload an anchor's 8092-byte receive buffer can hold with its 6 framing bytes.
constexpr WORD16 ZUB_ANCHOR_PAYLOAD_MAX = ZUB_ANCHOR_RCV_BUFF_LEN - 6;

#pragma pack(push, 1)

// Body of ZUB_EV_SOCKET_XX_ANCHOR_MSG, ZUB_EV_SOCKET_TOF_ANCHOR_MSG and of the clock-sync
// reports: only 4 + data_len bytes are sent.
struct sock_data_t {
    WORD16 anc_id;    // local anchor id
    WORD16 data_len;  // payload length L
    BYTE rcv_data[ZUB_ANCHOR_PAYLOAD_MAX];
};

// Body of ZUB_EV_SOCKET_RECON_RCVLEN_WRONG.
struct rcvlen_wrong_t {
    WORD16 anc_id;
    WORD16 left_over;
};

// Body of ZUB_EV_SELECTOR_DISPLAY_TAG_LOC, millimetres.
struct msg_position_t {
    BYTE anchor_mode;  // 1 single, 2 couple, 4 multiple
    WORD64 tag_id;
    WORD64 anchor_id;  // an anchor's hardware id
    SWORD32 x;
    SWORD32 y;
    SWORD32 z;
};

// Body of ZUB_EV_SELECTOR_DISPLAY_TAG_EXT: a tag's extension (motion-sensor) data.
struct msg_imu_t {
    WORD64 tagId;
    WORD64 anchor_id;  // hardware id of the reporting anchor
    WORD32 power;
    int8_t temperature;
    BYTE heart_rate;
    BYTE warn_type;
};

// Body of ZUB_EV_SELECTOR_DISPLAY_RAW_BLIBK, sent by the managers.
struct msg_raw_blink_t {
    WORD64 tag_id;
    WORD64 anchor_id;  // hardware id of the reporting anchor
    BYTE seq;
};

// Body of ZUB_EV_CLOCKSYNC_DISPLAY_DAC_CCP.
struct dac_ccp_rx_t {
    WORD64 slave_id;
    WORD64 master_id;
    BYTE seq_num;
    WORD16 first_path;  // firstPath16 >> 6
};

#pragma pack(pop)

// Bytes of a sock_data_t before its payload.
constexpr std::size_t ZUB_SOCK_DATA_HEAD_LEN = offsetof(sock_data_t, rcv_data);

static_assert(ZUB_SOCK_DATA_HEAD_LEN == 4, "u16 anchor id, u16 payload length");
static_assert(sizeof(sock_data_t) == 4 + ZUB_ANCHOR_PAYLOAD_MAX, "sock_data_t holds the largest payload");
static_assert(sizeof(rcvlen_wrong_t) == 4, "rcvlen_wrong_t is a 4-byte message body");
static_assert(sizeof(msg_position_t) == 29, "msg_position_t is a 29-byte message body");
static_assert(sizeof(msg_imu_t) == 23, "msg_imu_t is a 23-byte message body");
static_assert(sizeof(msg_raw_blink_t) == 17, "msg_raw_blink_t is a 17-byte message body");
static_assert(sizeof(dac_ccp_rx_t) == 19, "dac_ccp_rx_t is a 19-byte message body");
