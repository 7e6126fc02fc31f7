// zub_display_records.h - the records other engine jobs send to the display job: a solved
// position, a tag's extension (motion-sensor) data, a raw blink and a clock-sync reception.
//
// Packed little-endian message bodies. A body is decoded with the matching *_decode, which
// checks its length first, so a short or malformed message is refused instead of read past.
// Plain data; any thread.
#pragma once

#include <cstddef>
#include <cstdint>

#include "VorlenTypes.h"

#pragma pack(push, 1)
struct msg_position_t {
    BYTE anchor_mode;  // 1 single, 2 couple, 4 multiple
    WORD64 tag_id;
    WORD64 anchor_id;
    SWORD32 x;  // mm
    SWORD32 y;
    SWORD32 z;
};

struct msg_imu_t {
    WORD64 tagId;
    WORD64 anchor_id;
    WORD32 power;
    int8_t temperature;
    BYTE heart_rate;
    BYTE warn_type;
};

struct msg_raw_blink_t {
    WORD64 tag_id;
    WORD64 anchor_id;
    BYTE seq;
};

struct dac_ccp_rx_t {
    WORD64 slave_id;
    WORD64 master_id;
    BYTE seq_num;
    WORD16 first_path;
};
#pragma pack(pop)

static_assert(sizeof(msg_position_t) == 29, "msg_position_t is a 29-byte message body");
static_assert(sizeof(msg_imu_t) == 23, "msg_imu_t is a 23-byte message body");
static_assert(sizeof(msg_raw_blink_t) == 17, "msg_raw_blink_t is a 17-byte message body");
static_assert(sizeof(dac_ccp_rx_t) == 19, "dac_ccp_rx_t is a 19-byte message body");

// Each copies the record out of a message body; false when the body is null or shorter than
// the record (bytes beyond the record are ignored).
bool msg_position_decode(const BYTE* body, size_t len, msg_position_t* out);
bool msg_imu_decode(const BYTE* body, size_t len, msg_imu_t* out);
bool msg_raw_blink_decode(const BYTE* body, size_t len, msg_raw_blink_t* out);
bool dac_ccp_rx_decode(const BYTE* body, size_t len, dac_ccp_rx_t* out);
