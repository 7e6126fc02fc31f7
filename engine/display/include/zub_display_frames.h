// zub_display_frames.h - the byte frames the display job writes to report clients.
//
// Every multi-byte field is little-endian; 0xA8 opens and closes every framed record and the
// byte (or two) after the opening one gives the record's length. Each encoder writes exactly
// its frame size into `out` (which must have room for it) and returns that size. Pure
// functions; any thread.
#pragma once

#include <cstddef>

#include "VorlenTypes.h"
#include "zub_display_records.h"

constexpr BYTE ZUB_FRAME_MARK = 0xA8;
constexpr BYTE ZUB_DISPLAY_RECORD_CODE = 0x65;  // 'e'

constexpr size_t ZUB_FRAME_TAG_LOC_LEN = 33;
constexpr size_t ZUB_FRAME_TAG_EXT_LEN = 27;
constexpr size_t ZUB_FRAME_ANC_STAT_LEN = 13;
constexpr size_t ZUB_FRAME_DISPLAY_ORIGINAL_LEN = 81;
constexpr size_t ZUB_FRAME_DISPLAY_NORVAT_LEN = 32;
constexpr size_t ZUB_FRAME_RAW_BLINK_LEN = 20;
constexpr size_t ZUB_FRAME_RAW_POS_LEN = 23;
constexpr size_t ZUB_FRAME_RAW_CCP_LEN = 22;
constexpr size_t ZUB_FRAME_MAX_LEN = ZUB_FRAME_DISPLAY_ORIGINAL_LEN;

enum : WORD16 {
    ZUB_DISPLAYER_TYPE_ORIGINAL = 0,
    ZUB_DISPLAYER_TYPE_NORVAT = 1,
};

// Anchor status codes of the status frame.
enum : BYTE {
    ZUB_ANC_STATUS_NEVER_CONNECTED = 0,
    ZUB_ANC_STATUS_CONNECTED = 1,
    ZUB_ANC_STATUS_NO_LINK = 3,
    ZUB_ANC_STATUS_SYNC_STALE = 4,
};

size_t zub_frame_tag_loc(const msg_position_t& pos, BYTE* out);
size_t zub_frame_tag_ext(const msg_imu_t& imu, BYTE* out);
size_t zub_frame_anc_stat(WORD64 hardware_id, BYTE status, BYTE* out);
// The display record of one position: `pos_report_ext_t` (x, y, z in metres, the tag id, four
// anchors numbered 1..4) after the code byte.
size_t zub_frame_display_original(const msg_position_t& pos, BYTE* out);
// The framed `tag_pos_report_t` (x, y, z in mm, tag id, the position's anchor id).
size_t zub_frame_display_norvat(const msg_position_t& pos, BYTE* out);
size_t zub_frame_raw_blink(const msg_raw_blink_t& blink, BYTE* out);
size_t zub_frame_raw_pos(const msg_position_t& pos, BYTE* out);
size_t zub_frame_raw_ccp(const dac_ccp_rx_t& rx, BYTE* out);
