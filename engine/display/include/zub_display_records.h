// zub_display_records.h - reading the records other engine jobs send to the display job (a
// solved position, a tag's extension data, a raw blink, a clock-sync reception; their layouts
// are the engine's shared ones of zub_job_records.h).
//
// A body is decoded with the matching *_decode, which checks its length first, so a short or
// malformed message is refused instead of read past. Any thread.
#pragma once

#include <cstddef>
#include <cstdint>

#include "VorlenTypes.h"
#include "zub_job_records.h"

// Each copies the record out of a message body; false when the body is null or shorter than
// the record (bytes beyond the record are ignored).
bool msg_position_decode(const BYTE* body, size_t len, msg_position_t* out);
bool msg_imu_decode(const BYTE* body, size_t len, msg_imu_t* out);
bool msg_raw_blink_decode(const BYTE* body, size_t len, msg_raw_blink_t* out);
bool dac_ccp_rx_decode(const BYTE* body, size_t len, dac_ccp_rx_t* out);
