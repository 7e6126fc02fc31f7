// zub_selector_records.h - the byte layouts a selector reads and writes: the three anchor
// report payloads it takes in (the records it sends to the display job are the engine's shared
// ones of zub_job_records.h).
//
// Plain packed layouts and offsets; any thread.
#pragma once

#include <cstdint>

#include "VorlenTypes.h"
#include "zub_job_records.h"

// Every report reaches a selector as a sock_data_t: u16 anc_id, u16 data_len, payload.
constexpr unsigned ZUB_SOCK_DATA_HEAD = ZUB_SOCK_DATA_HEAD_LEN;

// report_toa_v4_t (0x32) and report_toa_imu_v4_t (0x33): offsets inside the payload.
constexpr unsigned ZUB_TOA_SEQ = 1;
constexpr unsigned ZUB_TOA_TAG_ID = 2;
constexpr unsigned ZUB_TOA_RAW_TOA = 10;
constexpr unsigned ZUB_TOA_FIRST_PATH = 15;
constexpr unsigned ZUB_TOA_EXT_LEN = 17;
constexpr unsigned ZUB_TOA_EXT = 18;
// Smallest whole message: sock_data_t head and the 18-byte report head.
constexpr unsigned ZUB_TOA_MIN_MSG = ZUB_SOCK_DATA_HEAD + ZUB_TOA_EXT;
// Extension of 0x32: logNum32 u32, diagnostics u8[66].
constexpr unsigned ZUB_TOA_DIAG_OFFSET = 4;
constexpr unsigned ZUB_TOA_FULL_EXT = 70;
// Extension of 0x33: dataIMU u8[30], logNum32 u32, diagnostics u8[66].
constexpr unsigned ZUB_IMU_DATA_LEN = 30;
constexpr unsigned ZUB_IMU_DIAG_OFFSET = 34;
constexpr unsigned ZUB_IMU_FULL_EXT = 100;

// report_tof_v4_t (0x83): offsets inside the payload.
constexpr unsigned ZUB_TOF_SEQ = 1;
constexpr unsigned ZUB_TOF_SHORT_ID = 4;
constexpr unsigned ZUB_TOF_DISTANCE = 6;
constexpr unsigned ZUB_TOF_ALARM_STATUS = 10;
constexpr unsigned ZUB_TOF_ALARM = 11;
constexpr unsigned ZUB_TOF_MIN_MSG = 18;

// Metres to the records' millimetres: x 1000 truncated toward zero; beyond the 32-bit
// range the nearest bound. A non-finite value is the caller's failure and must not get here.
int32_t zub_metres_to_mm(double metres);
